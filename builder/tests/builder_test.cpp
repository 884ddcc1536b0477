// `kestrun build` and `kestrun show` on the prebuilt launchers of both architectures, and what
// Windows (wine64) makes of the result: the Windows builder's output and the loader's view of it.
#include "pe_image.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string DemoConfig = "[launcher]\nJvmOptions = -Dx=" + std::string(8192, 'x') + "\n"
                               "MainClass = org.acme.Demo\nClassPath = app.jar\nStdoutMode = 2\n"
                               "AllowMultipleInstances = yes\nSplashText = Caf\xC3\xA9 \xE2\x82\xAC loading\n"
                               "[messages]\n1536 = Demo is already open.\nMsgLoadJvm = Cannot load %s\n"
                               "[files]\nFile = app.jar\n[version]\nProductName = Demo\nProductVersion = 1.2.3\n";

// The exit code of a command, and its standard output and error without carriage returns.
struct Ran {
    int Code;
    std::string Out;
    bool operator==(const Ran& o) const { return Code == o.Code && Out == o.Out; }
};
void PrintTo(const Ran& r, std::ostream* out) { *out << "exit " << r.Code << ": " << r.Out; }
Ran Wrote(const std::string& out) { return {0, "kestrun: wrote " + out + "\n"}; }

Ran RunCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        out.append(buffer, n);
    int status = pclose(pipe);
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Q(const std::string& path) { return "'" + path + "'"; } // paths here hold no quote

Ran Build(const std::string& config, const std::string& launcher, const std::string& out)
{
    return RunCommand(Q(KR_KESTRUN) + " build " + Q(config) + " -o " + Q(out) + " --launcher " + Q(launcher));
}

// A Windows program run under wine64 in the tests' Wine session.
Ran Wine(const std::string& program, const std::string& arguments)
{
    return RunCommand(Q(KR_WINE_RUN) + " " + Q(KR_WINE_DIR) + " " + Q(program) + " " + arguments);
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A fresh, empty folder named after the running test.
std::string Folder()
{
    fs::path folder = fs::path(KR_WORK_DIR) / testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

// The demo config beside its jar, written 2023-11-14 22:13:20 UTC (FILETIME 0x01DA1747C66D0000). Its
// JvmOptions grow the resources past the room their section has: the relocations after it move.
std::string DemoProject()
{
    std::string folder = Folder();
    WriteText(folder + "/demo.ini", DemoConfig);
    WriteText(folder + "/app.jar", "app jar bytes");
    const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, (folder + "/app.jar").c_str(), times, 0), 0);
    return folder + "/demo.ini";
}

// The file up to the resources without what a resource rewrite changes: SizeOfInitializedData,
// SizeOfImage, CheckSum, the resource directory's size, the relocations' address, and the sizes and
// places of the sections from the resources on.
Bytes UpToTheResources(const PeImage& image, size_t resource)
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

} // namespace

TEST(Builder, BadConfigsGiveOneLineWithFileAndLineAndWriteNothing)
{
    std::string folder = Folder(), config = folder + "/bad.ini", out = folder + "/out.exe";
    struct Case { std::string Config, Message; };
    const Case cases[] = {
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
        {"MainClass = a.B\n", "1: a key before the first [section]"},
        {"[files]\nFile = missing.jar\n", "2: file not found: " + folder + "/missing.jar"},
    };
    for (const Case& c : cases) {
        WriteText(config, c.Config);
        EXPECT_EQ(Build(config, KR_LAUNCHER_X64, out), (Ran{1, "kestrun: " + config + ":" + c.Message + "\n"}));
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "written for " << c.Message;
    }
}

TEST(Builder, OnlyTheResourcesAndTheMovedRelocationsChange)
{
    std::string config = DemoProject(), out = fs::path(config).replace_filename("out.exe");
    for (const char* launcher : {KR_LAUNCHER_X64, KR_LAUNCHER_X86}) {
        ASSERT_EQ(Build(config, launcher, out), Wrote(out));
        PeImage before = ParsePeImage(ReadWholeFile(launcher), launcher), after = ParsePeImage(ReadWholeFile(out), out);
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

TEST(Builder, BuildingTwiceGivesIdenticalBytes)
{
    std::string config = DemoProject(), folder = fs::path(config).parent_path();
    ASSERT_EQ(Build(config, KR_LAUNCHER_X64, folder + "/1.exe"), Wrote(folder + "/1.exe"));
    ASSERT_EQ(Build(config, KR_LAUNCHER_X64, folder + "/2.exe"), Wrote(folder + "/2.exe"));
    EXPECT_EQ(ReadWholeFile(folder + "/1.exe"), ReadWholeFile(folder + "/2.exe"));
}

TEST(Builder, ShowGivesBackTheConfigAndTheShippedValuesOfUnsetKeys)
{
    std::string config = DemoProject(), out = fs::path(config).replace_filename("out.exe");
    struct Arch { std::string Name; const char* Launcher; };
    for (const Arch& arch : {Arch{"x64", KR_LAUNCHER_X64}, Arch{"x86", KR_LAUNCHER_X86}}) {
        ASSERT_EQ(Build(config, arch.Launcher, out), Wrote(out));
        Ran shown = RunCommand(Q(KR_KESTRUN) + " show " + Q(out));
        ASSERT_EQ(shown.Code, 0) << shown.Out;
        EXPECT_EQ(shown.Out.find("; " + out + ": " + arch.Name + " launcher, "), 0u) << shown.Out;
        for (const char* line : {"MainClass = org.acme.Demo", "ClassPath = app.jar", "StdoutMode = 2",
                                 "AllowMultipleInstances = 1", "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading",
                                 "MsgAlreadyRunning = Demo is already open.", "MsgLoadJvm = Cannot load %s",
                                 "ServiceName = GUI", "StdoutFile = stderr.log", "ProcessPriority = 3",
                                 "JreSearchOrder = B0EJV", "JavaMaxVersion = ", "ProductName = Demo",
                                 "MsgNoJre = Unable to locate suitable Java Runtime Environment on this machine.",
                                 "; app.jar  13 bytes  2023-11-14 22:13:20.0000000 UTC", "ProductVersion = 1.2.3"})
            EXPECT_NE(shown.Out.find("\n" + std::string(line) + "\n"), std::string::npos) << arch.Name << ": " << line;
    }
}

TEST(Builder, EmbeddedFileNamesAreWrittenInTheConfigsCodePage)
{
    struct Case { const char* CodePage; const char* Name; std::string Bytes; };
    const Case cases[] = {
        {"1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.jar", "\xCF\xF0\xE8\xE2\xE5\xF2.jar"},
        {"1250", "\xC5\x81\xC3\xB3" "d\xC5\xBA.jar", "\xA3\xF3" "d\x9F.jar"},
        {"1252", "Caf\xC3\xA9\xE2\x82\xAC.jar", "Caf\xE9\x80.jar"},
        {"28591", "Caf\xC3\xA9.jar", "Caf\xE9.jar"},
        {"65001", "\xE6\x97\xA5.jar", "\xE6\x97\xA5.jar"},
    };
    std::string folder = Folder(), config = folder + "/cp.ini", out = folder + "/out.exe";
    for (const Case& c : cases) {
        WriteText(config, std::string("[launcher]\nCodePage = ") + c.CodePage + "\n[files]\nFile = " + c.Name + "\n");
        WriteText(fs::u8path(folder + "/" + c.Name), "x");
        ASSERT_EQ(Build(config, KR_LAUNCHER_X64, out), Wrote(out));
        Bytes built = ReadWholeFile(out); // holds the archive: count 1, then the name
        EXPECT_NE(std::string(built.begin(), built.end()).find(std::string("\1\0\0\0", 4) + c.Bytes + '\0'),
                  std::string::npos) << c.CodePage;
    }
}

TEST(Wine, WindowsBuilderWritesTheSameBytesAsTheLinuxBuilder)
{
    std::string config = DemoProject(), folder = fs::path(config).parent_path();
    ASSERT_EQ(Build(config, KR_LAUNCHER_X64, folder + "/linux.exe"), Wrote(folder + "/linux.exe"));
    ASSERT_EQ(Wine(KR_WINDOWS_BUILDER, "build " + Q(config) + " -o " + Q(folder + "/windows.exe") + " --launcher " +
                                           Q(KR_LAUNCHER_X64)), Wrote(folder + "/windows.exe"));
    EXPECT_EQ(ReadWholeFile(folder + "/windows.exe"), ReadWholeFile(folder + "/linux.exe"));
}

TEST(Wine, LoaderSeesTheBuiltStringsAndArchive)
{
    std::string config = DemoProject(), out = fs::path(config).replace_filename("demo.exe");
    ASSERT_EQ(Build(config, KR_LAUNCHER_X64, out), Wrote(out));
    EXPECT_EQ(Wine(KR_CHECKER, Q(out) + " 1536 1600 1456 1392 1424"),
              (Ran{0, "rcdata 16000 01000000" "6170702E6A617200" "00006DC64717DA01" "0D000000"
                      "617070206A6172206279746573\n" // one entry: app.jar, its time, 13 bytes
                      "string 1536 Demo is already open.\nstring 1600 Cannot load %s\n"
                      "string 1456 Caf\xE9 \x80 loading\nstring 1392 2\nstring 1424 stderr.log\n"}));
}
