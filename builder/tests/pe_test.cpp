// Rewriting the resources of real MinGW-built executables (x64 and x86): the image stays intact
// apart from the resources, the settings land where the launcher reads them, output is
// deterministic, `show` reads back the config, and bad launchers and configs write nothing.
#include "build.h"
#include "pe_image.h"
#include "res_tree.h"
#include "settings_table.h"
#include "show.h"
#include "string_table.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

const char DemoConfig[] =
    "[launcher]\n"
    "MainClass = org.acme.Demo\n"
    "ClassPath = lib/app.jar;lib/util.jar\n"
    "StdoutMode = 2\n"
    "AllowMultipleInstances = true\n"
    "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading\n"
    "[messages]\n"
    "1536 = Demo is already open.\n"
    "MsgLoadJvm = Cannot load %s\n"
    "[files]\n"
    "File = lib/*.jar\n"
    "[splash]\n"
    "Bitmap = splash.bmp\n"
    "[icon]\n"
    "File = app.ico\n"
    "[version]\n"
    "ProductName = Demo\n"
    "ProductVersion = 1.2.3\n"
    "CompanyName = Acme\n";

// A config and its files in a scratch folder; returns the config's path.
std::string WriteDemoProject(const std::string& folder)
{
    std::filesystem::create_directories(folder + "/lib");
    WriteText(folder + "/lib/app.jar", "app jar bytes");
    WriteText(folder + "/lib/util.jar", "util");
    WriteText(folder + "/lib/readme.txt", "not embedded");
    WriteBytes(folder + "/splash.bmp", MakeBmp(40, 10, 24));
    WriteBytes(folder + "/app.ico", MakeIco({16, 32}));
    WriteText(folder + "/demo.ini", DemoConfig);
    return folder + "/demo.ini";
}

Bytes Build(const std::string& config, const std::string& launcher)
{
    return BuildLauncherImage(ReadBuildPlan(config), ReadWholeFile(launcher), launcher);
}

std::string ShowText(const Bytes& image)
{
    std::ostringstream out;
    ShowResources(ReadResourceTree(ParsePeImage(image, "built.exe")), out);
    return out.str();
}

Bytes SectionBytes(const PeImage& image, const PeSection& s)
{
    return Bytes(image.Data.begin() + s.RawPointer, image.Data.begin() + s.RawPointer + s.RawSize);
}

// The headers with the fields a resource rewrite may change set to zero.
Bytes MaskedHeaders(const PeImage& image, int resource)
{
    Bytes headers(image.Data.begin(), image.Data.begin() + image.Sections[0].RawPointer);
    for (size_t field : {image.OptionalHeader + 8, image.OptionalHeader + 56, ChecksumOffset(image),
                         image.DirectoryTable + 8 * DIR_RESOURCE + 4, image.DirectoryTable + 8 * DIR_BASERELOC})
        WriteU32(headers, field, 0);
    for (size_t i = resource; i < image.Sections.size(); i++)
        for (size_t field = 8; field < 24; field += 4)
            WriteU32(headers, image.Sections[i].HeaderOffset + field, 0);
    return headers;
}

class BuiltFixture : public testing::TestWithParam<const char*> {
protected:
    std::string Launcher() const { return TestProgram(GetParam()); }
};

} // namespace

TEST(ResourceTree, ShowDescribesEntriesWithoutAnyLanguage)
{
    // A damaged executable can name a resource whose language directory is empty.
    ResourceTree tree;
    for (uint16_t type : {RES_MANIFEST, RES_GROUP_ICON, RES_VERSION, RES_RCDATA, RES_BITMAP})
        tree[ResId::FromId(type)][ResId::FromId(type == RES_RCDATA ? 16000 : type == RES_BITMAP ? 8000 : 1)];
    std::ostringstream out;
    ShowResources(tree, out);
    EXPECT_NE(out.str().find("; manifest 1 has no data\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("; icon group 1: 0 images"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("; no archive resource (RCDATA 16000)\n"), std::string::npos) << out.str();
}

TEST(ResourceTree, WritesNamesFirstThenIdsAscendingAndReadsBack)
{
    ResourceTree tree;
    tree[ResId::FromId(10)][ResId::FromId(300)][0x409].Data = {1, 2, 3};
    tree[ResId::FromId(10)][ResId::FromName(u"zeta")][0x409].Data = {4};
    tree[ResId::FromId(10)][ResId::FromName(u"Alpha")][0x407].Data = {5, 6};
    tree[ResId::FromId(6)][ResId::FromId(2)][0x409].Data = {7};
    tree[ResId::FromName(u"MYTYPE")][ResId::FromId(1)][0].Data = {8};
    Bytes section = WriteResourceTree(tree, 0x5000);
    EXPECT_EQ(ReadU16(section, 12), 1); // root: one named type
    EXPECT_EQ(ReadU16(section, 14), 2); // and two id types
    EXPECT_TRUE(ReadU32(section, 16) & 0x80000000u);
    EXPECT_EQ(ReadU32(section, 24), 6u);
    EXPECT_EQ(ReadU32(section, 32), 10u);
    std::vector<ResId> order;
    for (const auto& name : tree[ResId::FromId(10)])
        order.push_back(name.first);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0].Name, u"Alpha");
    EXPECT_EQ(order[1].Name, u"zeta");
    EXPECT_EQ(order[2].Id, 300);
    // Read it back through a minimal image whose only section is this one.
    PeImage image;
    image.Path = "tree";
    image.Data = section;
    image.DirectoryCount = 16;
    image.Sections.push_back({".rsrc", (uint32_t)section.size(), 0x5000, (uint32_t)section.size(), 0, 0});
    image.Data.resize(section.size());
    Bytes header(8 * 16, 0);
    WriteU32(header, 8 * DIR_RESOURCE, 0x5000);
    WriteU32(header, 8 * DIR_RESOURCE + 4, (uint32_t)section.size());
    image.DirectoryTable = image.Data.size();
    image.Data.insert(image.Data.end(), header.begin(), header.end());
    EXPECT_EQ(ReadResourceTree(image), tree);
}

TEST_P(BuiltFixture, OnlyTheResourcesAndTheMovedRelocationsChange)
{
    std::string folder = ScratchFolder();
    PeImage before = ParsePeImage(ReadWholeFile(Launcher()), Launcher());
    PeImage after = ParsePeImage(Build(WriteDemoProject(folder), Launcher()), "built");
    ASSERT_EQ(before.Sections.size(), after.Sections.size());
    int resource = FindSectionByRva(before, GetDataDirectory(before, DIR_RESOURCE).Rva);
    ASSERT_GE(resource, 0);
    for (size_t i = 0; i < before.Sections.size(); i++)
        EXPECT_EQ(SectionBytes(before, before.Sections[i]) == SectionBytes(after, after.Sections[i]),
                  (int)i != resource) << before.Sections[i].Name;
    EXPECT_GT(after.Sections[resource].VirtualSize, before.Sections[resource].VirtualSize);
    // The relocation section follows the resources in a MinGW image: moved, directory with it.
    const PeSection& relocs = after.Sections.back();
    ASSERT_EQ(relocs.Name, ".reloc");
    EXPECT_EQ(GetDataDirectory(after, DIR_BASERELOC).Rva, relocs.VirtualAddress);
    EXPECT_EQ(relocs.VirtualAddress % after.SectionAlignment, 0u);
    EXPECT_EQ(ReadU32(after.Data, after.OptionalHeader + 56),
              relocs.VirtualAddress + AlignUp(relocs.VirtualSize, after.SectionAlignment));
    EXPECT_EQ(ReadU32(after.Data, ChecksumOffset(after)), ComputePeChecksum(after.Data, ChecksumOffset(after)));
    EXPECT_EQ(MaskedHeaders(before, resource), MaskedHeaders(after, resource));
}

TEST_P(BuiltFixture, EachSettingIsAloneInItsBlockInTheLaunchersLanguage)
{
    Bytes built = Build(WriteDemoProject(ScratchFolder()), Launcher());
    ResourceTree tree = ReadResourceTree(ParsePeImage(built, "built"));
    const ResNames& blocks = tree.at(ResId::FromId(RES_STRING));
    EXPECT_EQ(blocks.size(), (size_t)SettingCount);
    for (int i = 0; i < SettingCount; i++) {
        const ResLanguages& languages = blocks.at(ResId::FromId(StringBlockId(SettingTable[i].Id)));
        ASSERT_EQ(languages.size(), 1u) << SettingTable[i].Field;
        EXPECT_EQ(languages.begin()->first, LANG_EN_US);
        StringBlock block;
        ASSERT_TRUE(DecodeStringBlock(languages.begin()->second.Data, block));
        for (int k = 1; k < 16; k++)
            EXPECT_TRUE(block[k].empty()) << SettingTable[i].Field << " entry " << k;
    }
}

TEST_P(BuiltFixture, ShowGivesBackTheConfigAndTheShippedValuesOfUnsetKeys)
{
    std::string text = ShowText(Build(WriteDemoProject(ScratchFolder()), Launcher()));
    for (const char* line : {"MainClass = org.acme.Demo", "ClassPath = lib/app.jar;lib/util.jar",
                             "StdoutMode = 2", "AllowMultipleInstances = 1",
                             "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading",
                             "MsgAlreadyRunning = Demo is already open.", "MsgLoadJvm = Cannot load %s",
                             "ServiceName = GUI", "StdoutFile = stderr.log", "JreSearchOrder = B0EJV",
                             ";   B: the runtime folder BundledRuntime beside the executable",
                             ";   0: the jvm.dll paths of JvmPath", "JavaMaxVersion = ", "BundledRuntime = ",
                             "; app.jar  13 bytes  ", "; util.jar  4 bytes  ",
                             "; bitmap 8000: 40 x 10, 24 bits per pixel",
                             "; icon group 1: 2 images (16x16, 32x32)", "ProductName = Demo",
                             "ProductVersion = 1.2.3", "FileVersion = 1.2.3", "CompanyName = Acme",
                             "; manifest 1: "})
        EXPECT_NE(text.find(std::string("\n") + line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("readme"), std::string::npos);
}

TEST_P(BuiltFixture, BuildingTwiceGivesIdenticalBytes)
{
    std::string folder = ScratchFolder();
    std::string config = WriteDemoProject(folder);
    Bytes first = Build(config, Launcher());
    EXPECT_EQ(first, Build(config, Launcher()));
    // Building again on the output changes nothing either: entries are replaced, not added.
    std::string once = folder + "/once.exe";
    WriteBytes(once, first);
    EXPECT_EQ(first, Build(config, once));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BuiltFixture, testing::Values("fixture-x64", "fixture-x86"));

namespace {

// Runs the builder program; the error, if any, is its standard error.
CommandResult Kestrun(const std::string& arguments)
{
    return RunCommand(Quote(KR_TEST_KESTRUN) + " " + arguments);
}

} // namespace

TEST(BuildCommand, WritesTheOutputWhole)
{
    std::string folder = ScratchFolder();
    std::string config = WriteDemoProject(folder), out = folder + "/demo.exe";
    CommandResult r = Kestrun("build " + Quote(config) + " -o " + Quote(out) + " --launcher " +
                              Quote(TestProgram("fixture-x64")));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadWholeFile(out), Build(config, TestProgram("fixture-x64")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 5); // no temporary left
    CommandResult shown = Kestrun("show " + Quote(out));
    ASSERT_EQ(shown.ExitCode, 0) << shown.Err;
    EXPECT_NE(shown.Out.find("\nMainClass = org.acme.Demo\n"), std::string::npos);
}

TEST(BuildCommand, ErrorsAreOneLineWithFileAndLineAndWriteNothing)
{
    std::string folder = ScratchFolder();
    std::string config = WriteDemoProject(folder);
    std::string out = folder + "/out.exe", fixture = TestProgram("fixture-x64");
    WriteText(folder + "/notpe.exe", "just some text, not a program");
    Bytes whole = ReadWholeFile(fixture);
    WriteBytes(folder + "/cut.exe", Bytes(whole.begin(), whole.begin() + 200));
    // Headers whole, the section table cut in the middle of its last entry's name.
    size_t lastSection = ParsePeImage(whole, fixture).Sections.back().HeaderOffset;
    WriteBytes(folder + "/cuttable.exe", Bytes(whole.begin(), whole.begin() + lastSection + 3));
    // A file alignment of 2 GB: padding the resource section to it would never end.
    Bytes aligned = whole;
    WriteU32(aligned, ParsePeImage(whole, fixture).OptionalHeader + 36, 0x80000000u);
    WriteBytes(folder + "/aligned.exe", aligned);
    WriteText(folder + "/bad.ini", "[launcher]\nMainClass = a.B\nStdoutMode = loud\n");
    WriteText(folder + "/typo.ini", "[launcher]\nClasspath = x.jar\n");
    WriteText(folder + "/empty.ini", "[launcher]\nMainClass = \n");
    WriteText(folder + "/nofile.ini", "[files]\nFile = missing.jar\n[launcher]\nMainClass = a.B\n");
    WriteText(folder + "/nomatch.ini", "[files]\nFile = lib/*.war\n");
    WriteText(folder + "/png.ini", "[splash]\nBitmap = pic.png\n");
    WriteText(folder + "/pic.png", "\x89PNG\r\n\x1a\n....");
    struct Case { std::string config, launcher, message; };
    const Case cases[] = {
        {folder + "/bad.ini", fixture, folder + "/bad.ini:3: StdoutMode must be a whole number, not 'loud'"},
        {folder + "/typo.ini", fixture, folder + "/typo.ini:2: unknown key 'Classpath' in [launcher]; did you mean 'ClassPath'?"},
        {folder + "/empty.ini", fixture, folder + "/empty.ini:2: MainClass is empty"},
        {folder + "/nofile.ini", fixture, folder + "/nofile.ini:2: file not found: " + folder + "/missing.jar"},
        {folder + "/nomatch.ini", fixture, folder + "/nomatch.ini:2: no file matches " + folder + "/lib/*.war"},
        {folder + "/png.ini", fixture, folder + "/png.ini:2: " + folder + "/pic.png: is a PNG picture; the splash must be a BMP file"},
        {folder + "/missing.ini", fixture, folder + "/missing.ini: cannot open the file"},
        {config, folder + "/notpe.exe", folder + "/notpe.exe: not a Windows executable (no MZ header)"},
        {config, folder + "/cut.exe", folder + "/cut.exe: not a PE image"},
        {config, folder + "/cuttable.exe", folder + "/cuttable.exe: the section table runs past the end of the file"},
        {config, folder + "/aligned.exe", folder + "/aligned.exe: unusable section or file alignment"},
        {config, TestProgram("fixture-nores-x64"), TestProgram("fixture-nores-x64") + ": the executable has no resources"},
        {config, folder + "/absent.exe", folder + "/absent.exe: cannot open the file"},
    };
    for (const Case& c : cases) {
        CommandResult r = Kestrun("build " + Quote(c.config) + " -o " + Quote(out) + " --launcher " + Quote(c.launcher));
        EXPECT_EQ(r.ExitCode, 1) << c.message;
        EXPECT_EQ(r.Err.compare(0, 9 + c.message.size(), "kestrun: " + c.message), 0) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_FALSE(Exists(out)) << c.message;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 15); // nothing written
}

TEST(BuildCommand, FindsThePrebuiltLauncherOfTheChosenArchitectureBesideItself)
{
    std::string folder = ScratchFolder();
    std::string config = WriteDemoProject(folder);
    std::filesystem::copy_file(KR_TEST_KESTRUN, folder + "/kestrun");
    std::filesystem::copy_file(TestProgram("fixture-x86"), folder + "/kestrun-x86.exe");
    CommandResult r = RunCommand(Quote(folder + "/kestrun") + " build " + Quote(config) + " -o " +
                                 Quote(folder + "/a.exe") + " --arch x86");
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_FALSE(ParsePeImage(ReadWholeFile(folder + "/a.exe"), "a.exe").Is64);
    r = RunCommand(Quote(folder + "/kestrun") + " build " + Quote(config) + " -o " + Quote(folder + "/b.exe"));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find(folder + "/kestrun-x64.exe: cannot open the file"), std::string::npos) << r.Err;
}

// The real prebuilt launchers, once built: a build round-trips through show and is repeatable.
TEST(PrebuiltLaunchers, BuildThenShowGivesTheConfigForBothArchitectures)
{
    for (const char* arch : {"x86", "x64"}) {
        std::string launcher = PrebuiltLauncher(arch);
        if (!Exists(launcher))
            GTEST_SKIP() << launcher << " is not built yet";
        std::string folder = ScratchFolder();
        std::string config = WriteDemoProject(folder);
        Bytes built = Build(config, launcher);
        EXPECT_EQ(built, Build(config, launcher)) << arch;
        EXPECT_EQ(ParsePeImage(built, "built").Is64, std::string(arch) == "x64");
        std::string text = ShowText(built);
        for (const char* line : {"MainClass = org.acme.Demo", "StdoutMode = 2", "ServiceName = GUI",
                                 "MsgAlreadyRunning = Demo is already open.", "; app.jar  13 bytes  ",
                                 "; bitmap 8000: 40 x 10, 24 bits per pixel",
                                 "; icon group 1: 2 images (16x16, 32x32)", "ProductName = Demo"})
            EXPECT_NE(text.find(std::string("\n") + line), std::string::npos) << arch << ": " << line;
        PeImage image = ParsePeImage(built, "built");
        EXPECT_EQ(ReadU32(image.Data, ChecksumOffset(image)), ComputePeChecksum(image.Data, ChecksumOffset(image)));
    }
}

TEST(BuildCommand, ShowReadsTheMainClassInTheCodePageItWasBuiltFor)
{
    std::string folder = ScratchFolder();
    std::string config = folder + "/cyrillic.ini";
    std::string text = "[launcher]\nCodePage = 1251\nMainClass = app.\xD0\x97\xD0\xB0\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA\n";
    WriteBytes(config, Bytes(text.begin(), text.end()));
    std::string out = folder + "/c.exe";
    CommandResult r = RunCommand(Quote(KR_TEST_KESTRUN) + " build " + Quote(config) + " -o " + Quote(out) +
                                 " --launcher " + Quote(TestProgram("fixture-x64")));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    r = RunCommand(Quote(KR_TEST_KESTRUN) + " show " + Quote(out) + " --code-page 1251");
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("\nMainClass = app.\xD0\x97\xD0\xB0\xD0\xBF\xD1\x83\xD1\x81\xD0\xBA\n"), std::string::npos) << r.Out;
    r = RunCommand(Quote(KR_TEST_KESTRUN) + " show " + Quote(out));
    EXPECT_EQ(r.Out.find("\xD0\x97\xD0\xB0\xD0\xBF"), std::string::npos) << "1252 reads other letters";
    r = RunCommand(Quote(KR_TEST_KESTRUN) + " show " + Quote(out) + " --code-page 932");
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("--code-page"), std::string::npos) << r.Err;
}

TEST(FindJavaCommand, OnLinuxSaysTheSearchNeedsWindows)
{
    CommandResult r = Kestrun("find-java " + Quote(TestProgram("fixture-x64")));
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Out.find("needs Windows: run kestrun.exe find-java"), std::string::npos) << r.Out << r.Err;
}
