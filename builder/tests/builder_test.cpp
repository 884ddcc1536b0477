// `kestrun build` and `kestrun show` on the prebuilt launchers of both architectures, and the Windows
// builder (under wine64): its output, and find-java's search with a launcher's own settings.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <filesystem>
#include <fstream>

const std::string DemoConfig = "[launcher]\nJvmOptions = -Dx=" + std::string(8192, 'x') + "\n"
                               "MainClass = org.acme.Demo\nClassPath = app.jar\nStdoutMode = 2\n"
                               "AllowMultipleInstances = yes\nSplashText = Caf\xC3\xA9 \xE2\x82\xAC loading\n"
                               "[messages]\n1536 = Demo is already open.\nMsgLoadJvm = Cannot load %s\n"
                               "[files]\nFile = app.jar\n[version]\nProductName = Demo\nProductVersion = 1.2.3\n";

// A command's exit code and its standard output and error without carriage returns: "exit CODE\nOUTPUT".
static std::string RunCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    for (int c; (c = fgetc(pipe)) != EOF;)
        if (c != '\r')
            out += (char)c;
    int status = pclose(pipe);
    return "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "\n" + out;
}

static std::string Q(const std::string& path) { return "'" + path + "'"; } // paths here hold no quote
// The command line of a Windows program run under wine64 in the tests' Wine session.
static std::string UnderWine(const std::string& exe) { return Q(KR_WINE_RUN) + " " + Q(KR_WINE_DIR) + " " + Q(exe); }

// A fresh folder per test (folder_, ending in a slash) with demo.ini and its jar, written 2023-11-14 22:13:20
// UTC (FILETIME 0x01DA1747C66D0000). The demo's JvmOptions grow the resources past the room their section has.
struct Builder : testing::Test {
    void SetUp() override
    {
        folder_ = std::string(KR_WORK_DIR) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        Write("demo.ini", DemoConfig);
        Write("app.jar", "app jar bytes");
        const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (folder_ + "app.jar").c_str(), times, 0), 0);
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(folder_ + name) << text; }
    // Builds exe in the folder from config there: the builder's exit code and output.
    std::string Build(const char* launcher, const std::string& exe, const std::string& config = "demo.ini",
                      const std::string& builder = Q(KR_KESTRUN))
    {
        return RunCommand(builder + " build " + Q(folder_ + config) + " -o " + Q(folder_ + exe) + " --launcher " +
                          Q(launcher));
    }
    std::string Wrote(const std::string& exe) { return "exit 0\nkestrun: wrote " + folder_ + exe + "\n"; }
    std::string folder_;
};
struct Wine : Builder {};

// The file up to the resources without what a resource rewrite changes: SizeOfInitializedData, SizeOfImage,
// CheckSum, the resource size and relocations' address, and the sections' sizes and places from the resources on.
static Bytes UpToTheResources(const PeImage& image, size_t resource)
{
    Bytes headers(image.Data.begin(), image.Data.begin() + image.Sections[resource].RawPointer);
    for (size_t field : {image.OptionalHeader + 8, image.OptionalHeader + 56, image.OptionalHeader + 64,
                         image.DirectoryTable + 8 * DIR_RESOURCE + 4, image.DirectoryTable + 8 * DIR_BASERELOC})
        WriteU32(headers, field, 0);
    for (size_t i = resource; i < image.Sections.size(); i++)
        for (size_t field = 8; field < 24; field += 4)
            WriteU32(headers, image.Sections[i].HeaderOffset + field, 0);
    return headers;
}

TEST_F(Builder, BadConfigsGiveOneLineWithFileAndLineAndWriteNothing)
{
    const struct { std::string Config, Message; } cases[] = {
        {"[launcher]\nMainClas = a.B\n", "2: unknown key 'MainClas' in [launcher]; did you mean 'MainClass'?"},
        {"[launchr]\n", "1: unknown section [launchr]; did you mean 'launcher'?"},
        {"[launcher]\nColour = red\n", "2: unknown key 'Colour' in [launcher]"},
        {"[launcher]\n\nMainClass =\n", "3: MainClass is empty: name the class whose main(String[]) runs"},
        {"[launcher]\nStdoutMode = two\n", "2: StdoutMode must be a whole number, not 'two'"},
        {"[launcher]\nSplashText = \xCE\xA9mega\n",
         "2: '\xCE\xA9' in SplashText cannot be represented in code page 1252 (set CodePage in [launcher])"},
        {"[launcher]\nCodePage = 20127\nSplashText = caf\xC3\xA9\n",
         "3: '\xC3\xA9' in SplashText cannot be represented in code page 20127 (set CodePage in [launcher])"},
        {"[launcher]\nCodePage = 932\n",
         "2: CodePage 932 is not supported (use 874, 1250 to 1258, 28591, 20127 or 65001)"},
        {"[messages]\nMsgLoadJvm = %s %s\n", "2: message MsgLoadJvm has more %s than the launcher passes (1)"},
        {"[launcher]\nServiceName = a\nServiceName = b\n", "3: key 'ServiceName' given twice (first at line 2)"},
        {"[launcher]\nServiceRestartCount = 101\n", "2: ServiceRestartCount must be 0 to 100 (restarts; 0 means none), not 101"},
        {"[launcher]\nServiceDelayedStart = on\n",
         "2: ServiceDelayedStart needs ServiceDemandStart = 0: only an automatic start is delayed"},
        {"[launcher]\nServiceAccount = a\\b\\c\n", "2: ServiceAccount 'a\\b\\c' is not an account name: LocalSystem, "
         "LocalService, NetworkService, or a user name (DOMAIN\\user, user@domain) of at most 256 characters without any of "
         "\"/[]:;|=,+*?<>"},
        {"MainClass = a.B\n", "1: a key before the first [section]"},
        {"[files]\nFile = missing.jar\n", "2: file not found: " + folder_ + "missing.jar"},
    };
    for (const auto& c : cases) {
        Write("bad.ini", c.Config);
        EXPECT_EQ(Build(KR_LAUNCHER_X64, "out.exe", "bad.ini"),
                  "exit 1\nkestrun: " + folder_ + "bad.ini:" + c.Message + "\n");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 3)
            << "more than demo.ini, app.jar and bad.ini for " << c.Message;
    }
}

TEST_F(Builder, OnlyTheResourcesAndTheMovedRelocationsChange)
{
    for (const char* launcher : {KR_LAUNCHER_X64, KR_LAUNCHER_X86}) {
        ASSERT_EQ(Build(launcher, "out.exe"), Wrote("out.exe"));
        PeImage before = ParsePeImage(ReadWholeFile(launcher), launcher);
        PeImage after = ParsePeImage(ReadWholeFile(folder_ + "out.exe"), "out.exe");
        int resource = FindSectionByRva(before, GetDataDirectory(before, DIR_RESOURCE).Rva);
        ASSERT_EQ(after.Sections.size(), before.Sections.size());
        ASSERT_EQ(resource + 2, (int)before.Sections.size()) << "the relocations follow the resources";
        EXPECT_EQ(UpToTheResources(before, resource), UpToTheResources(after, resource)) << launcher;
        auto relocations = [](const PeImage& image) {
            return Bytes(image.Data.begin() + image.Sections.back().RawPointer, image.Data.end()); };
        EXPECT_EQ(relocations(before), relocations(after)) << launcher << ": moved, not changed";
        EXPECT_GT(after.Sections.back().VirtualAddress, before.Sections.back().VirtualAddress) << "not moved";
        EXPECT_EQ(GetDataDirectory(after, DIR_BASERELOC).Rva, after.Sections.back().VirtualAddress);
    }
}

TEST_F(Builder, ShowGivesBackTheConfigAndTheShippedValuesOfUnsetKeys)
{
    const std::pair<std::string, const char*> arches[] = {{"x64", KR_LAUNCHER_X64}, {"x86", KR_LAUNCHER_X86}};
    for (const auto& [arch, launcher] : arches) {
        ASSERT_EQ(Build(launcher, "out.exe"), Wrote("out.exe"));
        std::string shown = RunCommand(Q(KR_KESTRUN) + " show " + Q(folder_ + "out.exe"));
        EXPECT_EQ(shown.find("exit 0\n; " + folder_ + "out.exe: " + arch + " launcher, "), 0u) << shown;
        for (const char* line : {"MainClass = org.acme.Demo", "ClassPath = app.jar", "StdoutMode = 2",
                                 "AllowMultipleInstances = 1", "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading",
                                 "MsgAlreadyRunning = Demo is already open.", "MsgLoadJvm = Cannot load %s",
                                 "ServiceName = GUI", "StdoutFile = stderr.log", "ProcessPriority = 3",
                                 "JreSearchOrder = B0EJV", "JavaMaxVersion = ", "ProductName = Demo",
                                 "MsgNoJre = Unable to locate suitable Java Runtime Environment on this machine.",
                                 "; app.jar  13 bytes  2023-11-14 22:13:20.0000000 UTC", "ProductVersion = 1.2.3"})
            EXPECT_NE(shown.find("\n" + std::string(line) + "\n"), std::string::npos) << arch << ": " << line;
    }
}

TEST_F(Builder, EmbeddedFileNamesAreWrittenInTheConfigsCodePage)
{
    const struct { const char *CodePage, *Name; std::string Bytes; } cases[] = {
        {"1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.jar", "\xCF\xF0\xE8\xE2\xE5\xF2.jar"},
        {"1252", "Caf\xC3\xA9\xE2\x82\xAC.jar", "Caf\xE9\x80.jar"}, {"28591", "Caf\xC3\xA9.jar", "Caf\xE9.jar"},
        {"65001", "\xE6\x97\xA5.jar", "\xE6\x97\xA5.jar"},
    };
    for (const auto& c : cases) {
        Write("cp.ini", std::string("[launcher]\nCodePage = ") + c.CodePage + "\n[files]\nFile = " + c.Name + "\n");
        Write(c.Name, "x");
        ASSERT_EQ(Build(KR_LAUNCHER_X64, "out.exe", "cp.ini"), Wrote("out.exe"));
        Bytes built = ReadWholeFile(folder_ + "out.exe"); // holds the archive: count 1, then the name
        EXPECT_NE(std::string(built.begin(), built.end()).find(std::string("\1\0\0\0", 4) + c.Bytes + '\0'),
                  std::string::npos) << c.CodePage;
    }
}

TEST_F(Wine, WindowsBuilderWritesTheSameBytesAsTheLinuxBuilder)
{
    // Building again gives the same bytes too: nothing of the time or the machine goes into a launcher.
    for (const char* exe : {"linux.exe", "again.exe"})
        ASSERT_EQ(Build(KR_LAUNCHER_X64, exe), Wrote(exe));
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "windows.exe", "demo.ini", UnderWine(KR_WINDOWS_BUILDER)), Wrote("windows.exe"));
    for (const char* exe : {"again.exe", "windows.exe"})
        EXPECT_EQ(ReadWholeFile(folder_ + exe), ReadWholeFile(folder_ + "linux.exe")) << exe;
}

TEST_F(Wine, FindJavaReadsTheRegistryViewOfTheLaunchersArchitecture)
{
    // Written in the 32-bit view only, where the x86 launcher reads it.
    RunCommand(UnderWine("reg") + " add " + Q("HKLM\\Software\\JavaSoft\\Java Runtime Environment\\1.8") +
               " /v RuntimeLib /d 'C:\\j8\\jvm.dll' /reg:32 /f");
    Write("find.ini", "[launcher]\nJreSearchOrder = 1\n");
    ASSERT_EQ(Build(KR_LAUNCHER_X86, "find.exe", "find.ini"), Wrote("find.exe"));
    std::string found = RunCommand(UnderWine(KR_WINDOWS_BUILDER) + " find-java " + Q(folder_ + "find.exe"));
    EXPECT_NE(found.find("32-bit registry view, as this launcher does\n"), std::string::npos) << found;
    EXPECT_NE(found.find("\n[1] Software\\JavaSoft\\Java Runtime Environment\\1.8\n      version 1.8\n      jvm.dll "
                         "C:\\j8\\jvm.dll\n"), std::string::npos) << found;
}
