// The runtime search against runtime keys written into HKEY_LOCAL_MACHINE of the Wine prefix. One
// serial test: every test of the session shares those keys.
#include "fixture.h"

#include <functional>

namespace {

const char* const RuntimeKeys[4] = {
    "Software\\JavaSoft\\Java Runtime Environment", "Software\\IBM\\Java2 Runtime Environment",
    "Software\\JavaSoft\\Java Development Kit", "Software\\IBM\\Java Development Kit"};
const char* const JreKey = RuntimeKeys[0];
const char* const JdkKey = RuntimeKeys[2];

void ClearRuntimeKeys()
{
    for (const char* key : RuntimeKeys)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
}

void SetRegistryText(const std::string& key, const char* name, const std::string& value)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL), 0) << key;
    ASSERT_EQ(RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1), 0);
    RegCloseKey(handle);
}

class RuntimeSearch : public JvmTest {
protected:
    // A runtime folder holding jvm.dll at relative (a copy of the double); returns the folder.
    std::string MakeRuntime(const std::string& name, const std::string& relative = "jvm.dll")
    {
        std::string home = folder_ + "\\" + name;
        std::string path = home + "\\" + relative;
        for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
            CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
        EXPECT_TRUE(CopyFileA(DoubleJvmPath().c_str(), path.c_str(), FALSE)) << path;
        return home;
    }
    // A registered runtime entry: base\version with its home and (when given) RuntimeLib.
    void Register(const char* base, const std::string& version, const std::string& home, const std::string& runtimeLib)
    {
        std::string key = std::string(base) + "\\" + version;
        SetRegistryText(key, "JavaHome", home);
        if (!runtimeLib.empty())
            SetRegistryText(key, "RuntimeLib", runtimeLib);
    }
    // A registered runtime with its own folder; returns its home.
    std::string RegisterRuntime(const char* base, const std::string& version)
    {
        std::string home = MakeRuntime("rt" + version);
        Register(base, version, home, home + "\\jvm.dll");
        return home;
    }
};

struct SearchCase {
    std::string Name;
    std::function<std::string()> Setup; // writes the keys; returns the expected home, or "" for none found
    LauncherKeys Keys;
};

TEST_F(RuntimeSearch, RegistryCasesInOrder)
{
    Script("out ran");
    keys_["JvmPath"] = "";
    keys_["JreSearchOrder"] = "01234";
    keys_["JvmOptions"] = "-Dhome=%JAVA_HOME%";
    const char* ibmJre = RuntimeKeys[1];
    const char* ibmJdk = RuntimeKeys[3];
    auto versionCase = [this](const std::string& name, const char* minimum, bool accepted) {
        return SearchCase{"version " + name + " against " + minimum,
                          [this, name, accepted] {
                              std::string home = RegisterRuntime(JreKey, name);
                              return accepted ? home : "";
                          },
                          {{"JavaVersion", minimum}}};
    };
    std::vector<SearchCase> cases = {
        {"CurrentVersion is tried first",
         [&] {
             RegisterRuntime(JreKey, "1.10");
             SetRegistryText(JreKey, "CurrentVersion", "1.4");
             return RegisterRuntime(JreKey, "1.4");
         }, {}},
        {"too old CurrentVersion, then enumeration",
         [&] {
             SetRegistryText(JreKey, "CurrentVersion", "1.3");
             RegisterRuntime(JreKey, "1.3");
             RegisterRuntime(JreKey, "1.3.1");
             return RegisterRuntime(JreKey, "1.4.2");
         }, {}},
        {"first acceptable in enumeration order, not the newest",
         [&] {
             std::string first = RegisterRuntime(JreKey, "1.4.2");
             RegisterRuntime(JreKey, "1.5.0");
             return first;
         }, {}},
        versionCase("2.0", "0x00010004", true),
        versionCase("1.3.1", "0x00010004", false),
        versionCase("1.4", "0x00010004", true),
        versionCase("1", "0x00010004", false),
        versionCase("1", "0x00010000", true),
        versionCase("17", "0x00010008", true),
        versionCase("1.10", "0x00010009", true),
        versionCase("10.0.2", "0x00090000", true),
        versionCase("9", "0x000A0000", false),
        versionCase("abc", "0x00000000", false),
        versionCase("x1.8", "0x00010004", false),
        {"a deleted RuntimeLib is rejected although the home holds a jvm.dll",
         [&] {
             std::string home = MakeRuntime("deleted");
             Register(JreKey, "1.6", home, folder_ + "\\gone\\jvm.dll");
             return std::string();
         }, {{"JvmPath", "jvm.dll"}, {"JreSearchOrder", "1"}}},
        {"without RuntimeLib the home and JvmPath are tried",
         [&] {
             std::string home = MakeRuntime("nolib");
             Register(JreKey, "1.6", home, "");
             return home;
         }, {{"JvmPath", "jvm.dll"}, {"JreSearchOrder", "1"}}},
        {"a kit with only a server VM is found by method 3",
         [&] {
             std::string home = MakeRuntime("kit", "jre\\bin\\server\\jvm.dll");
             Register(JdkKey, "1.6", home, "");
             return home;
         }, {}},
        {"method 2 looks for client VMs only",
         [&] {
             Register(JdkKey, "1.6", MakeRuntime("kit2", "jre\\bin\\server\\jvm.dll"), "");
             return std::string();
         }, {{"JreSearchOrder", "2"}}},
        {"classic VM by method 4 in the IBM kit key",
         [&] {
             std::string home = MakeRuntime("ibmkit", "jre\\bin\\classic\\jvm.dll");
             Register(ibmJdk, "1.4", home, "");
             return home;
         }, {{"JreSearchOrder", "4"}}},
        {"the IBM runtime key",
         [&] { return RegisterRuntime(ibmJre, "1.5"); }, {{"JreSearchOrder", "1"}}},
        {"an over-long JavaHome skips the entry",
         [&] {
             Register(JreKey, "1.5", "C:\\" + std::string(300, 'h'), MakeRuntime("long") + "\\jvm.dll");
             return RegisterRuntime(JreKey, "1.6");
         }, {}},
        {"method 0 before the registry leaves no home",
         [&] {
             RegisterRuntime(JreKey, "1.6");
             return std::string("(method 0)");
         }, {{"JvmPath", DoubleJvmPath()}, {"JreSearchOrder", "01"}}},
        {"the registry before method 0",
         [&] { return RegisterRuntime(JreKey, "1.6"); }, {{"JvmPath", DoubleJvmPath()}, {"JreSearchOrder", "10"}}},
    };
    int index = 0;
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClearRuntimeKeys();
        std::string expected = c.Setup();
        LauncherRun run = Run(Build(c.Keys, "search" + std::to_string(index++) + ".exe"));
        if (expected.empty()) {
            ExpectOneError(run, "Unable to locate suitable Java Runtime Environment on this machine.");
            EXPECT_EQ(run.ExitCode, ExitFailure);
            continue;
        }
        ExpectNoReports(run);
        std::vector<std::string> options = Options();
        ASSERT_FALSE(options.empty());
        EXPECT_EQ(options[0], "-Dhome=" + (expected == "(method 0)" ? std::string() : expected));
        EXPECT_EQ(run.ExitCode, 0u);
    }
    ClearRuntimeKeys();
}

} // namespace
