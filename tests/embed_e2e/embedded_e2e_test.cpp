// Embedded files seen from outside: launchers carrying files (made with the builder) extract them
// into the folder the stored main class names, run the main class from them, and leave them to the
// cleanup child.
#include "fixture.h"

#include "scramble.h"

#include <string>
#include <vector>

namespace {

uint64_t LastWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool SetLastWriteTime(const std::string& path, uint64_t time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME stored = {(DWORD)time, (DWORD)(time >> 32)};
    bool ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, NULL, NULL, &stored);
    CloseHandle(file);
    return ok;
}

// Waits until the path is gone (a cleanup child works on its own); false after timeoutMs.
bool WaitUntilGone(const std::string& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (PathExists(path)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        WaitForSingleObject(GetCurrentThread(), 50);
    }
    return true;
}

const uint64_t TimeA = 0x01D9123456789ABCull;
const uint64_t TimeB = 0x01D8000000000001ull;

class EmbeddedTest : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        char scrambled[2 * SCRAMBLE_MAX_PLAIN + 1];
        ASSERT_TRUE(ScrambleText(MainClass().c_str(), scrambled, sizeof(scrambled)));
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        extracted_ = std::string(temp) + scrambled;
        RemoveFolder();
        // The main class lives in b.jar; a.jar is data; empty.txt has no bytes.
        ASSERT_TRUE(WriteTextFile(Source("a.jar"), "first jar's bytes"));
        ASSERT_TRUE(WriteTextFile(Source("b.jar"), "== " + SlashClass() + "\nout ran from b.jar\n"));
        ASSERT_TRUE(WriteTextFile(Source("empty.txt"), ""));
        ASSERT_TRUE(SetLastWriteTime(Source("a.jar"), TimeA));
        ASSERT_TRUE(SetLastWriteTime(Source("b.jar"), TimeB));
        keys_["ClassPath"] = "";
    }
    void TearDown() override { RemoveFolder(); }
    void RemoveFolder()
    {
        for (const char* name : {"a.jar", "b.jar", "empty.txt"})
            DeleteFileA(In(name).c_str());
        RemoveDirectoryA(extracted_.c_str());
    }
    std::string Source(const std::string& name) { return folder_ + "\\files\\" + name; }
    std::string In(const std::string& name) { return extracted_ + "\\" + name; }
    std::string WithFiles(const LauncherKeys& changes = {}, const std::string& exe = "app.exe")
    {
        return Build(changes, exe, "[files]\nFile = files\\a.jar\nFile = files\\b.jar\nFile = files\\empty.txt\n");
    }
    std::string ClassPathSeen()
    {
        std::vector<std::string> lines = TraceLines(trace_, "property java.class.path=");
        return lines.empty() ? "(none)" : lines[0];
    }
    std::string Extracted() { return In("a.jar") + ";" + In("b.jar") + ";" + In("empty.txt"); }

    std::string extracted_;
};

TEST_F(EmbeddedTest, LauncherWithoutFilesCreatesNoFolder)
{
    Script("out ran");
    keys_["ClassPath"] = "classes";
    LauncherRun run = Run(Build());
    ExpectNoReports(run);
    EXPECT_EQ(Out(), "ran\r\n");
    EXPECT_FALSE(PathExists(extracted_));
    EXPECT_EQ(ClassPathSeen(), "classes");
}

TEST_F(EmbeddedTest, FilesAreExtractedWithTheirTimesAndPutOnTheClassPath)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", Extracted()},
        {"classes", "classes;" + Extracted()},
        {"classes;", "classes;" + Extracted()},
    };
    int index = 0;
    for (const auto& [configured, expected] : cases) {
        LauncherRun run = Run(WithFiles({{"ClassPath", configured}}, "app" + std::to_string(index++) + ".exe"));
        ExpectNoReports(run);
        EXPECT_EQ(run.ExitCode, 0u);
        EXPECT_EQ(ClassPathSeen(), expected) << "ClassPath \"" << configured << "\"";
        EXPECT_EQ(Out(), "ran from b.jar\r\n");
    }
    EXPECT_EQ(TraceLines(trace_, "load "), std::vector<std::string>{SlashClass() + " from " + In("b.jar")});
    EXPECT_EQ(ReadTextFile(In("a.jar")), "first jar's bytes");
    EXPECT_EQ(LastWriteTime(In("a.jar")), TimeA);
    EXPECT_EQ(LastWriteTime(In("b.jar")), TimeB);
    ASSERT_TRUE(PathExists(In("empty.txt")));
    EXPECT_EQ(ReadTextFile(In("empty.txt")), "");
    EXPECT_EQ(LastWriteTime(In("empty.txt")), LastWriteTime(Source("empty.txt")));
}

TEST_F(EmbeddedTest, SecondStartWritesNothingAndAChangedTimeIsRewritten)
{
    std::string exe = WithFiles();
    ExpectNoReports(Run(exe));
    // Other bytes of the same size with the stored time: a second start must not touch them.
    ASSERT_TRUE(WriteTextFile(In("a.jar"), "FIRST JAR'S BYTES"));
    ASSERT_TRUE(SetLastWriteTime(In("a.jar"), TimeA));
    ExpectNoReports(Run(exe));
    EXPECT_EQ(ReadTextFile(In("a.jar")), "FIRST JAR'S BYTES");
    // The same bytes with another time: rewritten, and the stored time comes back.
    ASSERT_TRUE(SetLastWriteTime(In("a.jar"), TimeA + 10000000));
    ExpectNoReports(Run(exe));
    EXPECT_EQ(ReadTextFile(In("a.jar")), "first jar's bytes");
    EXPECT_EQ(LastWriteTime(In("a.jar")), TimeA);
}

TEST_F(EmbeddedTest, FileHeldOpenByARunningInstanceIsSkippedAndStaysOnTheClassPath)
{
    std::string exe = WithFiles();
    ExpectNoReports(Run(exe));
    ASSERT_TRUE(WriteTextFile(In("a.jar"), "the running instance's version"));
    HANDLE held = CreateFileA(In("a.jar").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LauncherRun run = Run(exe);
    CloseHandle(held);
    ExpectNoReports(run);
    EXPECT_EQ(Out(), "ran from b.jar\r\n");
    EXPECT_EQ(ReadTextFile(In("a.jar")), "the running instance's version");
    EXPECT_EQ(ClassPathSeen(), Extracted());
}

TEST_F(EmbeddedTest, SystemExitStartsTheCleanupChildOnlyWhenRemovalIsOn)
{
    ASSERT_TRUE(WriteTextFile(Source("b.jar"), "== " + SlashClass() + "\nout leaving\nexit 3\n"));
    LauncherRun keep = Run(WithFiles({}, "keep.exe"));
    ExpectNoReports(keep);
    EXPECT_EQ(keep.ExitCode, 3u);
    // A cleanup child would find its parent ended and delete at once; give it time to show.
    EXPECT_FALSE(WaitUntilGone(In("a.jar"), 2000)) << "RemoveExtractedFiles is off: the files stay";

    LauncherRun remove = Run(WithFiles({{"RemoveExtractedFiles", "1"}}, "remove.exe"));
    ExpectNoReports(remove);
    EXPECT_EQ(remove.ExitCode, 3u);
    EXPECT_EQ(Out(), "leaving\r\n");
    EXPECT_TRUE(WaitUntilGone(extracted_, 15000)) << "the cleanup child removes files and folder";
}

TEST_F(EmbeddedTest, CleanupSwitchForAnEndedProcessDeletesAtOnce)
{
    std::string exe = WithFiles();
    LauncherRun first = Run(exe);
    ExpectNoReports(first);
    ASSERT_TRUE(PathExists(In("b.jar")));
    // First with id 0 (no process), from a child whose handle is kept: that one has certainly ended
    // and its id cannot be reused while the handle is open.
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION ended = {};
    std::string commandLine = "\"" + exe + "\" -krremovetemporaryjarfiles 0";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &ended));
    ASSERT_EQ(WaitForSingleObject(ended.hProcess, 10000), (DWORD)WAIT_OBJECT_0);
    EXPECT_FALSE(PathExists(extracted_)) << "id 0 (no such process): deleted without waiting";

    ExpectNoReports(Run(exe));
    ASSERT_TRUE(PathExists(In("b.jar")));
    DWORD start = GetTickCount();
    LauncherRun child = Run(exe, "-krremovetemporaryjarfiles " + std::to_string(ended.dwProcessId));
    EXPECT_LT(GetTickCount() - start, 4000u) << "no wait for a process that has ended";
    ExpectNoReports(child);
    EXPECT_EQ(child.ExitCode, 0u);
    EXPECT_FALSE(PathExists(extracted_));
    CloseHandle(ended.hProcess);
    CloseHandle(ended.hThread);
}

} // namespace
