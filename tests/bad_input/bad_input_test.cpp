// The bad-input sweep: oversized INI lines with binary bytes, long command lines and class path
// entries, registry values of the wrong type and length, a jvm.dll that is not a DLL. Each run must
// end by itself with either the program's normal result or one clear report and a failure exit code.
#include "fixture.h"

#include "scramble.h"

#include <string>

namespace {

class BadInput : public JvmTest {};

const char* const JreKey = "Software\\JavaSoft\\Java Runtime Environment";
const char* const JdkKey = "Software\\JavaSoft\\Java Development Kit";

void SetRegistryValue(const std::string& key, const char* name, DWORD type, const std::string& bytes)
{
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL), 0) << key;
    ASSERT_EQ(RegSetValueExA(handle, name, 0, type, (const BYTE*)bytes.data(), (DWORD)bytes.size()), 0) << name;
    RegCloseKey(handle);
}

// Replaces the embedded-file archive (RCDATA 16000, language of the launcher) by bytes.
bool ReplaceArchive(const std::string& exe, const std::string& bytes)
{
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    if (update == NULL)
        return false;
    bool ok = UpdateResourceA(update, (LPCSTR)RT_RCDATA, MAKEINTRESOURCEA(16000), 0x409, (void*)bytes.data(),
                              (DWORD)bytes.size());
    return EndUpdateResourceA(update, !ok) && ok;
}

// One archive entry as the format lays it out, with a size field that may lie.
std::string ArchiveEntry(const std::string& name, const std::string& data, uint32_t statedSize)
{
    std::string entry = name + std::string(1, '\0') + std::string(8, '\1');
    for (int shift = 0; shift < 32; shift += 8)
        entry += (char)(statedSize >> shift);
    return entry + data;
}

std::string ArchiveCount(uint32_t count)
{
    return std::string{(char)count, (char)(count >> 8), (char)(count >> 16), (char)(count >> 24)};
}

std::string Text(const std::string& text)
{
    return std::string(text.c_str(), text.size() + 1); // with its terminator, as REG_SZ stores it
}

} // namespace

TEST_F(BadInput, IniFileWithHugeLinesAndBinaryBytesIsReadWhole)
{
    Script("out {argc}|{arg:0}|{prop:big}");
    std::string big(100000, 'x'), argument(100000, 'a');
    std::string binary;
    for (int i = 0; i < 100000; i++)
        binary += (char)(i % 256 == '\n' ? 1 : i % 256);
    std::string ini = "[Application Configuration]\r\n" + binary + "\r\nJvmOptions=-Dbig=" + big + "\r\n" +
                      binary + "=" + binary + "\r\nAppOptions=" + argument + "\r\n";
    ASSERT_TRUE(WriteTextFile(folder_ + "\\app.ini", ini));
    LauncherRun run = Run(Build({{"IniFileName", "app.ini"}}));
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "1|" + argument + "|" + big + "\r\n");
}

TEST_F(BadInput, CommandLineOf32000CharactersReachesMainWhole)
{
    Script("out {argc}|{arg:0}|{arg:999}");
    std::string arguments;
    for (int i = 0; i < 1000; i++)
        arguments += (i ? " " : "") + std::string(30, (char)('a' + i % 26));
    ASSERT_GT(arguments.size(), 30000u);
    LauncherRun run = Run(Build(), arguments);
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "1000|" + std::string(30, 'a') + "|" + std::string(30, 'a' + 999 % 26) + "\r\n");
}

TEST_F(BadInput, ClassPathEntriesOf300CharactersAreKeptWhole)
{
    Script("out ran");
    std::string longEntry = "missing\\" + std::string(292, 'd');
    std::string longArchive = std::string(296, 'j') + ".jar";
    LauncherRun run = Run(Build({{"ClassPath", longEntry + ";classes;" + longArchive + ";%NOT_SET%" + std::string(290, 'v')}}));
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "ran\r\n");
    std::vector<std::string> options = Options();
    ASSERT_EQ(options.size(), 4u) << "the class path option, then the three hooks";
    EXPECT_EQ(options[0], "-Djava.class.path=" + longEntry + ";classes;" + longArchive + ";" + std::string(290, 'v'));
}

TEST_F(BadInput, RegistryValuesOfWrongTypesAndLengthsAreSkipped)
{
    for (const char* key : {JreKey, JdkKey})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    std::string home = folder_ + "\\rt";
    ASSERT_TRUE(CreateDirectoryA(home.c_str(), NULL));
    ASSERT_TRUE(CopyFileA(DoubleJvmPath().c_str(), (home + "\\jvm.dll").c_str(), FALSE));
    std::string tooLong(10000, 'C');
    SetRegistryValue(JreKey, "CurrentVersion", REG_SZ, Text(tooLong));
    SetRegistryValue(std::string(JreKey) + "\\1.5", "JavaHome", REG_DWORD, std::string("\x04\x00\x00\x00", 4));
    SetRegistryValue(std::string(JreKey) + "\\1.5", "RuntimeLib", REG_BINARY, std::string(300, '\x7F'));
    SetRegistryValue(std::string(JreKey) + "\\1.6", "JavaHome", REG_SZ, Text(home + "\\" + tooLong));
    SetRegistryValue(std::string(JreKey) + "\\1.6", "RuntimeLib", REG_SZ, Text(tooLong));
    SetRegistryValue(std::string(JreKey) + "\\1.7", "JavaHome", REG_MULTI_SZ, home + std::string("\0\0", 2));
    SetRegistryValue(std::string(JreKey) + "\\1.7", "RuntimeLib", REG_SZ, home + "\\jvm.dll"); // no terminator
    Script("out ran");
    keys_["JvmPath"] = "";
    keys_["JreSearchOrder"] = "1";
    keys_["JvmOptions"] = "-Dhome=%JAVA_HOME%";
    LauncherRun run = Run(Build());
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    // Only 1.7's RuntimeLib, stored without its terminator, names a usable runtime; its home is unreadable.
    EXPECT_EQ(Out(), "ran\r\n");
    EXPECT_EQ(Options().front(), "-Dhome=");

    SetRegistryValue(std::string(JreKey) + "\\1.7", "RuntimeLib", REG_EXPAND_SZ, Text(tooLong));
    LauncherRun none = Run(Build());
    ExpectOneError(none, "Unable to locate suitable Java Runtime Environment on this machine.");
    EXPECT_EQ(none.ExitCode, ExitFailure);
    for (const char* key : {JreKey, JdkKey})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
}

TEST_F(BadInput, JvmDllThatIsNotADllIsReportedAsUnloadable)
{
    Script("out never");
    for (const std::string& content : {std::string("just text"), std::string("MZ\x90\0\x03", 5), std::string()}) {
        ASSERT_TRUE(WriteTextFile(folder_ + "\\fake\\jvm.dll", content));
        LauncherRun run = Run(Build({{"JvmPath", "fake\\jvm.dll"}}));
        ExpectOneError(run, "Unable to load JVM: fake\\jvm.dll");
        EXPECT_EQ(run.ExitCode, ExitFailure);
        EXPECT_EQ(Out(), "");
    }
}

TEST_F(BadInput, WorkingDirectoryThatVanishedIsReported)
{
    Script("out never");
    std::string data = folder_ + "\\data";
    ASSERT_TRUE(CreateDirectoryA(data.c_str(), NULL));
    std::string exe = Build({{"WorkingDirectory", "data"}});
    ASSERT_TRUE(RemoveDirectoryA(data.c_str()));
    LauncherRun run = Run(exe);
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Caption, "Error");
    EXPECT_EQ(run.Reports[0].Text.rfind("Error accessing file/directory: data", 0), 0u) << run.Reports[0].Text;
    EXPECT_EQ(run.ExitCode, ExitFailure);
    EXPECT_EQ(Out(), "");
}

class BadExtraction : public BadInput {
protected:
    void SetUp() override
    {
        BadInput::SetUp();
        char scrambled[2 * SCRAMBLE_MAX_PLAIN + 1];
        ASSERT_TRUE(ScrambleText(MainClass().c_str(), scrambled, sizeof(scrambled)));
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        extracted_ = std::string(temp) + scrambled;
        ASSERT_TRUE(WriteTextFile(folder_ + "\\files\\app.jar", "== " + SlashClass() + "\nout ran\n"));
        keys_["ClassPath"] = "";
    }
    void TearDown() override
    {
        DeleteFileA((extracted_ + "\\app.jar").c_str());
        RemoveDirectoryA(extracted_.c_str());
    }
    std::string WithFiles() { return Build({}, "app.exe", "[files]\nFile = files\\app.jar\n"); }
    std::string extracted_;
};

TEST_F(BadExtraction, DamagedArchiveResourceIsReportedAndNothingIsWritten)
{
    struct Case {
        std::string Archive, Report;
    };
    const Case cases[] = {
        {std::string("\x02\x00\x00", 3), "Internal error RC000020: the embedded file archive is too short to hold its count."},
        {ArchiveCount(2) + ArchiveEntry("app.jar", "short", 1000),
         "Internal error RC000020: embedded file 1 of 2 runs past the end of the archive."},
        {ArchiveCount(2) + ArchiveEntry("a.jar", "", 0) + ArchiveEntry("b.jar", "x", 0xFFFFFFFF),
         "Internal error RC000020: embedded file 2 of 2 runs past the end of the archive."},
        {ArchiveCount(1) + ArchiveEntry("..\\evil.jar", "x", 1),
         "Internal error RC000021: embedded file 1 has a name that is not a plain file name: \"..\\evil.jar\""},
        {ArchiveCount(1) + "no terminator at all", "Internal error RC000020: embedded file 1 of 1 runs past the end of the archive."},
    };
    for (const Case& c : cases) {
        std::string exe = WithFiles();
        ASSERT_TRUE(ReplaceArchive(exe, c.Archive)) << c.Report;
        LauncherRun run = Run(exe);
        // The run goes on without the files, so the main class they held is missing too.
        ASSERT_EQ(run.Reports.size(), 2u) << DescribeReports(run.Reports);
        EXPECT_EQ(run.Reports[0].Text, c.Report);
        EXPECT_EQ(run.Reports[1].Text, "Error locating class: " + SlashClass());
        EXPECT_EQ(run.ExitCode, ExitFailure) << c.Report;
        EXPECT_FALSE(PathExists(extracted_)) << c.Report;
        EXPECT_EQ(Out(), "") << c.Report;
    }
}

TEST_F(BadExtraction, UnwritableTemporaryFolderIsReported)
{
    // A temporary folder below a plain file: nothing can be created there.
    ASSERT_TRUE(WriteTextFile(folder_ + "\\plain", "a file, not a folder"));
    std::string temp = folder_ + "\\plain\\temp";
    std::string exe = WithFiles();
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", saved, sizeof(saved));
    SetEnvironmentVariableA("TMP", temp.c_str());
    LauncherRun run = Run(exe);
    SetEnvironmentVariableA("TMP", saved[0] ? saved : NULL);
    ASSERT_EQ(run.Reports.size(), 2u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Text.rfind("Error writing to file/directory: " + temp + "\\", 0), 0u) << run.Reports[0].Text;
    EXPECT_EQ(run.Reports[1].Text, "Error locating class: " + SlashClass());
    EXPECT_EQ(run.ExitCode, ExitFailure);
    EXPECT_EQ(Out(), "");
}
