// The runtime search, end to end: registry keys as the installers write them (both views, both hives),
// JAVA_HOME and the runtime shipped beside the executable, the version limits, the machine type, and
// values a launcher must pass over. The JVM refuses an option, so the launcher names the jvm.dll it chose.
#include "e2e.h"

#include <functional>

namespace {

const std::string Jre = "Software\\JavaSoft\\Java Runtime Environment\\";
const std::string Jdk = "Software\\JavaSoft\\Java Development Kit\\";
const std::string Jdk9 = "Software\\JavaSoft\\JDK\\";
const std::string Flag("\1\0\0\0", 4);

// Removes JAVA_HOME and, in every view, the keys below Software that a search method reads.
void ClearSearchedPlaces()
{
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    const std::pair<HKEY, REGSAM> views[] = {
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_CURRENT_USER, 0}};
    for (const auto& [root, view] : views) {
        HKEY software;
        ASSERT_EQ(RegOpenKeyExA(root, "Software", 0, KEY_ALL_ACCESS | view, &software), 0);
        for (const char* key : {"JavaSoft", "Eclipse Adoptium", "IBM"})
            RegDeleteTreeA(software, key);
        RegCloseKey(software);
    }
}

// Stores a value (a REG_SZ text with its terminator), in the 64-bit view of HKEY_LOCAL_MACHINE unless told.
void Set(const std::string& key, const char* name, const std::string& value, DWORD type = REG_SZ,
         HKEY root = HKEY_LOCAL_MACHINE, REGSAM view = KEY_WOW64_64KEY)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_WRITE | view, NULL, &handle, NULL), 0);
    DWORD size = (DWORD)value.size() + (type == REG_SZ ? 1 : 0);
    EXPECT_EQ(RegSetValueExA(handle, name, 0, type, (const BYTE*)value.c_str(), size), 0) << key << " " << name;
    RegCloseKey(handle);
}

void SetJavaHome(const std::string& home) { SetEnvironmentVariableA("JAVA_HOME", home.c_str()); }
std::string Chosen(const std::string& jvm) { return "chose " + jvm; }

class SearchE2eTest : public E2eTest {
protected:
    // Home "rt" with a jvm.dll that needs krdep.dll, which lies in the runtime's bin folder (above jvm's).
    std::string DepHome(const std::string& version, const std::string& jvm, bool dep = true)
    {
        std::string home = Home("rt", version, jvm, WindowsPath(KESTRUN_DEP_JVM_PATH));
        std::string bin = home + "\\" + jvm.substr(0, jvm.rfind('\\')) + "\\krdep.dll";
        EXPECT_TRUE(!dep || CopyFileA(WindowsPath(KESTRUN_RUNTIME_DEP_PATH).c_str(), bin.c_str(), FALSE));
        return home;
    }
    // An old-style runtime key holding JavaHome and RuntimeLib; the jvm.dll path.
    std::string Registered(const std::string& key, const std::string& name)
    {
        std::string home = Home(name, "", "bin");
        Set(key, "JavaHome", home);
        Set(key, "RuntimeLib", home + "\\bin\\jvm.dll");
        return home + "\\bin\\jvm.dll";
    }
    const std::string x86Double_ = WindowsPath(KESTRUN_X86_JVM_DOUBLE_PATH);
};

TEST_F(SearchE2eTest, TheFirstMethodThatFindsAnAcceptableRuntimeWins)
{
    ASSERT_TRUE(PathExists(x86Double_)) << "the i686 double comes from the x86 build";
    keys_["JvmPath"] = "";
    keys_["JvmOptions"] = "--refused";
    const std::string F = folder_;
    const std::string longHome = "C:\\" + std::string(300, 'h');
    const std::string J9 = "bin\\server", J8 = "jre\\bin\\server";
    auto RtJvm = [&](const std::string& jvm) { return F + "\\rt\\" + jvm + "\\jvm.dll"; };
    // Setup writes keys, variables and folders, and returns the report expected.
    const struct { const char* Name; LauncherKeys Keys; std::function<std::string()> Setup; } rows[] = {
        {"0: the first JvmPath entry that exists",
         {{"JreSearchOrder", "0"}, {"JvmPath", "absent.dll;rt\\bin\\jvm.dll;" + DoubleJvmPath()}},
         [&] { Home("rt", "", "bin"); return Chosen("rt\\bin\\jvm.dll"); }},
        {"01: JvmPath before the registry", {{"JreSearchOrder", "01"}, {"JvmPath", DoubleJvmPath()}},
         [&] { Registered(Jre + "1.6", "rt16"); return Chosen(DoubleJvmPath()); }},
        {"10: the registry before JvmPath", {{"JreSearchOrder", "10"}, {"JvmPath", DoubleJvmPath()}},
         [&] { return Chosen(Registered(Jre + "1.6", "rt16")); }},
        {"1: CurrentVersion before the subkeys", {{"JreSearchOrder", "1"}}, [&] {
            Registered(Jre + "1.10", "rt110");
            Set(Jre, "CurrentVersion", "1.4");
            return Chosen(Registered(Jre + "1.4", "rt14"));
        }},
        {"1: the first in key order above the minimum, not the newest", {{"JreSearchOrder", "1"}}, [&] {
            Registered(Jre + "1.3.1", "rt131");
            std::string first = Registered(Jre + "1.4.2", "rt142");
            Registered(Jre + "1.5.0", "rt150");
            return Chosen(first);
        }},
        {"1: wrong types, over-long values and a missing jvm.dll passed over", {{"JreSearchOrder", "1"}}, [&] {
            Set(Jre + "1.5", "JavaHome", Flag, REG_DWORD);
            Set(Jre + "1.5", "RuntimeLib", std::string(300, '\x7F'), REG_BINARY);
            Set(Jre + "1.6", "JavaHome", longHome);
            Set(Jre + "1.6", "RuntimeLib", longHome + "\\bin\\jvm.dll");
            Set(Jre + "1.7", "RuntimeLib", F + "\\uninstalled\\bin\\jvm.dll");
            return Chosen(Registered(Jre + "1.8", "rt18"));
        }},
        {"23: a kit's client VM, else its server VM below jre", {{"JreSearchOrder", "23"}}, [&] {
            Set(Jdk + "1.6", "JavaHome", Home("kit", "", "jre\\bin\\server"));
            return Chosen(F + "\\kit\\jre\\bin\\server\\jvm.dll");
        }},
        {"1: the old methods load a 32-bit runtime and fail", {{"JreSearchOrder", "1"}}, [&] {
            std::string home = Home("x86-jre6", "", "bin\\client", x86Double_);
            Set(Jre + "1.6", "RuntimeLib", home + "\\bin\\client\\jvm.dll");
            return "Unable to load JVM: " + home + "\\bin\\client\\jvm.dll";
        }},
        {"01234: the old methods know neither JDK 9+ keys nor JAVA_HOME", {{"JreSearchOrder", "01234"}}, [&] {
            Set(Jdk9 + "17", "JavaHome", Home("jdk17", "17.0.9"));
            SetJavaHome(F + "\\jdk17");
            return NoJre("1.4 or later");
        }},
        {"J: JDK 9+ keys, the newest wins whatever CurrentVersion says", {{"JreSearchOrder", "J"}}, [&] {
            Set(Jdk9, "CurrentVersion", "11");
            Set(Jdk9 + "11", "JavaHome", Home("jdk11", "11.0.2"));
            Set(Jdk9 + "17", "JavaHome", Home("jdk17", "17.0.9"));
            return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
        }},
        {"J: a JRE 10 key through RuntimeLib", {{"JreSearchOrder", "J"}}, [&] {
            std::string home = Home("jre10", "10.0.2", "bin\\client");
            Set("Software\\JavaSoft\\JRE\\10.0.2", "JavaHome", home);
            Set("Software\\JavaSoft\\JRE\\10.0.2", "RuntimeLib", home + "\\bin\\client\\jvm.dll");
            return Chosen(home + "\\bin\\client\\jvm.dll");
        }},
        {"J: an old JRE key with JavaHome ending in a backslash", {{"JreSearchOrder", "J"}}, [&] {
            Set(Jre + "1.8", "JavaHome", Home("rh8\\jre", "") + "\\");
            return Chosen(F + "\\rh8\\jre\\bin\\server\\jvm.dll");
        }},
        {"J: wrong types, over-long and removed homes passed over", {{"JreSearchOrder", "J"}}, [&] {
            Set(Jdk9 + "21", "JavaHome", Flag, REG_DWORD);
            Set(Jdk9 + "22", "JavaHome", longHome);
            Set(Jdk9 + "23", "JavaHome", F + "\\uninstalled");
            Set(Jdk9 + "17", "JavaHome", Home("jdk17", "17.0.9"));
            return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
        }},
        {"V: an Adoptium MSI Path with its backslash, JavaHome a flag", {{"JreSearchOrder", "V"}}, [&] {
            std::string key = "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI";
            Set(key, "Path", Home("jdk-21.0.1.12-hotspot", "21.0.1") + "\\");
            Set(key, "JavaHome", Flag, REG_DWORD);
            return Chosen(F + "\\jdk-21.0.1.12-hotspot\\bin\\server\\jvm.dll");
        }},
        {"V: a per-user install under HKCU", {{"JreSearchOrder", "V"}}, [&] {
            std::string home = Home("user17", "", "bin\\j9vm");
            Set("Software\\Eclipse Adoptium\\JRE\\17.0.8.7\\openj9\\MSI", "Path", home, REG_SZ, HKEY_CURRENT_USER, 0);
            return Chosen(F + "\\user17\\bin\\j9vm\\jvm.dll");
        }},
        {"EJV: 32-bit runtimes in JAVA_HOME and the 32-bit view passed over", {{"JreSearchOrder", "EJV"}}, [&] {
            SetJavaHome(Home("x86-home", "21.0.1", "bin\\server", x86Double_));
            std::string x86 = Home("x86-21", "21.0.1", "bin\\server", x86Double_);
            Set(Jdk9 + "21", "JavaHome", x86, REG_SZ, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
            Set(Jdk9 + "11", "JavaHome", Home("mixed", "11.0.2", "bin\\server", x86Double_));
            Home("mixed", "", "bin\\client");
            return Chosen(F + "\\mixed\\bin\\client\\jvm.dll");
        }},
        {"E: JAVA_HOME with a backslash, the version from the folder's name", {{"JreSearchOrder", "E"}}, [&] {
            SetJavaHome(Home("jdk-21.0.2+13", "") + "\\");
            return Chosen(F + "\\jdk-21.0.2+13\\bin\\server\\jvm.dll");
        }},
        {"BE: the bundled runtime before JAVA_HOME", {{"JreSearchOrder", "BE"}, {"BundledRuntime", "runtime"}}, [&] {
            SetJavaHome(Home("jdk17", "17.0.9"));
            return Chosen(Home("runtime", "11.0.2") + "\\bin\\server\\jvm.dll");
        }},
        {"EB: JAVA_HOME before the bundled runtime", {{"JreSearchOrder", "EB"}, {"BundledRuntime", "runtime"}}, [&] {
            SetJavaHome(Home("jdk17", "17.0.9"));
            Home("runtime", "11.0.2");
            return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll");
        }},
        {"E: below the minimum JavaVersion", {{"JreSearchOrder", "E"}, {"JavaVersion", "17"}},
         [&] { SetJavaHome(Home("jdk11", "11.0.2")); return NoJre("17 or later"); }},
        {"E: at the minimum JavaVersion", {{"JreSearchOrder", "E"}, {"JavaVersion", "0x00010008"}},
         [&] { SetJavaHome(Home("jdk8", "1.8.0_392")); return Chosen(F + "\\jdk8\\bin\\server\\jvm.dll"); }},
        {"E: above JavaMaxVersion 17", {{"JreSearchOrder", "E"}, {"JavaMaxVersion", "17"}},
         [&] { SetJavaHome(Home("jdk21", "21.0.1")); return NoJre("1.4 to 17"); }},
        {"E: within JavaMaxVersion 17", {{"JreSearchOrder", "E"}, {"JavaMaxVersion", "17"}},
         [&] { SetJavaHome(Home("jdk17", "17.0.9")); return Chosen(F + "\\jdk17\\bin\\server\\jvm.dll"); }},
        {"EJV: nothing anywhere", {{"JreSearchOrder", "EJV"}}, [&] { return NoJre("1.4 or later"); }},
        // A jvm.dll needs DLLs of bin (Java 9+, J9) or jre\bin (Java 8, J8), found from its path whatever the method.
        {"0: a runtime's own DLL, Java 9+", {{"JreSearchOrder", "0"}, {"JvmPath", RtJvm(J9)}},
         [&] { DepHome("", J9); return Chosen(RtJvm(J9)); }},
        {"0: without it jvm.dll does not load", {{"JreSearchOrder", "0"}, {"JvmPath", RtJvm(J9)}},
         [&] { DepHome("", J9, false); return "Unable to load JVM: " + RtJvm(J9); }},
        {"B: a runtime's own DLL, Java 8", {{"JreSearchOrder", "B"}, {"BundledRuntime", "rt"}},
         [&] { DepHome("1.8.0_392", J8); return Chosen(RtJvm(J8)); }},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ClearSearchedPlaces();
        RemoveTree(folder_);
        std::string expected = row.Setup();
        std::string exe = Build(row.Keys, "search" + std::to_string(index++) + ".exe", "[messages]\n1632 = chose %s\n");
        LauncherRun run = Run(exe);
        ExpectOneError(run, expected);
        EXPECT_EQ(run.ExitCode, ExitFailure);
    }
    ClearSearchedPlaces();
}

} // namespace
