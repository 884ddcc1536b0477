// Extraction of embedded files and their removal by the cleanup child, on real files under wine64.
// Archives are built in memory byte by byte, so that damaged ones can be made too; the program's own
// RCDATA 16000 serves the cases that go through the resource.
#include "embedded.h"

#include "report.h"
#include "settings.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Entry {
    std::string Name;
    uint64_t Time;
    std::string Data;
};

const uint64_t TimeA = 0x01D9123456789ABCull;
const uint64_t TimeB = 0x01D8000000000001ull;

void PutU32(std::string* out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out->push_back((char)(value >> (8 * i)));
}

// The archive bytes as the builder lays them out, names taken as they stand (unsafe ones too).
std::string ArchiveBytes(const std::vector<Entry>& entries, int64_t count = -1)
{
    std::string out;
    PutU32(&out, count < 0 ? (uint32_t)entries.size() : (uint32_t)count);
    for (const Entry& e : entries) {
        out += e.Name;
        out.push_back('\0');
        PutU32(&out, (uint32_t)e.Time);
        PutU32(&out, (uint32_t)(e.Time >> 32));
        PutU32(&out, (uint32_t)e.Data.size());
        out += e.Data;
    }
    return out;
}

std::vector<Entry> TwoJars()
{
    return {{"a.jar", TimeA, "first jar"}, {"b.jar", TimeB, "second jar, longer"}};
}

std::string TempPath()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    return temp;
}

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
                DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
    DeleteFileA(folder.c_str());
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Contents(const std::string& path)
{
    std::string data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "(missing)";
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, NULL) && read > 0)
        data.append(buffer, read);
    CloseHandle(file);
    return data;
}

uint64_t LastWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Writes data over the file and gives it the last-write time, as a user or another program could.
void Rewrite(const std::string& path, const std::string& data, uint64_t time)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, data.data(), (DWORD)data.size(), &written, NULL);
    FILETIME stored = {(DWORD)time, (DWORD)(time >> 32)};
    EXPECT_TRUE(SetFileTime(file, NULL, NULL, &stored));
    CloseHandle(file);
}

char* HeapText(const std::string& text)
{
    return _strdup(text.c_str());
}

// Each case extracts into a folder of its own, named by a stored main class of its own.
class ExtractionTest : public ::testing::Test {
protected:
    void SetUp() override { UseMainClass(std::string("kr-embedded-") + CurrentName()); }
    void TearDown() override { RemoveTree(folder_); }

    static const char* CurrentName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
    void UseMainClass(const std::string& stored)
    {
        LauncherSettings.ScrambledMainClass = HeapText(stored);
        LauncherSettings.MsgFileAccess = HeapText("File problem: %s");
        LauncherSettings.MsgFileWrite = HeapText("Cannot write: %s");
        SetClassPath("Tamblor.jar");
        ExtractedFileCount = 0;
        folder_ = TempPath() + stored;
        RemoveTree(folder_);
    }
    void SetClassPath(const std::string& text) { LauncherSettings.ClassPath = HeapText(text); }
    std::string In(const std::string& name) { return folder_ + "\\" + name; }

    // Extracts the archive, recording (and closing) every report it shows.
    bool Extract(const std::string& archive)
    {
        ReportWatcher watcher(GetCurrentProcessId());
        bool ok = ExtractArchiveFiles(archive.data(), (DWORD)archive.size());
        watcher.Stop();
        reports_ = watcher.Reports();
        return ok;
    }

    std::string folder_;
    std::vector<SeenReport> reports_;
};

TEST_F(ExtractionTest, ClassPathGetsTheFilesBehindTheConfiguredEntries)
{
    const std::string x = folder_;
    const std::pair<std::string, std::string> cases[] = {
        {"Tamblor.jar", "Tamblor.jar;" + x + "\\a.jar;" + x + "\\b.jar"},
        {"Tamblor.jar;", "Tamblor.jar;" + x + "\\a.jar;" + x + "\\b.jar"},
        {"", x + "\\a.jar;" + x + "\\b.jar"},
        {"lib\\x.jar;;", "lib\\x.jar;;" + x + "\\a.jar;" + x + "\\b.jar"},
    };
    for (const auto& [configured, expected] : cases) {
        SetClassPath(configured);
        ASSERT_TRUE(Extract(ArchiveBytes(TwoJars()))) << DescribeReports(reports_);
        EXPECT_TRUE(reports_.empty()) << DescribeReports(reports_);
        EXPECT_EQ(std::string(LauncherSettings.ClassPath), expected) << "configured \"" << configured << "\"";
    }
    EXPECT_EQ(ExtractedFileCount, 2);
    EXPECT_EQ(Contents(In("a.jar")), "first jar");
    EXPECT_EQ(Contents(In("b.jar")), "second jar, longer");
    EXPECT_EQ(LastWriteTime(In("a.jar")), TimeA);
    EXPECT_EQ(LastWriteTime(In("b.jar")), TimeB);
}

TEST_F(ExtractionTest, ZeroByteEntryBecomesAnEmptyFileWithTheStoredTime)
{
    ASSERT_TRUE(Extract(ArchiveBytes({{"empty.txt", TimeA, ""}, {"a.jar", TimeB, "x"}})));
    ASSERT_TRUE(Exists(In("empty.txt")));
    EXPECT_EQ(Contents(In("empty.txt")), "");
    EXPECT_EQ(LastWriteTime(In("empty.txt")), TimeA);
    EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar;" + In("empty.txt") + ";" + In("a.jar"));
}

TEST_F(ExtractionTest, UpToDateFilesAreNotWrittenAgain)
{
    ASSERT_TRUE(Extract(ArchiveBytes(TwoJars())));
    // Same size, same time, other bytes: only a rewrite would bring the archive's bytes back.
    Rewrite(In("a.jar"), "FIRST JAR", TimeA);
    ASSERT_TRUE(Extract(ArchiveBytes(TwoJars())));
    EXPECT_TRUE(reports_.empty()) << DescribeReports(reports_);
    EXPECT_EQ(Contents(In("a.jar")), "FIRST JAR");
    EXPECT_EQ(Contents(In("b.jar")), "second jar, longer");
}

TEST_F(ExtractionTest, FileWithAnotherTimeOrSizeIsRewrittenWithTheStoredTime)
{
    ASSERT_TRUE(Extract(ArchiveBytes(TwoJars())));
    Rewrite(In("a.jar"), "FIRST JAR", TimeA + 10000000); // one second later
    Rewrite(In("b.jar"), "second jar, longer!", TimeB);  // one byte more
    ASSERT_TRUE(Extract(ArchiveBytes(TwoJars())));
    EXPECT_EQ(Contents(In("a.jar")), "first jar");
    EXPECT_EQ(LastWriteTime(In("a.jar")), TimeA);
    EXPECT_EQ(Contents(In("b.jar")), "second jar, longer");
    EXPECT_EQ(LastWriteTime(In("b.jar")), TimeB);
}

TEST_F(ExtractionTest, FileHeldOpenByARunningInstanceIsSkippedAndStaysOnTheClassPath)
{
    ASSERT_TRUE(Extract(ArchiveBytes(TwoJars())));
    Rewrite(In("a.jar"), "older version", TimeB);
    Rewrite(In("b.jar"), "older", TimeA);
    HANDLE held = CreateFileA(In("a.jar").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SetClassPath("Tamblor.jar");
    bool ok = Extract(ArchiveBytes(TwoJars()));
    CloseHandle(held);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(reports_.empty()) << DescribeReports(reports_);
    EXPECT_EQ(Contents(In("a.jar")), "older version") << "the running instance's file is left alone";
    EXPECT_EQ(Contents(In("b.jar")), "second jar, longer") << "the others are still brought up to date";
    EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar;" + In("a.jar") + ";" + In("b.jar"));
}

TEST_F(ExtractionTest, FileThatCannotBeCreatedStopsExtractionWithTheWriteMessage)
{
    // A plain file where the folder should be: no entry can be created inside it.
    Rewrite(folder_, "not a folder", TimeA);
    ASSERT_FALSE(Extract(ArchiveBytes(TwoJars())));
    ASSERT_EQ(reports_.size(), 1u) << DescribeReports(reports_);
    EXPECT_EQ(reports_[0].Text.rfind("Cannot write: " + In("a.jar") + "\n\nReason: ", 0), 0u) << reports_[0].Text;
    EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar") << "unchanged after a failure";
}

TEST_F(ExtractionTest, ArchivesWithoutFilesCreateNoFolder)
{
    const struct {
        const char* What;
        std::string Archive;
        const char* ClassPath;
    } cases[] = {
        {"one zero byte", std::string(1, '\0'), "Tamblor.jar;"},
        {"no resource data", "", "Tamblor.jar;"},
        {"count 0", ArchiveBytes({}), "Tamblor.jar"},
        {"count 0 and spare bytes", ArchiveBytes({}) + "xyz", "Tamblor.jar"},
    };
    for (const auto& c : cases) {
        SetClassPath("Tamblor.jar;");
        EXPECT_TRUE(Extract(c.Archive)) << c.What;
        EXPECT_TRUE(reports_.empty()) << c.What << ": " << DescribeReports(reports_);
        EXPECT_FALSE(Exists(folder_)) << c.What;
        EXPECT_EQ(ExtractedFileCount, 0) << c.What;
        EXPECT_EQ(std::string(LauncherSettings.ClassPath), c.ClassPath) << c.What;
    }
}

TEST_F(ExtractionTest, DamagedArchivesExtractNothing)
{
    std::string good = ArchiveBytes(TwoJars());
    std::string dataCut = good.substr(0, good.size() - 1);
    std::string headerCut = ArchiveBytes({TwoJars()[0]}, 2) + std::string("b.jar\0", 6) + std::string(11, '\1');
    std::string nameCut = ArchiveBytes({TwoJars()[0]}, 2) + "b.j";
    std::string sizeTooLarge = ArchiveBytes({{"a.jar", TimeA, "abc"}});
    sizeTooLarge[4 + 6 + 8] = 4;
    const struct {
        const char* What;
        std::string Archive;
        const char* Report;
    } cases[] = {
        {"count cut", std::string("\2\0", 2), "Internal error RC000020: the embedded file archive is too short to hold its count."},
        {"three bytes", std::string("\1\0\0", 3), "Internal error RC000020: the embedded file archive is too short to hold its count."},
        {"data cut", dataCut, "Internal error RC000020: embedded file 2 of 2 runs past the end of the archive."},
        {"header cut", headerCut, "Internal error RC000020: embedded file 2 of 2 runs past the end of the archive."},
        {"name cut", nameCut, "Internal error RC000020: embedded file 2 of 2 runs past the end of the archive."},
        {"size too large", sizeTooLarge, "Internal error RC000020: embedded file 1 of 1 runs past the end of the archive."},
        {"count too large", ArchiveBytes(TwoJars(), 3), "Internal error RC000020: embedded file 3 of 3 runs past the end of the archive."},
        {"count huge", ArchiveBytes(TwoJars(), 0xFFFFFFFF), "Internal error RC000020: embedded file 3 of 4294967295 runs past the end of the archive."},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Extract(c.Archive)) << c.What;
        ASSERT_EQ(reports_.size(), 1u) << c.What << ": " << DescribeReports(reports_);
        EXPECT_EQ(reports_[0].Text, c.Report) << c.What;
        EXPECT_FALSE(Exists(folder_)) << c.What << ": not even the intact entries are written";
        EXPECT_EQ(ExtractedFileCount, 0) << c.What;
        EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar") << c.What;
    }
}

TEST_F(ExtractionTest, UnsafeOrOverlongNamesExtractNothing)
{
    std::string tooLongForThePath(255 - 2, 'n'); // a valid name, but the path passes MAX_PATH
    const std::string names[] = {"..\\escaped.jar", "../escaped.jar", "sub\\x.jar", "sub/x.jar", "C:escaped.jar",
                                 "..",             ".",              "",          "a..jar",    "x.jar:alt",
                                 "a.jar.",         std::string(256, 'n')};
    for (const std::string& name : names) {
        EXPECT_FALSE(Extract(ArchiveBytes({TwoJars()[0], {name, TimeA, "evil"}}))) << name;
        ASSERT_EQ(reports_.size(), 1u) << DescribeReports(reports_);
        EXPECT_EQ(reports_[0].Text, "Internal error RC000021: embedded file 2 has a name that is not a plain file "
                                    "name: \"" + name.substr(0, 120) + "\"");
        EXPECT_FALSE(Exists(folder_)) << name;
        EXPECT_FALSE(Exists(TempPath() + "escaped.jar")) << name;
        EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar") << name;
    }
    EXPECT_FALSE(Extract(ArchiveBytes({TwoJars()[0], {tooLongForThePath, TimeA, "x"}})));
    ASSERT_EQ(reports_.size(), 1u) << DescribeReports(reports_);
    EXPECT_EQ(reports_[0].Text, "Internal error RC000021: the path of embedded file 2 is too long: " + folder_ +
                                    "\\" + tooLongForThePath.substr(0, 120));
    EXPECT_FALSE(Exists(folder_));
}

TEST_F(ExtractionTest, OverlongFolderIsReportedWithTheFileAccessMessage)
{
    UseMainClass(std::string(250, 'M'));
    ASSERT_FALSE(Extract(ArchiveBytes(TwoJars())));
    ASSERT_EQ(reports_.size(), 1u) << DescribeReports(reports_);
    EXPECT_EQ(reports_[0].Text.rfind("File problem: " + TempPath() + "MMM", 0), 0u) << reports_[0].Text;
    EXPECT_NE(reports_[0].Text.find("...\n\nReason: "), std::string::npos) << "shown cut, marked";
    EXPECT_EQ(std::string(LauncherSettings.ClassPath), "Tamblor.jar");
}

// The program's own archive (a.jar, b.jar, empty.txt) in the folder its string table names.
class OwnArchive : public ExtractionTest {
protected:
    void SetUp() override { UseMainClass("kr-embedded-own-archive"); }
    void ExtractOwn()
    {
        ExtractEmbeddedFiles();
        ASSERT_EQ(ExtractedFileCount, 3);
        ASSERT_TRUE(Exists(In("a.jar")) && Exists(In("b.jar")) && Exists(In("empty.txt")));
    }
    bool EntriesGone() { return !Exists(In("a.jar")) && !Exists(In("b.jar")) && !Exists(In("empty.txt")); }
    // Starts this program as a helper that lives until the returned event is set.
    PROCESS_INFORMATION StartHelper(HANDLE* release)
    {
        std::string name = std::string("kr-embedded-release-") + CurrentName();
        *release = CreateEventA(NULL, TRUE, FALSE, name.c_str());
        char exe[MAX_PATH];
        GetModuleFileNameA(NULL, exe, sizeof(exe));
        std::string commandLine = "\"" + std::string(exe) + "\" --hold " + name;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        EXPECT_TRUE(CreateProcessA(exe, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
        return process;
    }
};

DWORD WINAPI CleanupThread(void* processId)
{
    RunCleanupChild((unsigned long)(uintptr_t)processId);
    return 0;
}

TEST_F(OwnArchive, ExtractedThenRemovedByACleanupChild)
{
    ExtractOwn();
    EXPECT_EQ(std::string(LauncherSettings.ClassPath),
              "Tamblor.jar;" + In("a.jar") + ";" + In("b.jar") + ";" + In("empty.txt"));
    EXPECT_EQ(Contents(In("b.jar")), "second jar, longer");
    EXPECT_EQ(LastWriteTime(In("a.jar")), 0x01D9000011112222ull);
    // The child waits for this process (up to 5 s), then removes the files and the folder.
    StartCleanupChild();
    DWORD start = GetTickCount();
    while (Exists(folder_) && GetTickCount() - start < 20000)
        WaitForSingleObject(GetCurrentProcess(), 100);
    EXPECT_FALSE(Exists(folder_)) << "the cleanup child removed the folder";
}

TEST_F(OwnArchive, CleanupChildWaitsForALiveParent)
{
    ExtractOwn();
    HANDLE release;
    PROCESS_INFORMATION helper = StartHelper(&release);
    HANDLE cleanup = CreateThread(NULL, 0, CleanupThread, (void*)(uintptr_t)helper.dwProcessId, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(cleanup, 2500), (DWORD)WAIT_TIMEOUT) << "waits while the parent lives";
    EXPECT_TRUE(Exists(In("a.jar")));
    SetEvent(release);
    // Well before the 5 s limit: the child goes on when the parent ends.
    EXPECT_EQ(WaitForSingleObject(cleanup, 1500), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(helper.hProcess, 0), (DWORD)WAIT_OBJECT_0);
    WaitForSingleObject(cleanup, 10000);
    EXPECT_TRUE(EntriesGone());
    EXPECT_FALSE(Exists(folder_));
    CloseHandle(cleanup);
    CloseHandle(helper.hProcess);
    CloseHandle(helper.hThread);
    CloseHandle(release);
}

TEST_F(OwnArchive, CleanupChildForAnEndedProcessDeletesAtOnce)
{
    HANDLE release;
    PROCESS_INFORMATION helper = StartHelper(&release);
    SetEvent(release);
    ASSERT_EQ(WaitForSingleObject(helper.hProcess, 10000), (DWORD)WAIT_OBJECT_0);
    for (unsigned long id : {(unsigned long)helper.dwProcessId, 0ul}) {
        ExtractOwn();
        Rewrite(In("keep.txt"), "not ours", TimeA);
        DWORD start = GetTickCount();
        RunCleanupChild(id);
        EXPECT_LT(GetTickCount() - start, 2000u) << "process id " << id;
        EXPECT_TRUE(EntriesGone()) << "process id " << id;
        EXPECT_EQ(Contents(In("keep.txt")), "not ours") << "only the archive's entries are deleted";
        EXPECT_TRUE(Exists(folder_)) << "a folder holding other files stays";
        DeleteFileA(In("keep.txt").c_str());
    }
    CloseHandle(helper.hProcess);
    CloseHandle(helper.hThread);
    CloseHandle(release);
}

} // namespace
