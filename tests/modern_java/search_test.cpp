// The search methods for the runtimes of today, end to end: registry layouts as the installers write
// them (both views, both hives), unzipped runtimes through JAVA_HOME or beside the executable, the
// machine-type check, the version limits, the shipped order, and the builder's find-java command.
#include "fixture.h"

#include <functional>

namespace {

struct View {
    HKEY Root;
    REGSAM Flag;
};
const View Hklm64 = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
const View Hklm32 = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
const View Hkcu = {HKEY_CURRENT_USER, 0};

// Every key the new methods read, cleared between cases in every hive and view.
const char* const SearchedKeys[] = {
    "Software\\JavaSoft\\JDK",          "Software\\JavaSoft\\JRE",
    "Software\\JavaSoft\\Java Development Kit", "Software\\JavaSoft\\Java Runtime Environment",
    "Software\\Eclipse Adoptium",       "Software\\Eclipse Foundation",
    "Software\\AdoptOpenJDK",           "Software\\Semeru",
    "Software\\Microsoft\\JDK",         "Software\\SapMachine",
    "Software\\IBM\\Java2 Runtime Environment", "Software\\IBM\\Java Development Kit",
};

void ClearSearchedKeys()
{
    for (const View& view : {Hklm64, Hklm32, Hkcu})
        for (const char* key : SearchedKeys) {
            HKEY parent;
            std::string path = key;
            size_t slash = path.rfind('\\');
            if (RegOpenKeyExA(view.Root, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view.Flag, &parent) == 0) {
                RegDeleteTreeA(parent, path.substr(slash + 1).c_str());
                RegCloseKey(parent);
            }
        }
}

void SetText(const View& view, const std::string& key, const char* name, const std::string& value)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(view.Root, key.c_str(), 0, NULL, 0, KEY_WRITE | view.Flag, NULL, &handle, NULL), 0)
        << key;
    ASSERT_EQ(RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1), 0);
    RegCloseKey(handle);
}

void SetFlag(const View& view, const std::string& key, const char* name)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(view.Root, key.c_str(), 0, NULL, 0, KEY_WRITE | view.Flag, NULL, &handle, NULL), 0);
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExA(handle, name, 0, REG_DWORD, (const BYTE*)&one, sizeof(one)), 0);
    RegCloseKey(handle);
}

std::string X86DoubleJvmPath()
{
    return WindowsPath(KESTRUN_X86_JVM_DOUBLE_PATH);
}

const char* const NoJre = "Unable to locate suitable Java Runtime Environment on this machine.";

class ModernSearch : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        Script("out ran");
        keys_["JvmPath"] = "";
        keys_["JvmOptions"] = "-Dhome=%JAVA_HOME%";
        SetEnvironmentVariableA("JAVA_HOME", NULL);
        ASSERT_TRUE(PathExists(X86DoubleJvmPath())) << "the i686 test double is built by the x86 build";
    }
    // A runtime folder: jvm.dll (the double of the given bitness) at relative, and a release file
    // saying version unless it is empty. Returns the home.
    std::string MakeRuntime(const std::string& name, const std::string& version,
                            const std::string& relative = "bin\\server\\jvm.dll", bool x86 = false)
    {
        std::string home = folder_ + "\\" + name;
        EXPECT_TRUE(WriteTextFile(home + "\\" + relative, "")) << home;
        EXPECT_TRUE(CopyFileA((x86 ? X86DoubleJvmPath() : DoubleJvmPath()).c_str(), (home + "\\" + relative).c_str(),
                              FALSE));
        if (!version.empty()) {
            EXPECT_TRUE(WriteTextFile(home + "\\release", "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + version +
                                                              "\"\nJAVA_VERSION_DATE=\"2024-01-16\"\n"));
        }
        return home;
    }
    // The home the launcher ran with, "" when it reported that no runtime was found.
    std::string HomeFound(const LauncherKeys& changes, const std::string& exe = "app.exe")
    {
        LauncherRun run = Run(Build(changes, exe));
        if (run.Reports.size() == 1 && run.Reports[0].Text == NoJre) {
            EXPECT_EQ(run.ExitCode, ExitFailure);
            return "";
        }
        ExpectNoReports(run);
        EXPECT_EQ(run.ExitCode, 0u);
        std::vector<std::string> options = Options();
        return options.empty() ? "(no JVM)" : options[0].substr(std::string("-Dhome=").size());
    }
};

struct LayoutCase {
    std::string Name;
    std::function<std::string()> Setup; // writes keys and folders; the home expected, "" for none found
    LauncherKeys Keys;
};

TEST_F(ModernSearch, RegistryLayoutsAsInstallersWriteThem)
{
    keys_["JreSearchOrder"] = "JV";
    std::vector<LayoutCase> cases = {
        {"Oracle 9+ JDK key, CurrentVersion naming an older one",
         [&] {
             SetText(Hklm64, "Software\\JavaSoft\\JDK", "CurrentVersion", "11");
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\11", "JavaHome", MakeRuntime("jdk11", "11.0.2"));
             std::string home = MakeRuntime("jdk17", "17.0.9");
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\17", "JavaHome", home);
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\17.0.9", "JavaHome", home);
             return home;
         }, {}},
        {"9+ JRE key through RuntimeLib",
         [&] {
             std::string home = MakeRuntime("jre10", "10.0.2", "bin\\client\\jvm.dll");
             SetText(Hklm64, "Software\\JavaSoft\\JRE\\10.0.2", "JavaHome", home);
             SetText(Hklm64, "Software\\JavaSoft\\JRE\\10.0.2", "RuntimeLib", home + "\\bin\\client\\jvm.dll");
             return home;
         }, {}},
        {"Temurin 8 JavaSoft key named by its MSI version, jvm.dll below jre",
         [&] {
             std::string home = MakeRuntime("jdk-8.0.392.8-hotspot", "", "jre\\bin\\server\\jvm.dll");
             SetText(Hklm64, "Software\\JavaSoft\\Java Development Kit\\8.0.392.8", "JavaHome", home);
             return home;
         }, {}},
        {"Red Hat 8: JavaHome ends in jre\\, RuntimeLib below it",
         [&] {
             std::string home = MakeRuntime("rh8\\jre", "", "bin\\server\\jvm.dll");
             SetText(Hklm64, "Software\\JavaSoft\\Java Runtime Environment\\1.8", "JavaHome", home + "\\");
             SetText(Hklm64, "Software\\JavaSoft\\Java Runtime Environment\\1.8", "RuntimeLib",
                     home + "\\bin\\server\\jvm.dll");
             return home;
         }, {}},
        {"Eclipse Adoptium MSI Path with its trailing backslash",
         [&] {
             std::string home = MakeRuntime("jdk-21.0.1.12-hotspot", "21.0.1");
             std::string key = "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI";
             SetText(Hklm64, key, "Path", home + "\\");
             SetFlag(Hklm64, key, "JavaHome"); // a flag, not a path, in these keys
             SetFlag(Hklm64, key, "Main");
             return home;
         }, {}},
        {"Eclipse Foundation JRE and AdoptOpenJDK OpenJ9 (j9vm), newest wins",
         [&] {
             SetText(Hklm64, "Software\\Eclipse Foundation\\JRE\\11.0.12.7\\hotspot\\MSI", "Path",
                     MakeRuntime("jre-11.0.12.7-hotspot", "11.0.12") + "\\");
             std::string home = MakeRuntime("jdk-16.0.2.7-openj9", "16.0.2", "bin\\j9vm\\jvm.dll");
             SetText(Hklm64, "Software\\AdoptOpenJDK\\JDK\\16.0.2.7\\openj9\\MSI", "Path", home + "\\");
             return home;
         }, {}},
        {"Semeru and Microsoft: Microsoft's 17 is newer",
         [&] {
             SetText(Hklm64, "Software\\Semeru\\JDK\\11.0.20.8\\openj9\\MSI", "Path",
                     MakeRuntime("jdk-11.0.20.8-openj9", "11.0.20") + "\\");
             std::string home = MakeRuntime("ms-jdk-17.0.9.8-hotspot", "17.0.9");
             SetText(Hklm64, "Software\\Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI", "Path", home + "\\");
             return home;
         }, {}},
        {"SapMachine key named by its padded version, no release file",
         [&] {
             std::string home = MakeRuntime("sapmachine11", "");
             SetText(Hklm64, "Software\\SapMachine\\JDK\\11.0.9.256", "JavaHome", home);
             SetText(Hklm64, "Software\\SapMachine\\JDK\\11.0.9.256", "RuntimeLib", home + "\\bin\\server\\jvm.dll");
             return home;
         }, {{"JavaVersion", "0x000B0000"}}},
        {"per-user Adoptium install under HKCU",
         [&] {
             std::string home = MakeRuntime("user-jdk-17.0.8.7-hotspot", "17.0.8");
             SetText(Hkcu, "Software\\Eclipse Adoptium\\JDK\\17.0.8.7\\hotspot\\MSI", "Path", home + "\\");
             return home;
         }, {}},
        {"a key whose folder was removed is passed over",
         [&] {
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\22", "JavaHome", folder_ + "\\uninstalled");
             std::string home = MakeRuntime("jdk-17b", "17.0.1");
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\17.0.1", "JavaHome", home);
             return home;
         }, {}},
        {"the release file's version wins over the key name",
         [&] {
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\17", "JavaHome", MakeRuntime("really11", "11.0.2"));
             return std::string();
         }, {{"JavaVersion", "0x00110000"}}},
        {"methods J and V are separate characters",
         [&] {
             SetText(Hklm64, "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI", "Path",
                     MakeRuntime("only-vendor", "21.0.1"));
             return std::string();
         }, {{"JreSearchOrder", "J"}}},
    };
    int index = 0;
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClearSearchedKeys();
        std::string expected = c.Setup();
        EXPECT_EQ(HomeFound(c.Keys, "layout" + std::to_string(index++) + ".exe"), expected);
    }
    ClearSearchedKeys();
}

TEST_F(ModernSearch, WrongBitnessRuntimesArePassedOver)
{
    keys_["JreSearchOrder"] = "EJV";
    std::vector<LayoutCase> cases = {
        {"a newer 32-bit runtime in the 32-bit view, an older 64-bit one in the 64-bit view",
         [&] {
             std::string key = "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI";
             SetText(Hklm32, key, "Path", MakeRuntime("x86-jdk-21", "21.0.1", "bin\\server\\jvm.dll", true) + "\\");
             std::string home = MakeRuntime("x64-jdk-17", "17.0.9");
             SetText(Hklm64, "Software\\Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", home + "\\");
             return home;
         }, {}},
        {"only a 32-bit runtime: not found, no attempt to load it",
         [&] {
             SetText(Hklm32, "Software\\JavaSoft\\JDK\\17", "JavaHome",
                     MakeRuntime("x86-only", "17.0.9", "bin\\client\\jvm.dll", true));
             return std::string();
         }, {}},
        {"a 32-bit server VM beside a 64-bit client VM in one home: the client VM",
         [&] {
             std::string home = MakeRuntime("mixed", "11.0.2", "bin\\server\\jvm.dll", true);
             MakeRuntime("mixed", "", "bin\\client\\jvm.dll");
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\11", "JavaHome", home);
             return home;
         }, {}},
        {"JAVA_HOME names a 32-bit runtime: the search goes on to the registry",
         [&] {
             SetEnvironmentVariableA("JAVA_HOME", MakeRuntime("x86-home", "17.0.9", "bin\\server\\jvm.dll", true).c_str());
             std::string home = MakeRuntime("registered", "11.0.2");
             SetText(Hklm64, "Software\\JavaSoft\\JDK\\11.0.2", "JavaHome", home);
             return home;
         }, {}},
    };
    int index = 0;
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClearSearchedKeys();
        SetEnvironmentVariableA("JAVA_HOME", NULL);
        std::string expected = c.Setup();
        EXPECT_EQ(HomeFound(c.Keys, "bitness" + std::to_string(index++) + ".exe"), expected);
    }
    ClearSearchedKeys();
}

TEST_F(ModernSearch, UnzippedRuntimesThroughJavaHomeOrBesideTheExecutable)
{
    keys_["JreSearchOrder"] = "BE";
    std::string zipped = MakeRuntime("jdk-21.0.2+13", "");
    SetEnvironmentVariableA("JAVA_HOME", (zipped + "\\").c_str());
    EXPECT_EQ(HomeFound({}), zipped) << "JAVA_HOME with a trailing backslash, version from the folder name";

    std::string bundled = MakeRuntime("runtime", "17.0.9");
    EXPECT_EQ(HomeFound({{"BundledRuntime", "runtime"}}), bundled) << "the bundled runtime comes first";
    EXPECT_EQ(HomeFound({{"BundledRuntime", "jre"}}), zipped) << "a missing bundled folder is passed over";
    EXPECT_EQ(HomeFound({{"BundledRuntime", "runtime"}, {"JreSearchOrder", "EB"}}), zipped);

    SetEnvironmentVariableA("JAVA_HOME", (folder_ + "\\nothing-here").c_str());
    EXPECT_EQ(HomeFound({}), "") << "JAVA_HOME naming no runtime, no bundled runtime";
    MakeRuntime("noversion", "");
    SetEnvironmentVariableA("JAVA_HOME", (folder_ + "\\noversion").c_str());
    EXPECT_EQ(HomeFound({}), "") << "no release file and no version in the folder's name";
}

TEST_F(ModernSearch, MinimumAndMaximumVersions)
{
    keys_["JreSearchOrder"] = "E";
    struct LimitCase {
        const char* Version;
        const char* Minimum;
        const char* Maximum;
        bool Taken;
    };
    const LimitCase cases[] = {
        {"1.8.0_392", "0x00010008", "", true},    {"1.8.0_392", "0x00010009", "", false},
        {"17.0.9", "0x00110000", "", true},       {"11.0.2", "0x00110000", "", false},
        {"21.0.1", "0x00010008", "17", false},    {"17.0.9", "0x00010008", "17", true},
        {"17.0.9", "0x00010008", "17.0.5", false}, {"11.0.9.1", "0x000B0000", "11.0.9", true},
        {"9", "0x00010004", "1.8", false},        {"1.8.0_392", "0x00010004", "1.8", true},
    };
    int index = 0;
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(std::string(c.Version) + " min " + c.Minimum + " max " + c.Maximum);
        std::string home = MakeRuntime("limit" + std::to_string(index), c.Version);
        SetEnvironmentVariableA("JAVA_HOME", home.c_str());
        std::string found = HomeFound({{"JavaVersion", c.Minimum}, {"JavaMaxVersion", c.Maximum}},
                                      "limit" + std::to_string(index++) + ".exe");
        EXPECT_EQ(found, c.Taken ? home : "");
    }
}

TEST_F(ModernSearch, ShippedOrderBehavesAsBeforeAndDefaultsAreModern)
{
    ClearSearchedKeys();
    std::string modern = MakeRuntime("jdk-17", "17.0.9");
    SetText(Hklm64, "Software\\JavaSoft\\JDK\\17", "JavaHome", modern);
    SetEnvironmentVariableA("JAVA_HOME", modern.c_str());
    EXPECT_EQ(HomeFound({{"JreSearchOrder", "01234"}}), "") << "the old methods know neither key nor variable";

    SetEnvironmentVariableA("JAVA_HOME", NULL);
    keys_.erase("JreSearchOrder");
    EXPECT_EQ(HomeFound({}, "defaults.exe"), modern) << "the builder's default order finds it";

    // An old key naming a 32-bit runtime: methods 0 to 4 still try to load it, as they always did.
    std::string old = MakeRuntime("x86-jre6", "", "bin\\client\\jvm.dll", true);
    SetText(Hklm64, "Software\\JavaSoft\\Java Runtime Environment\\1.6", "JavaHome", old);
    SetText(Hklm64, "Software\\JavaSoft\\Java Runtime Environment\\1.6", "RuntimeLib", old + "\\bin\\client\\jvm.dll");
    LauncherRun run = Run(Build({{"JreSearchOrder", "01234"}}, "shipped.exe"));
    ExpectOneError(run, "Unable to load JVM: " + old + "\\bin\\client\\jvm.dll");
    EXPECT_EQ(HomeFound({{"JreSearchOrder", "J1"}}, "modern-first.exe"), modern);
    ClearSearchedKeys();
}

// Runs the builder with arguments; its exit code, with what it printed in *output.
DWORD RunBuilderCommand(const std::string& folder, const std::string& arguments, std::string* output)
{
    // A file of its own for every run: the last run's file may not be closed yet.
    static int runs = 0;
    std::string outputPath = folder + "\\builder-output" + std::to_string(++runs) + ".txt";
    long code = RunConsoleProgram("\"" + BuilderPath() + "\" " + arguments, outputPath);
    *output = ReadTextFile(outputPath);
    return (DWORD)code;
}

// The lines of text that contain every one of parts.
int CountLines(const std::string& text, std::initializer_list<std::string> parts)
{
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        count += all ? 1 : 0;
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return count;
}

TEST_F(ModernSearch, FindJavaReportsEveryCandidateAndWhy)
{
    ClearSearchedKeys();
    std::string x86 = MakeRuntime("x86-jdk", "21.0.1", "bin\\server\\jvm.dll", true);
    SetText(Hklm32, "Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI", "Path", x86 + "\\");
    std::string old = MakeRuntime("jdk11", "11.0.2");
    SetText(Hklm64, "Software\\JavaSoft\\JDK\\11", "JavaHome", old);
    std::string newest = MakeRuntime("jdk17", "17.0.9");
    SetText(Hklm64, "Software\\JavaSoft\\JDK\\17", "JavaHome", newest);
    SetText(Hklm64, "Software\\JavaSoft\\JDK\\8", "JavaHome", MakeRuntime("jdk8", "1.8.0_392"));
    std::string exe = Build({{"JreSearchOrder", "1VJ"}, {"JavaVersion", "0x00010009"}}, "find.exe");
    ASSERT_FALSE(exe.empty());

    std::string output;
    EXPECT_EQ(RunBuilderCommand(folder_, "find-java \"" + exe + "\"", &output), 0u) << output;
    SCOPED_TRACE(output);
    EXPECT_EQ(CountLines(output, {";   V: vendor keys"}), 1);
    EXPECT_EQ(CountLines(output, {"[V] HKLM32\\Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI"}), 1);
    EXPECT_EQ(CountLines(output, {"jvm.dll is x86, the launcher x64"}), 1);
    EXPECT_EQ(CountLines(output, {"older than the minimum (JavaVersion)"}), 1) << "the 1.8 runtime";
    EXPECT_EQ(CountLines(output, {"version 1.8.0_392"}), 1);
    EXPECT_EQ(CountLines(output, {"[J] HKLM64\\Software\\JavaSoft\\JDK\\17"}), 2) << "considered, then taken";
    EXPECT_EQ(CountLines(output, {"    taken"}), 1);
    EXPECT_EQ(CountLines(output, {"found: " + newest + "\\bin\\server\\jvm.dll"}), 1);
    EXPECT_EQ(CountLines(output, {"JAVA_HOME of the options: " + newest}), 1);

    ClearSearchedKeys();
    EXPECT_EQ(RunBuilderCommand(folder_, "find-java \"" + exe + "\"", &output), 1u) << output;
    EXPECT_EQ(CountLines(output, {"not found: Unable to locate suitable Java Runtime Environment"}), 1) << output;
}

} // namespace
