// The launcher hosting the (test-double) JVM: options, class path, arguments, directories, streams,
// exit codes and every report, seen from outside as a user and the JVM see them.
#include "fixture.h"

#include <set>
#include <vector>

namespace {

const std::vector<std::string> Hooks = {"vfprintf hook", "abort hook", "exit hook"};

std::vector<std::string> WithHooks(std::vector<std::string> options)
{
    options.insert(options.end(), Hooks.begin(), Hooks.end());
    return options;
}

TEST_F(JvmTest, OptionsArriveInOrderWithTheClassPathOptionLast)
{
    Script("out {prop:spaced}|{prop:java.class.path}");
    std::string exe = Build({{"JvmOptions", "-Xmx64m \"-Dspaced=a b\" -Djava.class.path=early"}});
    LauncherRun run = Run(exe);
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Options(), WithHooks({"-Xmx64m", "-Dspaced=a b", "-Djava.class.path=early",
                                    "-Djava.class.path=classes"}));
    EXPECT_EQ(TraceLines(trace_, "create "), std::vector<std::string>{"version=0x00010002 nOptions=7 ignoreUnrecognized=0"});
    EXPECT_EQ(Out(), "a b|classes\r\n");
}

TEST_F(JvmTest, TrailingBlankGivesAnEmptyOptionThatTheJvmRefuses)
{
    Script("out never");
    std::string exe = Build({{"JvmOptions", "-Xmx64m "}});
    LauncherRun run = Run(exe);
    EXPECT_EQ(Options(), WithHooks({"-Xmx64m", "", "-Djava.class.path=classes"}));
    // The JVM's own complaint goes to the vfprintf hook and is never shown: no exit hook ran.
    ExpectOneError(run, "Unable to create JVM instance using " + DoubleJvmPath());
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

TEST_F(JvmTest, EmptyOptionsAndClassPathGiveTheHooksOnly)
{
    // The double's default class path is ".", the executable's folder.
    ASSERT_TRUE(WriteScript(folder_, MainClass(), "out ran"));
    LauncherRun run = Run(Build({{"JvmOptions", ""}, {"ClassPath", ""}}));
    ExpectNoReports(run);
    EXPECT_EQ(Options(), Hooks);
    EXPECT_EQ(Out(), "ran\r\n");
}

// The archives below directory in the order the file system lists them, as the class path names them.
void ListArchives(const std::string& base, const std::string& shown, std::vector<std::string>* archives)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "\\*.*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListArchives(base + "\\" + name, shown + "\\" + name, archives);
        else if (name.size() >= 4 && (_stricmp(name.c_str() + name.size() - 4, ".jar") == 0 ||
                                      _stricmp(name.c_str() + name.size() - 4, ".zip") == 0))
            archives->push_back(shown + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

TEST_F(JvmTest, ClassPathDirectoriesAreFollowedByTheirArchives)
{
    Script("out {prop:java.class.path}");
    for (const char* file : {"lib\\a.jar", "lib\\B.ZIP", "lib\\notes.txt", "lib\\ext\\c.jar", "slash\\d.jar"})
        ASSERT_TRUE(WriteTextFile(folder_ + "\\" + file, "no classes here\n"));
    CreateDirectoryA((folder_ + "\\empty").c_str(), NULL);
    SetEnvironmentVariableA("KR_E2E_LIB", "lib");
    std::vector<std::string> archives;
    ListArchives(folder_ + "\\lib", "lib", &archives);
    ASSERT_EQ(std::set<std::string>(archives.begin(), archives.end()),
              (std::set<std::string>{"lib\\a.jar", "lib\\B.ZIP", "lib\\ext\\c.jar"}));
    std::string expected = "classes;lib";
    for (const std::string& archive : archives)
        expected += ";" + archive;
    // A trailing separator is kept on the entry only; a '%' entry is expanded but never scanned.
    expected += ";missing.jar;empty;slash\\;slash\\d.jar;lib";

    LauncherRun run = Run(Build({{"ClassPath", ";classes;;lib;missing.jar;empty;slash\\;%KR_E2E_LIB%;"}}));
    ExpectNoReports(run);
    EXPECT_EQ(Options(), WithHooks({"-Djava.class.path=" + expected}));
}

TEST_F(JvmTest, VariablesExpandFromTheEnvironmentAndTheFoundHome)
{
    Script("out ran");
    SetEnvironmentVariableA("KR_E2E_QUOTED", "\"C:\\with space\"");
    SetEnvironmentVariableA("KR_E2E_PLAIN", "plain");
    SetEnvironmentVariableA("JAVA_HOME", "C:\\environment home");
    SetEnvironmentVariableA("KR_E2E_LONG", std::string(600, 'L').c_str());
    std::string options = "\"-Da=%KR_E2E_QUOTED%\" -Db=x%KR_E2E_PLAIN%y -Dc=100%% -Dd=[%KR_E2E_UNDEFINED%] "
                          "-De=[%JAVA_HOME%] \"-Df=[%java_home%]\" -Dg=%KR_E2E_LONG% -Dh=abc%def";
    LauncherRun run = Run(Build({{"JvmOptions", options}}));
    ExpectNoReports(run);
    // Method 0 found the runtime: no registered home, so %JAVA_HOME% is empty whatever the environment says.
    EXPECT_EQ(Options(), WithHooks({"-Da=C:\\with space", "-Db=xplainy", "-Dc=100", "-Dd=[]", "-De=[]",
                                    "-Df=[C:\\environment home]", "-Dg=" + std::string(600, 'L'), "-Dh=abcdef",
                                    "-Djava.class.path=classes"}));
}

TEST_F(JvmTest, ArgumentsComeFromTheCommandLineElseAppOptionsElseTheIni)
{
    Script("out {argc}:{args}");
    std::string configured = Build({{"AppOptions", "one \"two three\""}}, "configured.exe");
    Run(configured);
    EXPECT_EQ(Out(), "2:[one][two three]\r\n");
    Run(configured, "x \"y z\"");
    EXPECT_EQ(Out(), "2:[x][y z]\r\n") << "command-line arguments replace the configured ones";

    ASSERT_TRUE(WriteTextFile(folder_ + "\\app.ini", "[Application Configuration]\r\nAppOptions=from ini\r\n"));
    Run(Build({{"AppOptions", "one"}, {"IniFileName", "app.ini"}}, "ini.exe"));
    EXPECT_EQ(Out(), "2:[from][ini]\r\n");

    LauncherRun none = Run(Build({}, "none.exe"));
    ExpectNoReports(none);
    EXPECT_EQ(Out(), "0:\r\n");
    EXPECT_EQ(TraceLines(trace_, "main "), std::vector<std::string>{SlashClass() + " "});
}

TEST_F(JvmTest, NonAsciiArgumentsAndDirectoriesReachJavaIntact)
{
    const std::string argumentUtf8 = "caf\xC3\xA9";        // café
    const std::string directoryUtf8 = "Zo\xC3\xAB dir";    // Zoë dir
    const std::string logUtf8 = "journal-\xC3\xA9.log";    // journal-é.log
    std::string argument = Utf8ToAnsi(argumentUtf8);
    std::string directory = Utf8ToAnsi(directoryUtf8);
    if (AnsiToUtf8(argument) != argumentUtf8 || AnsiToUtf8(directory) != directoryUtf8)
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " cannot hold the test's characters";
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\" + directory).c_str(), NULL));
    Script("out {args} {prop:user.dir}");
    LauncherRun run = Run(Build({{"WorkingDirectory", directoryUtf8}, {"StdoutFile", logUtf8}}),
                          "\"" + argument + "\" plain");
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    std::string out = ReadTextFile(folder_ + "\\" + directory + "\\" + Utf8ToAnsi(logUtf8));
    EXPECT_EQ(out, "[" + argumentUtf8 + "][plain] " + AnsiToUtf8(folder_) + "\\" + directoryUtf8 + "\r\n");
    EXPECT_EQ(TraceLines(trace_, "main "),
              std::vector<std::string>{SlashClass() + " [" + argumentUtf8 + "][plain]"});
}

TEST_F(JvmTest, WorkingDirectorySettingsDecideUserDir)
{
    Script("out {prop:user.dir}");
    std::string data = folder_ + "\\data";
    std::string start = folder_ + "\\start";
    CreateDirectoryA(data.c_str(), NULL);
    CreateDirectoryA(start.c_str(), NULL);
    // With the early change, the JVM is created in data: its relative class path and JvmPath are found there.
    ASSERT_TRUE(WriteScript(data + "\\classes", MainClass(), "out {prop:user.dir}"));
    ASSERT_TRUE(CopyFileA(DoubleJvmPath().c_str(), (data + "\\rt\\jvm.dll").c_str(), FALSE) ||
                (CreateDirectoryA((data + "\\rt").c_str(), NULL) &&
                 CopyFileA(DoubleJvmPath().c_str(), (data + "\\rt\\jvm.dll").c_str(), FALSE)));
    struct Case {
        LauncherKeys Keys;
        std::string ExpectedDirectory;
    };
    const Case cases[] = {
        {{}, folder_},
        {{{"WorkingDirectory", "data"}}, data},
        {{{"UseStartDirectory", "1"}}, start},
        {{{"UseStartDirectory", "1"}, {"WorkingDirectory", "data"}}, start},
        {{{"EarlyWorkingDirectory", "1"}, {"WorkingDirectory", "data"}, {"UseStartDirectory", "1"}, {"JvmPath", "rt\\jvm.dll"}},
         data},
        {{{"EarlyWorkingDirectory", "1"}, {"UseStartDirectory", "1"}}, folder_},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::string exe = Build(c.Keys, "wd" + std::to_string(index++) + ".exe");
        LauncherRun run = Run(exe, "", start);
        ExpectNoReports(run);
        EXPECT_EQ(ReadTextFile(c.ExpectedDirectory + "\\out.log"), c.ExpectedDirectory + "\r\n") << "case " << index;
        DeleteFileA((c.ExpectedDirectory + "\\out.log").c_str());
    }

    LauncherRun late = Run(Build({{"WorkingDirectory", "data"}, {"JvmPath", "rt\\jvm.dll"}}, "late.exe"));
    ExpectOneError(late, "Unable to locate suitable Java Runtime Environment on this machine.");

    LauncherRun missing = Run(Build({{"WorkingDirectory", "nowhere"}}, "missing.exe"));
    ASSERT_EQ(missing.Reports.size(), 1u) << DescribeReports(missing.Reports);
    EXPECT_EQ(missing.Reports[0].Text.rfind("Error accessing file/directory: nowhere\n\nReason: ", 0), 0u)
        << missing.Reports[0].Text;
    EXPECT_EQ(missing.ExitCode, ExitFailure);
}

TEST_F(JvmTest, StreamModeOneFilesAreEmptiedAtEachStart)
{
    Script("out first {args}\nerr warned {args}");
    ASSERT_TRUE(WriteTextFile(folder_ + "\\out.log", "stale output\r\n"));
    ASSERT_TRUE(WriteTextFile(folder_ + "\\err.log", "stale errors\r\n"));
    std::string exe = Build({{"StderrMode", "1"}, {"StderrFile", "err.log"}});
    Run(exe, "1");
    Run(exe, "2");
    EXPECT_EQ(Out(), "first [2]\r\n");
    EXPECT_EQ(ReadTextFile(folder_ + "\\err.log"), "warned [2]\r\n");

    // Modes other than 1 and 2 leave the stream alone: the file is not touched.
    Run(Build({{"StdoutMode", "3"}, {"StderrMode", "0"}}, "untouched.exe"), "3");
    EXPECT_EQ(Out(), "first [2]\r\n");
    EXPECT_EQ(TraceLines(trace_, "System.setOut").size(), 0u);
}

TEST_F(JvmTest, ExitCodesFollowTheRun)
{
    struct Case {
        std::string Script;
        DWORD ExitCode;
        std::vector<std::string> Reports;
    };
    const Case cases[] = {
        {"out fine", 0, {}},
        {"out leaving\nexit 3", 3, {}},
        {"exit -7", (DWORD)-7, {}},
        {"throw java.lang.IllegalStateException boom", ExitFailure, {"Error invoking method: main(java/lang/String[])"}},
    };
    for (const Case& c : cases) {
        Script(c.Script);
        LauncherRun run = Run(Build({{"StderrMode", "1"}, {"StderrFile", "err.log"}}));
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Script;
        ASSERT_EQ(run.Reports.size(), c.Reports.size()) << c.Script << "\n" << DescribeReports(run.Reports);
        for (size_t i = 0; i < c.Reports.size(); ++i)
            EXPECT_EQ(run.Reports[i].Text, c.Reports[i]);
    }
    // The trace of the exception was printed on System.err before the message.
    EXPECT_NE(ReadTextFile(folder_ + "\\err.log").find("java.lang.IllegalStateException: boom"), std::string::npos);
}

TEST_F(JvmTest, NonDaemonThreadsKeepTheProcessAlive)
{
    Script("thread worker\n  sleep 400\n  out worker done\nend\nout main done");
    LauncherRun run = Run(Build());
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "main done\r\nworker done\r\n");
    std::string trace = ReadTextFile(trace_);
    size_t threadEnd = trace.find("[worker] thread-end");
    ASSERT_NE(threadEnd, std::string::npos) << trace;
    EXPECT_LT(threadEnd, trace.find("destroyed")) << "DestroyJavaVM waited for the worker";
}

TEST_F(JvmTest, JvmTextIsShownBeforeAnExitFromAnotherThread)
{
    // main throws (the JVM prints the prefix of the trace through the vfprintf hook), the launcher
    // reports it, and a non-daemon thread ends the process later with System.exit(0).
    Script("thread late\n  sleep 300\n  out late exit\n  exit 0\nend\nthrow java.lang.IllegalStateException boom");
    LauncherRun run = Run(Build());
    EXPECT_EQ(run.ExitCode, 0u) << "the status given to System.exit";
    std::multiset<std::string> texts;
    for (const SeenReport& report : run.Reports)
        texts.insert(report.Caption + ": " + report.Text);
    EXPECT_EQ(texts, (std::multiset<std::string>{"Error: Error invoking method: main(java/lang/String[])",
                                                  "Error: Exception in thread \"main\" "}))
        << DescribeReports(run.Reports);
    EXPECT_EQ(Out(), "late exit\r\n");
    EXPECT_EQ(TraceLines(trace_, "exit-hook "), std::vector<std::string>{"0"});
}

TEST_F(JvmTest, AbortShowsTheJvmTextFirst)
{
    Script("out before\nabort broken state");
    LauncherRun run = Run(Build());
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Caption, "Error");
    EXPECT_NE(run.Reports[0].Text.find("FATAL ERROR in native method: broken state"), std::string::npos)
        << run.Reports[0].Text;
    EXPECT_NE(run.ExitCode, 0u);
    EXPECT_EQ(TraceLines(trace_, "abort-hook").size(), 1u);
}

TEST_F(JvmTest, RuntimeLoadingFailuresNameThePath)
{
    std::string notADll = folder_ + "\\bad\\jvm.dll";
    ASSERT_TRUE(WriteTextFile(notADll, "this is no DLL"));
    std::string noEntry = WindowsPath(KESTRUN_NOENTRY_DLL_PATH);
    struct Case {
        LauncherKeys Keys;
        std::string Message;
        std::string Extra = {};
    };
    const std::string noJre = "Unable to locate suitable Java Runtime Environment on this machine.";
    const Case cases[] = {
        {{{"JvmPath", ""}}, noJre},
        {{{"JvmPath", "absent.dll;also\\absent.dll"}}, noJre},
        {{{"JreSearchOrder", "x9"}}, noJre},
        {{{"JreSearchOrder", ""}}, noJre},
        {{{"JvmPath", "absent.dll;" + notADll}}, "Unable to load JVM: " + notADll},
        {{{"JvmPath", noEntry}}, "Unable to locate JNI interfaces in " + noEntry},
        {{{"JvmOptions", "--bogus"}}, "Unable to create JVM instance using " + DoubleJvmPath()},
        {{{"JvmOptions", "--bogus"}}, "JVM " + DoubleJvmPath() + " said no.", "[messages]\n1632 = JVM %s said no.\n"},
    };
    int index = 0;
    for (const Case& c : cases) {
        LauncherRun run = Run(Build(c.Keys, "load" + std::to_string(index++) + ".exe", c.Extra));
        ExpectOneError(run, c.Message);
        EXPECT_EQ(run.ExitCode, ExitFailure) << c.Message;
    }
}

TEST_F(JvmTest, JavaSideFailuresReportTheirMessages)
{
    Script("out never");
    LauncherRun missingClass = Run(Build({{"MainClass", MainClass() + "Missing"}}, "missing.exe"));
    ExpectOneError(missingClass, "Error locating class: " + SlashClass() + "Missing");
    EXPECT_EQ(missingClass.ExitCode, ExitFailure);

    LauncherRun badFile = Run(Build({{"StdoutFile", "no such folder\\out.log"}}, "badfile.exe"));
    ExpectOneError(badFile, "Error instantiating object: java/io/FileOutputStream");
    EXPECT_EQ(badFile.ExitCode, ExitFailure);
    EXPECT_EQ(TraceLines(trace_, "main ").size(), 0u) << "main is not called after a failed redirection";

    LauncherRun custom = Run(Build({{"MainClass", "e2e.Absent"}}, "custom.exe", "[messages]\n1664 = No class %s here.\n"));
    ExpectOneError(custom, "No class e2e/Absent here.");
}

} // namespace
