// The runtime search, end to end: registry keys as the installers write them (both views, both hives),
// JAVA_HOME and the runtime shipped beside the executable, the version limits, the machine type, and
// values a launcher must pass over. The JVM refuses an option, so the launcher names the jvm.dll it chose.
#include "e2e.h"

#include <functional>

namespace {

struct View {
    HKEY Root;
    REGSAM Flag;
};
const View Hklm = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
const View Hklm32 = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
const View Hkcu = {HKEY_CURRENT_USER, 0};

const char* const Jre = "Software\\JavaSoft\\Java Runtime Environment\\";
const char* const Jdk = "Software\\JavaSoft\\Java Development Kit\\";
const char* const Jdk9 = "Software\\JavaSoft\\JDK\\";
const char* const NoJre = "Unable to locate suitable Java Runtime Environment on this machine.";
const std::string Flag("\1\0\0\0", 4);

// Every key a search method reads, under the parent that holds it.
const char* const SearchedKeys[][2] = {
    {"Software\\JavaSoft", "Java Runtime Environment"}, {"Software\\JavaSoft", "Java Development Kit"},
    {"Software\\JavaSoft", "JDK"},       {"Software\\JavaSoft", "JRE"},
    {"Software", "Eclipse Adoptium"},    {"Software", "IBM"},
};

void ClearSearchedKeys()
{
    for (const View& view : {Hklm, Hklm32, Hkcu})
        for (const auto& key : SearchedKeys) {
            HKEY parent;
            if (RegOpenKeyExA(view.Root, key[0], 0, KEY_ALL_ACCESS | view.Flag, &parent) == ERROR_SUCCESS) {
                RegDeleteTreeA(parent, key[1]);
                RegCloseKey(parent);
            }
        }
}

// Stores a value; a REG_SZ text is stored with its terminator.
void Set(const View& view, const std::string& key, const char* name, const std::string& value, DWORD type = REG_SZ)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(view.Root, key.c_str(), 0, NULL, 0, KEY_WRITE | view.Flag, NULL, &handle, NULL), 0) << key;
    DWORD size = (DWORD)value.size() + (type == REG_SZ ? 1 : 0);
    EXPECT_EQ(RegSetValueExA(handle, name, 0, type, (const BYTE*)value.c_str(), size), 0) << key << " " << name;
    RegCloseKey(handle);
}

std::string Chosen(const std::string& jvm) { return "chose " + jvm; }

class SearchE2eTest : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        keys_["JvmPath"] = "";
        keys_["JvmOptions"] = "--refused";
        ASSERT_TRUE(PathExists(x86Double_)) << "the i686 double comes from the x86 build";
    }
    // A runtime home below the folder: the double (x64 or i686) at jvm, a release file when version is given.
    std::string Home(const std::string& name, const std::string& version, const std::string& jvm = "bin\\server",
                     bool x86 = false)
    {
        std::string home = folder_ + "\\" + name;
        std::string dll = home + "\\" + jvm + "\\jvm.dll";
        EXPECT_TRUE(WriteFile(dll, "") && CopyFileA((x86 ? x86Double_ : DoubleJvmPath()).c_str(), dll.c_str(), FALSE));
        EXPECT_TRUE(version.empty() || WriteFile(home + "\\release", "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + version + "\"\n"));
        return home;
    }
    // An old-style runtime key holding JavaHome and RuntimeLib; the jvm.dll path.
    std::string Registered(const std::string& key, const std::string& name)
    {
        std::string home = Home(name, "", "bin");
        Set(Hklm, key, "JavaHome", home);
        Set(Hklm, key, "RuntimeLib", home + "\\bin\\jvm.dll");
        return home + "\\bin\\jvm.dll";
    }
    const std::string x86Double_ = WindowsPath(KESTRUN_X86_JVM_DOUBLE_PATH);
};

struct SearchRow {
    const char* Name;
    LauncherKeys Keys;
    std::function<std::string()> Setup;  // writes keys, variables and folders; returns the report expected
};

TEST_F(SearchE2eTest, TheFirstMethodThatFindsAnAcceptableRuntimeWins)
{
    const std::string F = folder_;
    const std::string longHome = "C:\\" + std::string(300, 'h');
    const std::vector<SearchRow> rows = {
        {"0: the first JvmPath entry that exists", {{"JreSearchOrder", "0"}, {"JvmPath", "absent.dll;rt\\bin\\jvm.dll;" + DoubleJvmPath()}},
         [&] { Home("rt", "", "bin"); return Chosen("rt\\bin\\jvm.dll"); }},
        {"01: JvmPath before the registry", {{"JreSearchOrder", "01"}, {"JvmPath", DoubleJvmPath()}},
         [&] { Registered(std::string(Jre) + "1.6", "rt16"); return Chosen(DoubleJvmPath()); }},
        {"10: the registry before JvmPath", {{"JreSearchOrder", "10"}, {"JvmPath", DoubleJvmPath()}},
         [&] { return Chosen(Registered(std::string(Jre) + "1.6", "rt16")); }},
        {"1: CurrentVersion before the subkeys", {{"JreSearchOrder", "1"}},
         [&] {
             Registered(std::string(Jre) + "1.10", "rt110");
             Set(Hklm, Jre, "CurrentVersion", "1.4");
             return Chosen(Registered(std::string(Jre) + "1.4", "rt14"));
         }},
        {"1: below the minimum passed over, then the first in key order, not the newest", {{"JreSearchOrder", "1"}},
         [&] {
             Registered(std::string(Jre) + "1.3.1", "rt131");
             std::string first = Registered(std::string(Jre) + "1.4.2", "rt142");
             Registered(std::string(Jre) + "1.5.0", "rt150");
             return Chosen(first);
         }},
        {"1: wrong types, over-long values and a missing jvm.dll passed over", {{"JreSearchOrder", "1"}},
         [&] {
             Set(Hklm, std::string(Jre) + "1.5", "JavaHome", Flag, REG_DWORD);
             Set(Hklm, std::string(Jre) + "1.5", "RuntimeLib", std::string(300, '\x7F'), REG_BINARY);
             Set(Hklm, std::string(Jre) + "1.6", "JavaHome", longHome);
             Set(Hklm, std::string(Jre) + "1.6", "RuntimeLib", longHome + "\\bin\\jvm.dll");
             Set(Hklm, std::string(Jre) + "1.7", "RuntimeLib", F + "\\uninstalled\\bin\\jvm.dll");
             return Chosen(Registered(std::string(Jre) + "1.8", "rt18"));
         }},
        {"23: a kit's client VM, else its server VM below jre", {{"JreSearchOrder", "23"}},
         [&] {
             Set(Hklm, std::string(Jdk) + "1.6", "JavaHome", Home("kit", "", "jre\\bin\\server"));
             return Chosen(F + "\\kit\\jre\\bin\\server\\jvm.dll");
         }},
        {"1: the old methods load a 32-bit runtime and fail", {{"JreSearchOrder", "1"}},
         [&] {
             std::string home = Home("x86-jre6", "", "bin\\client", true);
             Set(Hklm, std::string(Jre) + "1.6", "RuntimeLib", home + "\\bin\\client\\jvm.dll");
             return "Unable to load JVM: " + home + "\\bin\\client\\jvm.dll";
         }},
        {"01234: the old methods know neither JDK 9+ keys nor JAVA_HOME", {{"JreSearchOrder", "01234"}},
         [&] {
             Set(Hklm, std::string(Jdk9) + "17", "JavaHome", Home("jdk17", "17.0.9"));
             SetEnvironmentVariableA("JAVA_HOME", (F + "\\jdk17").c_str());
             return NoJre;
         }},
        {"J: JDK 9+ keys, the newest wins whatever CurrentVersion says", {{"JreSearchOrder", "J"}},
         [&] {
             Set(Hklm, Jdk9, "CurrentVersion", "11");
             Set(Hklm, std::string(Jdk9) + "11", "JavaHome", Home("jdk11", "11.0.2"));
             Set(Hklm, std::string(Jdk9) + "17", "JavaHome", Home("jdk17", "17.0.9"));
             return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
         }},
        {"J: a JRE 10 key through RuntimeLib", {{"JreSearchOrder", "J"}},
         [&] {
             std::string home = Home("jre10", "10.0.2", "bin\\client");
             Set(Hklm, "Software\\JavaSoft\\JRE\\10.0.2", "JavaHome", home);
             Set(Hklm, "Software\\JavaSoft\\JRE\\10.0.2", "RuntimeLib", home + "\\bin\\client\\jvm.dll");
             return Chosen(home + "\\bin\\client\\jvm.dll");
         }},
        {"J: an old JRE key with JavaHome ending in a backslash", {{"JreSearchOrder", "J"}},
         [&] {
             Set(Hklm, std::string(Jre) + "1.8", "JavaHome", Home("rh8\\jre", "") + "\\");
             return Chosen(F + "\\rh8\\jre\\bin\\server\\jvm.dll");
         }},
        {"J: wrong types, over-long and removed homes passed over", {{"JreSearchOrder", "J"}},
         [&] {
             Set(Hklm, std::string(Jdk9) + "21", "JavaHome", Flag, REG_DWORD);
             Set(Hklm, std::string(Jdk9) + "22", "JavaHome", longHome);
             Set(Hklm, std::string(Jdk9) + "23", "JavaHome", F + "\\uninstalled");
             Set(Hklm, std::string(Jdk9) + "17", "JavaHome", Home("jdk17", "17.0.9"));
             return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
         }},
        {"V: an Adoptium MSI Path with its backslash, JavaHome a flag", {{"JreSearchOrder", "V"}},
         [&] {
             std::string key = "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI";
             Set(Hklm, key, "Path", Home("jdk-21.0.1.12-hotspot", "21.0.1") + "\\");
             Set(Hklm, key, "JavaHome", Flag, REG_DWORD);
             return Chosen(F + "\\jdk-21.0.1.12-hotspot\\bin\\server\\jvm.dll");
         }},
        {"V: a per-user install under HKCU", {{"JreSearchOrder", "V"}},
         [&] {
             Set(Hkcu, "Software\\Eclipse Adoptium\\JRE\\17.0.8.7\\openj9\\MSI", "Path", Home("user17", "", "bin\\j9vm"));
             return Chosen(F + "\\user17\\bin\\j9vm\\jvm.dll");
         }},
        {"EJV: 32-bit runtimes in JAVA_HOME and the 32-bit view passed over", {{"JreSearchOrder", "EJV"}},
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", Home("x86-home", "21.0.1", "bin\\server", true).c_str());
             Set(Hklm32, std::string(Jdk9) + "21", "JavaHome", Home("x86-21", "21.0.1", "bin\\server", true));
             Set(Hklm, std::string(Jdk9) + "11", "JavaHome", Home("mixed", "11.0.2", "bin\\server", true));
             Home("mixed", "", "bin\\client");
             return Chosen(F + "\\mixed\\bin\\client\\jvm.dll");
         }},
        {"E: JAVA_HOME with a backslash, the version from the folder's name", {{"JreSearchOrder", "E"}},
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", (Home("jdk-21.0.2+13", "") + "\\").c_str());
             return Chosen(F + "\\jdk-21.0.2+13\\bin\\server\\jvm.dll");
         }},
        {"BE: the bundled runtime before JAVA_HOME", {{"JreSearchOrder", "BE"}, {"BundledRuntime", "runtime"}},
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", Home("jdk17", "17.0.9").c_str());
             return Chosen(Home("runtime", "11.0.2") + "\\bin\\server\\jvm.dll");
         }},
        {"EB: JAVA_HOME before the bundled runtime", {{"JreSearchOrder", "EB"}, {"BundledRuntime", "runtime"}},
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", Home("jdk17", "17.0.9").c_str());
             Home("runtime", "11.0.2");
             return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
         }},
        {"E: below the minimum JavaVersion", {{"JreSearchOrder", "E"}, {"JavaVersion", "0x00110000"}},
         [&] { SetEnvironmentVariableA("JAVA_HOME", Home("jdk11", "11.0.2").c_str()); return NoJre; }},
        {"E: at the minimum JavaVersion", {{"JreSearchOrder", "E"}, {"JavaVersion", "0x00010008"}},
         [&] { SetEnvironmentVariableA("JAVA_HOME", Home("jdk8", "1.8.0_392").c_str()); return Chosen(F + "\\jdk8\\bin\\server\\jvm.dll"); }},
        {"E: above JavaMaxVersion 17", {{"JreSearchOrder", "E"}, {"JavaMaxVersion", "17"}},
         [&] { SetEnvironmentVariableA("JAVA_HOME", Home("jdk21", "21.0.1").c_str()); return NoJre; }},
        {"E: within JavaMaxVersion 17", {{"JreSearchOrder", "E"}, {"JavaMaxVersion", "17"}},
         [&] { SetEnvironmentVariableA("JAVA_HOME", Home("jdk17", "17.0.9").c_str()); return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll"); }},
        {"EJV: nothing anywhere", {{"JreSearchOrder", "EJV"}}, [&] { return NoJre; }},
    };
    int index = 0;
    for (const SearchRow& row : rows) {
        SCOPED_TRACE(row.Name);
        ClearSearchedKeys();
        SetEnvironmentVariableA("JAVA_HOME", NULL);
        RemoveTree(folder_);
        std::string expected = row.Setup();
        LauncherRun run = Run(Build(row.Keys, "search" + std::to_string(index++) + ".exe", "[messages]\n1632 = chose %s\n"));
        ExpectOneError(run, expected);
        EXPECT_EQ(run.ExitCode, ExitFailure);
    }
    ClearSearchedKeys();
    SetEnvironmentVariableA("JAVA_HOME", NULL);
}

} // namespace
