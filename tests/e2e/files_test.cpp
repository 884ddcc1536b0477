// Embedded files: extracted at start into a folder of the temporary directory named by the application's
// identity (or one beside it when that is someone else's), put on the class path behind ClassPath, kept
// when up to date, refused when damaged, and removed by the cleanup child.
#include "e2e.h"

#include <sddl.h>

namespace {

// "e2e.Files" as the launcher stores it: the name of the extraction folder of a launcher without identity.
const char* const Scrambled = "3359517C2451361442";
const FILETIME TimeA = {0x56789ABC, 0x01D91234};
const FILETIME TimeB = {0x00000001, 0x01D80000};

bool HasTime(const std::string& path, FILETIME time)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
           CompareFileTime(&data.ftLastWriteTime, &time) == 0;
}

bool SetLastWrite(const std::string& path, FILETIME time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    bool ok = file != INVALID_HANDLE_VALUE && SetFileTime(file, NULL, NULL, &time);
    CloseHandle(file);
    return ok;
}

// The name the launcher gives its folder and lock: "kestrun-" and the identity the builder stored.
std::string AppName(const std::string& exe)
{
    HMODULE module = LoadLibraryExW(Wide(exe).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    char id[64] = "";
    LoadStringA(module, 2032, id, sizeof(id));
    FreeLibrary(module);
    return std::string("kestrun-") + id;
}

// Gives everyone full access to the folder, as to one planted for others to write.
bool MakeWorldWritable(const std::string& folder)
{
    PSECURITY_DESCRIPTOR sd = NULL;
    bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, NULL) &&
              SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return ok;
}

using namespace std::string_literals;  // "..."s keeps the NULs of an archive's bytes

// Each test has a temporary folder of its own (TMP is what GetTempPath reads first), holding the
// launcher's extraction folder.
class FilesE2eTest : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        GetEnvironmentVariableA("TMP", savedTmp_, sizeof(savedTmp_));
        temp_ = folder_ + "\\temp";
        ASSERT_TRUE(CreateDirectoryA(temp_.c_str(), NULL));
        SetEnvironmentVariableA("TMP", temp_.c_str());
        keys_["MainClass"] = "e2e.Files";
        keys_["ClassPath"] = "";
        // The main class lives in the embedded 50%off.jar (its name reaches Java as it is); b.txt is data.
        ASSERT_TRUE(WriteFile(folder_ + "\\files\\50%off.jar", "== e2e/Files\nout ran {args}\n"));
        ASSERT_TRUE(WriteFile(folder_ + "\\files\\b.txt", "data"));
        ASSERT_TRUE(SetLastWrite(folder_ + "\\files\\50%off.jar", TimeA));
        ASSERT_TRUE(SetLastWrite(folder_ + "\\files\\b.txt", TimeB));
    }
    void TearDown() override { SetEnvironmentVariableA("TMP", savedTmp_[0] ? savedTmp_ : NULL); }
    // Builds exeName with 50%off.jar and b.txt; In() then names its files.
    std::string WithFiles(const LauncherKeys& changes = {}, const std::string& exeName = "app.exe")
    {
        std::string exe = Build(changes, exeName, "[files]\nFile = files\\50%off.jar\nFile = files\\b.txt\n");
        extracted_ = temp_ + "\\" + AppName(exe);
        return exe;
    }
    std::string In(const std::string& name) { return extracted_ + "\\" + name; }

    char savedTmp_[MAX_PATH] = "";
    std::string temp_;
    std::string extracted_;
};

TEST_F(FilesE2eTest, FilesKeepTheirTimesFollowTheClassPathAndAreRewrittenOnlyWhenChanged)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\lib\\50%x.jar", "nothing here"));
    SetEnvironmentVariableA("KR_FILES_EXTRA", "extra.jar");
    // A missing ini file stops nothing.
    std::string exe = WithFiles({{"ClassPath", "lib;%KR_FILES_EXTRA%"}, {"IniFileName", "absent.ini"}});
    const std::vector<std::string> options = {"vfprintf hook", "abort hook", "exit hook",
                                              "-Djava.class.path=lib;lib\\50%x.jar;extra.jar;" + In("50%off.jar") +
                                                  ";" + In("b.txt")};
    ExpectNoReports(Run(exe));
    EXPECT_EQ(Out(), "ran \r\n");
    EXPECT_EQ(Options(), options);
    EXPECT_EQ(ReadFile(In("b.txt")), "data");
    EXPECT_TRUE(HasTime(In("50%off.jar"), TimeA));
    EXPECT_TRUE(HasTime(In("b.txt"), TimeB));
    // Other bytes of the same size with the stored time pass for up to date: a start leaves them.
    ASSERT_TRUE(WriteFile(In("b.txt"), "DATA"));
    ASSERT_TRUE(SetLastWrite(In("b.txt"), TimeB));
    ExpectNoReports(Run(exe));
    EXPECT_EQ(ReadFile(In("b.txt")), "DATA");
    EXPECT_TRUE(HasTime(In("b.txt"), TimeB));
    // Another time: rewritten with the stored bytes and time.
    ASSERT_TRUE(SetLastWrite(In("b.txt"), TimeA));
    ExpectNoReports(Run(exe));
    EXPECT_EQ(ReadFile(In("b.txt")), "data");
    EXPECT_TRUE(HasTime(In("b.txt"), TimeB));
    // Held open by a running instance: skipped, and still on the class path.
    ASSERT_TRUE(WriteFile(In("b.txt"), "the running instance's version"));
    HANDLE held = CreateFileA(In("b.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LauncherRun run = Run(exe);
    CloseHandle(held);
    ExpectNoReports(run);
    EXPECT_EQ(ReadFile(In("b.txt")), "the running instance's version");
    EXPECT_EQ(Options(), options);
}

TEST_F(FilesE2eTest, AFolderOthersMayWriteIsLeftAloneForAFreshOneBesideIt)
{
    // Planted: the folder, world-writable, with a jar of the right size and time that is not the program's.
    const std::string planted = "== e2e/Files\nout RAN {args}\n";
    std::string exe = WithFiles();
    ASSERT_TRUE(WriteFile(In("50%off.jar"), planted) && SetLastWrite(In("50%off.jar"), TimeA));
    ASSERT_TRUE(MakeWorldWritable(extracted_));
    ExpectNoReports(Run(exe));
    EXPECT_EQ(Out(), "ran \r\n");
    EXPECT_EQ(ReadFile(extracted_ + "-1\\b.txt"), "data");
    // The cleanup child empties only the folder that the launcher used.
    ExpectNoReports(Run(exe, "-krremovetemporaryjarfiles 0"));
    EXPECT_FALSE(PathExists(extracted_ + "-1"));
    EXPECT_EQ(ReadFile(In("50%off.jar")), planted);
}

TEST_F(FilesE2eTest, DamagedArchiveOrUnsafeNameIsReportedAndNothingIsWritten)
{
    // A sound first entry "ok.txt" (time 1, 2 bytes), then the fault.
    const std::string count2 = "\2\0\0\0"s;
    const std::string ok = "ok.txt\0\1\0\0\0\0\0\0\0\2\0\0\0hi"s;
    const std::string rest = "\0\1\0\0\0\0\0\0\0\2\0\0\0hi"s;
    const std::string nameFault = "Internal error RC000021: embedded file 2 has a name that is not a plain file name: ";
    const std::pair<std::string, std::string> cases[] = {
        {"\2\0\0"s, "Internal error RC000020: the embedded file archive is too short to hold its count."},
        {count2 + ok + "b.txt\0\1\0\0\0\0\0\0\0\x64\0\0\0hi"s,
         "Internal error RC000020: embedded file 2 of 2 runs past the end of the archive."},
        {count2 + ok + "..\\evil.txt" + rest, nameFault + "\"..\\evil.txt\""},
    };
    Script("out ran");
    keys_["ClassPath"] = "classes";
    keys_["MainClass"] = MainClass();
    for (const auto& [archive, report] : cases) {
        std::string exe = Build(), error;
        ASSERT_TRUE(WriteRawData(exe, 16000, archive, &error)) << error;
        // The launcher goes on without the files: the main class from "classes" runs.
        ExpectOneError(Run(exe), report);
        EXPECT_EQ(Out(), "ran\r\n");
        // Only an empty folder can be removed.
        EXPECT_TRUE(RemoveDirectoryA(temp_.c_str()) && CreateDirectoryA(temp_.c_str(), NULL)) << report;
    }
}

TEST_F(FilesE2eTest, UnwritableTemporaryFolderIsReported)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\plain", "a file, not a folder"));
    std::string exe = WithFiles();
    SetEnvironmentVariableA("TMP", (folder_ + "\\plain\\temp").c_str());
    LauncherRun run = Run(exe);
    ASSERT_EQ(run.Reports.size(), 2u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Text, "Error writing to file/directory: " + folder_ + "\\plain\\temp\\" + AppName(exe) +
                                       "\\50%off.jar\n\nReason: Path not found.\r\n");
    EXPECT_EQ(run.Reports[1].Text, "Error locating class: e2e/Files");
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

TEST_F(FilesE2eTest, CleanupRunsAfterMainReturnsOrWithExactlyAProcessId)
{
    std::string exe = WithFiles();
    // Other forms are ordinary arguments of a start: the program gets them, the files stay.
    const std::pair<std::string, std::string> others[] = {
        {"-krremovetemporaryjarfiles", "ran [-krremovetemporaryjarfiles]\r\n"},
        {"-krremovetemporaryjarfiles 0 1", "ran [-krremovetemporaryjarfiles][0][1]\r\n"},
    };
    for (const auto& [arguments, out] : others) {
        ExpectNoReports(Run(exe, arguments));
        EXPECT_EQ(Out(), out);
        EXPECT_TRUE(PathExists(In("50%off.jar")));
    }
    // 0 names no running process: the files go at once and no program runs.
    ExpectNoReports(Run(exe, "-krremovetemporaryjarfiles 0"));
    EXPECT_FALSE(PathExists(extracted_));
    EXPECT_FALSE(PathExists(trace_));
    // A return from main ends the JVM as System.exit does (see below): the cleanup child starts.
    ASSERT_TRUE(WriteFile(folder_ + "\\files\\50%off.jar", "== e2e/Files\nout leaving\n"));
    ExpectNoReports(Run(WithFiles({{"RemoveExtractedFiles", "1"}})));
    EXPECT_EQ(Out(), "leaving\r\n");
    EXPECT_TRUE(WaitFor([&] { return !PathExists(extracted_); }, 30000)) << "the files stay";
}

// Two applications with one main class, their 50%off.jar files of one size and time (two builds of one
// application too): each has a folder and a lock of its own, so the second runs beside the first and
// each runs its own code. A copy of a launcher shares its lock; a launcher without an identity (built
// before there was one) keeps the folder named by the main class.
TEST_F(FilesE2eTest, ApplicationsWithOneMainClassHaveTheirOwnFilesAndLock)
{
    const std::string title = "held " + name_;
    keys_["AllowMultipleInstances"] = "0";
    std::unique_ptr<Held> held[2];
    HWND windows[2] = {};
    for (int i = 0; i < 2; i++) {
        const std::string jar = "== e2e/Files\nwindow 120000 " + title + "AB"[i] + "\n";
        ASSERT_TRUE(WriteFile(folder_ + "\\files\\50%off.jar", jar) && SetLastWrite(folder_ + "\\files\\50%off.jar", TimeA));
        held[i] = std::make_unique<Held>(WithFiles({}, std::to_string(i) + ".exe"), folder_);
        ASSERT_TRUE(WaitFor([&] { return (windows[i] = FindWindowA(NULL, (title + "AB"[i]).c_str())) != NULL; }, 30000));
        EXPECT_EQ(ReadFile(In("50%off.jar")), jar);
    }
    ASSERT_TRUE(CopyFileA((folder_ + "\\0.exe").c_str(), (folder_ + "\\copy.exe").c_str(), FALSE));
    ExpectOneError(Run(folder_ + "\\copy.exe"), "An instance of this program is already running.");
    for (int i = 0; i < 2; i++) {
        PostMessageA(windows[i], WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(held[i]->Process.hProcess, 30000), WAIT_OBJECT_0);
    }
    ASSERT_TRUE(WriteFile(folder_ + "\\files\\50%off.jar", "== e2e/Files\nout ran\n"));
    std::string exe = WithFiles(), error;
    // The identity's string block with 16 empty entries.
    ASSERT_TRUE(WriteRawData(exe, 2032 / 16 + 1, std::string(32, '\0'), &error, (LPCSTR)RT_STRING)) << error;
    ExpectNoReports(Run(exe));
    EXPECT_TRUE(PathExists(temp_ + "\\" + Scrambled + "\\50%off.jar"));
}

std::string ShortPath(const std::string& path)
{
    wchar_t shortPath[MAX_PATH];
    DWORD length = GetShortPathNameW(Wide(path).c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Utf8(shortPath) : "(no short name: " + path + ")";
}

// A launcher in a folder, a user's temporary folder and arguments outside the ANSI code page: the program gets
// its arguments and user.dir exactly, the runtime (found by each method, in such folders or one the code page only
// approximates: ā, ∞) gets the paths of its option strings by their short names, and the cleanup child finds the files.
TEST_F(FilesE2eTest, FoldersAndArgumentsOutsideTheAnsiCodePageArriveExactly)
{
    ASSERT_EQ(GetACP(), 1252u) << "the session's ANSI code page";
    const std::string app = folder_ + "\\Проверка 日本 🌐";
    const std::string temp = folder_ + "\\Юзер 日本\\Temp", jar = "классы.jar";
    const std::string homes[] = {"", Home("jdk ā∞", "17.0.9"), Home("Проверка 日本 🌐\\rt", "17.0.9")};
    ASSERT_TRUE(WriteFile(app + "\\lib\\" + jar, "no classes here") && WriteFile(temp + "\\keep", ""));
    ASSERT_TRUE(WriteFile(folder_ + "\\files\\50%off.jar", "== e2e/Files\nout {args}|{prop:user.dir}\nexit 0\n"));
    SetEnvironmentVariableW(L"TMP", Wide(temp).c_str());
    SetEnvironmentVariableW(L"JAVA_HOME", Wide(homes[1]).c_str());
    SetEnvironmentVariableW(L"KR_E2E_WORD", L"日本語");
    struct Row { LauncherKeys Keys; std::string Home, Error; } rows[] = {
        {{}, "", ""},
        {{{"JreSearchOrder", "E"}}, homes[1], ""},
        {{{"JreSearchOrder", "B"}, {"BundledRuntime", "rt"}}, homes[2], ""},
        // A text that is no path has no short name: it is named, never passed on as question marks.
        {{{"JvmOptions", "-Dw=%KR_E2E_WORD%"}}, "", "This path cannot be given to Java in the system code page and "
                                                     "has no short name: <U+65E5><U+672C><U+8A9E>"},
    };
    for (Row& row : rows) {
        row.Keys.insert({{"ClassPath", "lib"}, {"JvmOptions", "-Dh=%JAVA_HOME%"}, {"RemoveExtractedFiles", "1"}});
        ASSERT_TRUE(CopyFileW(Wide(WithFiles(row.Keys)).c_str(), Wide(app + "\\app.exe").c_str(), FALSE));
        const std::string name = AppName(app + "\\app.exe"), extracted = ShortPath(temp) + "\\" + name;
        LauncherRun run = Run(app + "\\app.exe", "café 日本語 \"Ω 🌐\"");
        if (!row.Error.empty()) {
            ExpectOneError(run, row.Error);
            continue;
        }
        ExpectNoReports(run);
        EXPECT_EQ(ReadFile(app + "\\out.log"), "[café][日本語][Ω 🌐]|" + app + "\r\n");
        std::string lib = ShortPath(app + "\\lib\\" + jar);
        EXPECT_EQ(Options(), std::vector<std::string>({"vfprintf hook", "abort hook", "exit hook",
                                                       "-Dh=" + (row.Home.empty() ? "" : ShortPath(row.Home)),
                                                       "-Djava.class.path=lib;lib\\" + lib.substr(lib.rfind('\\') + 1) + ";" +
                                                           extracted + "\\50%off.jar;" + extracted + "\\b.txt"}));
        EXPECT_TRUE(WaitFor([&] { return !PathExists(temp + "\\" + name); }, 30000)) << "the files stay";
    }
    // A temporary folder longer than MAX_PATH once read as UTF-16 is reported, never used cut.
    SetEnvironmentVariableW(L"TMP", (Wide(temp) + L"\\" + std::wstring(MAX_PATH, L'\u65e5')).c_str());
    LauncherRun run = Run(app + "\\app.exe");
    ASSERT_FALSE(run.Reports.empty());
    EXPECT_EQ(run.Reports[0].Text, "Error accessing file/directory: TEMP_PATH\n\nReason: " + SystemText(206));
    // The report of a missing class lists the class path, marking only the entries that are not there.
    ASSERT_TRUE(WriteFile(app + "\\hello.jar", "") && CopyFileW(Wide(Build({{"MainClass", "e2e.Missing"},
        {"ClassPath", "hello.jar;gone.jar"}})).c_str(), Wide(app + "\\app.exe").c_str(), FALSE));
    run = Run(app + "\\app.exe");
    EXPECT_EQ(run.ExitCode, ExitFailure);
    ExpectOneError(run, "Error locating class: e2e/Missing");
    EXPECT_EQ(run.Reports.empty() ? "(no report)" : run.Reports[0].Details,
              "Class path given to the JVM:\r\n  hello.jar\r\n  gone.jar   (not found)\r\n");
    SetEnvironmentVariableW(L"JAVA_HOME", NULL);
}

} // namespace
