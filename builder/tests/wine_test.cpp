// The decisive test: what the Windows loader (wine64) sees in a launcher made by the builder.
// x86 images cannot run here (no 32-bit Wine), so they are checked natively in pe_test.cpp.
#include "build.h"
#include "pe_image.h"
#include "res_tree.h"
#include "scramble.h"
#include "show.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

const char Config[] =
    "[launcher]\n"
    "MainClass = org.acme.Demo\n"
    "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading\n"
    "StdoutMode = 2\n"
    "[messages]\n"
    "MsgAlreadyRunning = Demo is already open.\n"
    "[files]\n"
    "File = app.jar\n"
    "File = data.bin\n"
    "[splash]\n"
    "Bitmap = splash.bmp\n"
    "[icon]\n"
    "File = app.ico\n"
    "[version]\n"
    "ProductName = Demo\n"
    "ProductVersion = 4.5.6.7\n"
    "CompanyName = Acme\n";

std::string WriteProject(const std::string& folder)
{
    WriteText(folder + "/app.jar", "jar contents");
    WriteBytes(folder + "/data.bin", Bytes(3000, 0xAB));
    WriteBytes(folder + "/splash.bmp", MakeBmp(64, 20, 32));
    WriteBytes(folder + "/app.ico", MakeIco({16, 32, 48}));
    WriteText(folder + "/demo.ini", Config);
    return folder + "/demo.ini";
}

// Builds the project into out with launcher; returns the resource tree written.
ResourceTree BuildTo(const std::string& config, const std::string& launcher, const std::string& out)
{
    Bytes built = BuildLauncherImage(ReadBuildPlan(config), ReadWholeFile(launcher), launcher);
    WriteBytes(out, built);
    return ReadResourceTree(ParsePeImage(built, out));
}

std::string StringLine(int id, const std::string& bytes)
{
    return "string " + std::to_string(id) + " " + std::to_string(bytes.size()) + " " + Hex(bytes);
}

std::string ArchiveLine(const ResourceTree& tree)
{
    const Bytes* archive = FindResource(tree, RES_RCDATA, ResId::FromId(16000));
    uint32_t hash = 2166136261u;
    for (uint8_t b : *archive)
        hash = (hash ^ b) * 16777619u;
    char line[64];
    snprintf(line, sizeof(line), "rcdata 16000 %zu %08X", archive->size(), hash);
    return line;
}

std::string Scrambled(const char* plain)
{
    char text[600];
    return ScrambleText(plain, text, sizeof(text)) ? text : "";
}

void ExpectLines(const std::string& output, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        EXPECT_NE(("\n" + output).find("\n" + line + "\n"), std::string::npos) << line << "\n---\n" << output;
}

class WineLoader : public testing::Test {
protected:
    void SetUp() override
    {
        if (!WineAvailable())
            GTEST_SKIP() << "wine64 is not installed (Debian packages wine64, wine)";
    }
};

} // namespace

TEST_F(WineLoader, BuiltProgramRunsAndReadsTheConfigThroughLoadStringAndFindResource)
{
    std::string folder = ScratchFolder(), out = folder + "/demo.exe";
    ResourceTree tree = BuildTo(WriteProject(folder), TestProgram("fixture-x64"), out);
    CommandResult r = RunWine(out, "string 1184 string 1456 string 1392 string 1536 string 1424 "
                                   "rcdata 16000 bitmap 8000 icon manifest version");
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ExpectLines(r.Out, {StringLine(1184, Scrambled("org.acme.Demo")),
                        StringLine(1456, "Caf\xE9 \x80 loading"), StringLine(1392, "2"),
                        StringLine(1536, "Demo is already open."),
                        StringLine(1424, "stderr.log"), // unset: the shipped value stays
                        ArchiveLine(tree), "icon 1 3 3", "version ProductName=Demo",
                        "version CompanyName=Acme", "version FileVersion#=4.5.6.7"});
    ASSERT_EQ(LinesStartingWith(r.Out, "bitmap 8000 64 20 ").size(), 1u) << r.Out;
    ASSERT_EQ(LinesStartingWith(r.Out, "manifest ").size(), 1u) << r.Out;
}

TEST_F(WineLoader, CheckerSeesTheResourcesAsImageAndAsDataFile)
{
    std::string folder = ScratchFolder(), out = folder + "/demo.exe";
    ResourceTree tree = BuildTo(WriteProject(folder), TestProgram("fixture-x64"), out);
    for (const char* mode : {"image", "datafile"}) {
        CommandResult r = RunWine(TestProgram("kr-check"), Quote(out) + " " + mode +
                                                               " string 1184 rcdata 16000 bitmap 8000 icon");
        ASSERT_EQ(r.ExitCode, 0) << r.Err << r.Out;
        ExpectLines(r.Out, {std::string("loaded ") + mode, StringLine(1184, Scrambled("org.acme.Demo")),
                            ArchiveLine(tree), "icon 1 3 3"});
        EXPECT_EQ(LinesStartingWith(r.Out, "bitmap 8000 64 20 ").size(), 1u) << r.Out;
    }
    CommandResult started = RunWine(TestProgram("kr-check"), Quote(out) + " start");
    ExpectLines(started.Out, {"start exited 0"}); // the fixture without arguments ends at once
}

// The real prebuilt launcher, once the build has left it in dist/.
TEST_F(WineLoader, PrebuiltLauncherStartsAfterABuild)
{
    std::string launcher = PrebuiltLauncher("x64");
    if (!Exists(launcher))
        GTEST_SKIP() << launcher << " is not built yet";
    std::string folder = ScratchFolder(), out = folder + "/demo.exe";
    ResourceTree tree = BuildTo(WriteProject(folder), launcher, out);
    CommandResult r = RunWine(TestProgram("kr-check"), Quote(out) + " image string 1184 string 1536 rcdata 16000 icon");
    ExpectLines(r.Out, {"loaded image", StringLine(1184, Scrambled("org.acme.Demo")),
                        StringLine(1536, "Demo is already open."), ArchiveLine(tree), "icon 1 3 3"});
    CommandResult started = RunWine(TestProgram("kr-check"), Quote(out) + " start");
    EXPECT_TRUE(LinesStartingWith(started.Out, "start running").size() +
                    LinesStartingWith(started.Out, "start exited").size() == 1)
        << started.Out << started.Err;
}

// The Windows build of the builder, run under wine64, writes the same bytes as the Linux build.
TEST_F(WineLoader, WindowsBuilderWritesTheSameBytesAsTheLinuxBuilder)
{
    const char* override = getenv("KESTRUN_WINDOWS_BUILDER");
    std::string builder = override ? override : std::string(KR_TEST_DIST_DIR) + "/kestrun.exe";
    if (!Exists(builder))
        GTEST_SKIP() << builder << " is not built yet";
    std::string folder = ScratchFolder();
    std::string config = WriteProject(folder), launcher = TestProgram("fixture-x64");
    BuildTo(config, launcher, folder + "/linux.exe");
    CommandResult r = RunWine(builder, "build " + Quote(config) + " -o " + Quote(folder + "/windows.exe") +
                                           " --launcher " + Quote(launcher));
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadWholeFile(folder + "/windows.exe"), ReadWholeFile(folder + "/linux.exe"));
    CommandResult shown = RunWine(builder, "show " + Quote(folder + "/windows.exe"));
    ASSERT_EQ(shown.ExitCode, 0) << shown.Err;
    EXPECT_NE(shown.Out.find("MainClass = org.acme.Demo"), std::string::npos) << shown.Out;
    CommandResult bad = RunWine(builder, "build " + Quote(folder + "/nothere.ini") + " -o " +
                                             Quote(folder + "/x.exe") + " --launcher " + Quote(launcher));
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_FALSE(Exists(folder + "/x.exe"));
}
