// The launcher hosting the (test-double) JVM: options, class path, arguments, directories, streams,
// exit codes and every report (with the output captured for it), seen from outside as a user and the JVM see them.
#include "e2e.h"

#include <imagehlp.h>

#include <algorithm>
#include <regex>
#include <sstream>

namespace {

TEST_F(E2eTest, OptionsArriveInOrderWithVariablesExpandedAndTheClassPathOptionLast)
{
    // The runtime is found beside the launcher, so %JAVA_HOME% is that home, not the environment's; a
    // value with blanks stays inside its option. The expansion's own rules (%%, several in one option) are units.
    const std::string home = Home("Program Files\\rt", "17.0.9"), temp = folder_ + "\\John Smith\\Temp";
    char savedTemp[MAX_PATH] = "";
    GetEnvironmentVariableA("TEMP", savedTemp, MAX_PATH);
    SetEnvironmentVariableA("TEMP", temp.c_str());
    SetEnvironmentVariableA("JAVA_HOME", "C:\\environment home");
    SetEnvironmentVariableA("KR_E2E_QUOTED", "\"C:\\with space\"");
    SetEnvironmentVariableA("KESTRUN_LOG", (folder_ + "\\launch.log").c_str());
    Script("out {prop:spaced}|{prop:java.class.path}");
    const std::string options = "-Xmx64m \"-Dspaced=a b\" -Djava.class.path=early \"-Dq=%KR_E2E_QUOTED%\" "
                                "-Du=[%KR_E2E_UNSET%] -Dh=%JAVA_HOME% -Dt=%TEMP% -Ddb.Password=hunter2";
    LauncherRun run =
        Run(Build({{"JreSearchOrder", "B"}, {"BundledRuntime", "Program Files\\rt"}, {"JvmOptions", options}}));
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    SetEnvironmentVariableA("TEMP", savedTemp);
    SetEnvironmentVariableA("KESTRUN_LOG", NULL);
    ExpectNoReports(run);
    std::vector<std::string> received = Options(), logged;
    EXPECT_EQ(received, std::vector<std::string>({"vfprintf hook", "abort hook", "exit hook", "-Xmx64m", "-Dspaced=a b",
                                                  "-Djava.class.path=early", "-Dq=C:\\with space", "-Du=[]", "-Dh=" + home,
                                                  "-Dt=" + temp, "-Ddb.Password=hunter2", "-Djava.class.path=classes"}));
    EXPECT_EQ(Out(), "a b|classes\r\n");
    // The launch log lists the same options in order, a secret's value hidden, and times the JVM's creation.
    for (const std::string& line : Logged("JVM option "))
        logged.push_back(line.substr(line.find(": ") + 2));
    received[10] = "-Ddb.Password=***";
    EXPECT_EQ(logged, received);
    EXPECT_EQ(Logged("JNI_CreateJavaVM returned 0 after ").size(), 1u);
}

// ModuleOptions (a jar's Add-Opens) reach a runtime of Java 17 behind JvmOptions, not one of Java 8, which refuses them.
TEST_F(E2eTest, ModuleOptionsReachOnlyRuntimesOfJava9AndLater)
{
    Script("out ran");
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {"17.0.9", {"-Xss1m", "--add-opens=java.base/java.lang=ALL-UNNAMED", "-Djava.class.path=classes"}},
        {"1.8.0_392", {"-Xss1m", "-Djava.class.path=classes"}}};
    for (const auto& [version, options] : rows) {
        SetEnvironmentVariableA("JAVA_HOME", Home("jdk" + version, version).c_str());
        ExpectNoReports(Run(Build({{"JreSearchOrder", "E"}, {"JvmOptions", "-Xss1m"},
                                   {"ModuleOptions", "--add-opens=java.base/java.lang=ALL-UNNAMED"}})));
        std::vector<std::string> given = Options();
        EXPECT_EQ(std::vector<std::string>(given.begin() + std::min<size_t>(3, given.size()), given.end()), options) << version;
    }
    SetEnvironmentVariableA("JAVA_HOME", NULL);
}

TEST_F(E2eTest, ClassPathFoldersAreFollowedByTheirArchivesRecursively)
{
    Script("out ran");
    for (const char* file : {"lib\\b.jar", "lib\\A.ZIP", "lib\\notes.txt", "lib\\ext\\c.jar", "lib\\ext\\deep\\d.zip",
                             "lib\\m.jar", "lib\\z.jar.txt"})
        ASSERT_TRUE(WriteFile(folder_ + "\\" + file, "no classes here\n"));
    ASSERT_TRUE(CreateDirectoryA((folder_ + "\\empty").c_str(), NULL));
    // "DIR\*" (or "DIR/*") stands for the .jar files of DIR alone, as java -cp reads it.
    ExpectNoReports(Run(Build({{"ClassPath", ";classes;;lib;missing.jar;empty;lib\\ext\\*;lib/*"}})));
    // A folder's entries come in FindFirstFile's order, which under Wine is by name ignoring case; a
    // subfolder's archives come where the subfolder's name sorts.
    EXPECT_EQ(Options(), std::vector<std::string>({"vfprintf hook", "abort hook", "exit hook",
                                                   "-Djava.class.path=classes;lib;lib\\A.ZIP;lib\\b.jar;"
                                                   "lib\\ext\\c.jar;lib\\ext\\deep\\d.zip;lib\\m.jar;missing.jar;empty;"
                                                   "lib\\ext\\c.jar;lib\\b.jar;lib\\m.jar"}));
}

TEST_F(E2eTest, ArgumentsComeFromTheCommandLineElseAppOptionsElseTheIniFile)
{
    Script("out {argc}:{args}|{prop:ini}");
    // Other sections do not count; an empty value keeps the built-in one.
    ASSERT_TRUE(WriteFile(folder_ + "\\app.ini", "[Other]\r\nAppOptions=wrong\r\n[Application Configuration]\r\n"
                                                 "AppOptions=from ini\r\nJvmOptions=-Dini=yes\r\n"));
    ASSERT_TRUE(WriteFile(folder_ + "\\empty.ini", "[Application Configuration]\r\nAppOptions=\r\n"));
    struct Row { LauncherKeys Keys; std::string Arguments, Out; } rows[] = {
        {{}, "", "0:|null\r\n"},
        {{{"AppOptions", "one"}}, "x \"y z\"", "2:[x][y z]|null\r\n"},
        {{{"AppOptions", "one"}, {"IniFileName", "app.ini"}}, "", "2:[from][ini]|yes\r\n"},
        {{{"AppOptions", "one"}, {"IniFileName", "empty.ini"}}, "", "1:[one]|null\r\n"},
        {{{"IniFileName", folder_ + "\\app.ini"}}, "", "2:[from][ini]|yes\r\n"},
        {{{"IniFileName", "app.ini"}}, "\"caf\xC3\xA9\" plain", "2:[caf\xC3\xA9][plain]|yes\r\n"},
    };
    for (const Row& row : rows) {
        ExpectNoReports(Run(Build(row.Keys), row.Arguments));
        EXPECT_EQ(Out(), row.Out) << row.Arguments;
    }
}

TEST_F(E2eTest, WorkingDirectorySettingsDecideUserDir)
{
    const std::string data = folder_ + "\\data", start = folder_ + "\\start", spaced = folder_ + "\\with spaces";
    ASSERT_TRUE(CreateDirectoryA(start.c_str(), NULL));
    // Changed to early, the runtime search and the JVM's class path work from data.
    for (const std::string& root : {folder_, spaced, data})
        ASSERT_TRUE(WriteScript(root + "\\classes", MainClass(), "out {args} {prop:user.dir}"));
    Home("data", "", "rt");
    struct Row { std::string Exe; LauncherKeys Keys; std::string UserDir; } rows[] = {
        {"app.exe", {}, folder_},
        {"with spaces\\my app.exe", {}, spaced},
        {"app.exe", {{"WorkingDirectory", "data"}}, data},
        {"app.exe", {{"UseStartDirectory", "1"}}, start},
        {"app.exe", {{"UseStartDirectory", "1"}, {"WorkingDirectory", "data"}}, start},
        {"app.exe", {{"EarlyWorkingDirectory", "1"}, {"WorkingDirectory", "data"}, {"JvmPath", "rt\\jvm.dll"}}, data},
    };
    for (const Row& row : rows) {
        ExpectNoReports(Run(Build(row.Keys, row.Exe), "one \"two three\"", start));
        EXPECT_EQ(ReadFile(row.UserDir + "\\out.log"), "[one][two three] " + row.UserDir + "\r\n");
        DeleteFileA((row.UserDir + "\\out.log").c_str());
    }
    ExpectOneError(Run(Build({{"WorkingDirectory", "data"}, {"JvmPath", "rt\\jvm.dll"}}), "", start), NoJre("1.4 or later"));
    LauncherRun missing = Run(Build({{"WorkingDirectory", "nowhere"}}));
    ExpectOneError(missing, "Error accessing file/directory: nowhere\n\nReason: File not found.\r\n");
    EXPECT_EQ(missing.ExitCode, ExitFailure);
}

// A failed run's stream file is kept as .1 at the next start (emptied without kept files); one held open
// without renaming is appended to, by Java (no roll size) or the launcher; mode 2 writes what it
// captured to its file; lines may begin with their local time.
TEST_F(E2eTest, StreamFilesKeepTheFailedRunBeforeOrAreEmptied)
{
    Script("err warned {args}\nout said {args}\nthrow java.lang.IllegalStateException x");
    const std::string err = folder_ + "\\err.log", trace = "java.lang.IllegalStateException: x\r\n\tat " +
                                                         MainClass() + ".main(" + name_ + ".java)\r\n";
    const std::regex stamp("(^|\n)\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d ");
    const struct { LauncherKeys Keys; bool Held; std::string Err, Err1; } rows[] = {
        {{{"StderrKeepFiles", "0"}, {"StderrRollBytes", "0"}}, false, "warned [2]\r\n" + trace, ""},
        {{{"StderrRollBytes", "0"}}, false, "warned [2]\r\n" + trace, "warned [1]\r\n" + trace},  // Java writes
        {{{"StderrRollBytes", "0"}}, true, "warned [1]\r\n" + trace + "warned [2]\r\n" + trace, ""},
        {{{"StdoutMode", "2"}}, false, "warned [2]\r\n" + trace, "warned [1]\r\n" + trace},
        {{{"StderrTimestamps", "1"}}, true, "warned [1]\r\n" + trace + "warned [2]\r\n" + trace, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Err);
        for (const char* file : {"\\err.log", "\\err.log.1", "\\out.log.1"})
            DeleteFileA((folder_ + file).c_str());
        LauncherKeys keys = row.Keys;
        keys.insert({{"StderrMode", "1"}, {"StderrFile", "err.log"}});
        std::string exe = Build(keys);
        HANDLE held = row.Held ? CreateFileA(err.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                             CREATE_ALWAYS, 0, NULL) : INVALID_HANDLE_VALUE;
        for (std::string argument : {"1", "2"}) {
            LauncherRun run = Run(exe, argument);
            ExpectOneError(run, "Error invoking method: main(java/lang/String[])");
            EXPECT_EQ(run.Reports[0].Details, keys.count("StdoutMode") ? "said [" + argument + "]\r\n" : "");
        }
        if (row.Held)
            CloseHandle(held);
        std::string text = ReadFile(err), bare = std::regex_replace(text, stamp, "$1");
        EXPECT_EQ(bare, row.Err);
        EXPECT_EQ(text.size() - bare.size(), keys.count("StderrTimestamps") ? 30 * 6 : 0);  // one on each of 6 lines
        EXPECT_EQ(ReadFile(err + ".1"), row.Err1);
        EXPECT_EQ(ReadFile(folder_ + "\\out.log.1") + Out(), "said [1]\r\nsaid [2]\r\n");
    }
}

// About 26 MB in lines of up to 1000 bytes (the number, dots, CR LF), rolling at the builder's 10 MB:
// files of at most 10 MB ending with a whole line, every line once and in order, the oldest first.
TEST_F(E2eTest, AStreamFileRollsAtItsSizeByWholeLines)
{
    const int count = 26300;
    const std::string dots(1000 - 5 - 2, '.');
    Script("repeat " + std::to_string(count) + " out {i}" + dots);
    ExpectNoReports(Run(Build()));
    std::string all;
    for (const char* name : {"\\out.log.2", "\\out.log.1", "\\out.log"}) {
        std::string text = ReadFile(folder_ + name);
        EXPECT_LE(text.size(), 10485760u) << name;
        ASSERT_GT(text.size(), 4000000u) << name;
        EXPECT_EQ(text.back(), '\n') << name;
        all += text;
    }
    std::string expected;
    for (int i = 0; i < count; i++)
        expected += std::to_string(i) + dots + "\r\n";
    EXPECT_TRUE(all == expected) << "the lines differ from the program's";
    // Both streams in one file: one writer, each line whole, none lost (the two pipes' order is free).
    Script("out one\nerr two\nout three");
    ExpectNoReports(Run(Build({{"StderrMode", "1"}, {"StderrFile", "out.log"}})));
    std::vector<std::string> lines;
    std::istringstream both(Out());
    for (std::string line; std::getline(both, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, std::vector<std::string>({"one\r", "three\r", "two\r"}));
}

TEST_F(E2eTest, ExitCodesAndReportsFollowHowTheProgramEnded)
{
    const std::string notADll = folder_ + "\\bad\\jvm.dll", noEntry = WindowsPath(KESTRUN_NOENTRY_DLL_PATH);
    const std::string warnAndLogGc = "-Xmx32g -XX:+UseCompressedOops -Xlog:gc:file=gc.log", old8 = Home("jdk8", "1.8.0_392");
    ASSERT_TRUE(WriteFile(notADll, "this is no DLL"));
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    keys_["StderrMode"] = "1";
    keys_["StderrFile"] = "err.log";
    SetEnvironmentVariableA("KESTRUN_LOG", (folder_ + "\\launch.log").c_str());
    struct Row {
        std::string Script;
        LauncherKeys Keys;
        DWORD ExitCode;
        std::string Out, Report = "";  // Report: the one error box's text; "" for none
        std::string Details = "";  // the error dialog's details: what the search considered, what the JVM said
        std::vector<std::string> Log = {};  // the beginnings of steps of the launch log, in their order
        std::string JavaHome = "";
    } rows[] = {
        {"out fine", {}, 0, "fine\r\n", "", "",
         {"main(String[]) of ", "main(String[]) returned", "the launcher ends with exit code 0"}},
        {"exit -7", {}, (DWORD)-7, "", "", "", {"System.exit(-7): the process ends with exit code -7"}},
        {"thread worker\n  sleep 1000\n  out worker done\nend\nout main done", {}, 0, "main done\r\nworker done\r\n"},
        {"out never", {{"MainClass", "java.lang.System"}}, ExitFailure, "",
         "Error locating method: main(java/lang/String[])"},
        {"out before\nabort broken state", {}, 3, "before\r\n", "FATAL ERROR in native method: broken state\n", "",
         {"main(String[]) of ", "the JVM aborted: the process ends with exit code 3"}},
        // The JVM's own output goes where the JVM sends it; only a failed program shows what reached stdout/stderr.
        {"gc\nexit 5", {{"JvmOptions", warnAndLogGc}}, 5, "", "OpenJDK 64-Bit Server VM warning: "},
        {"gc\nexit 0", {{"JvmOptions", warnAndLogGc}}, 0, ""},  // the last to write gc.log
        // Failures to load or create the JVM name the path.
        {"out never", {{"JvmPath", "absent\\jvm.dll"}, {"JreSearchOrder", "0E"}}, ExitFailure, "", NoJre("1.4 or later"),
         "Search order \"0E\":\r\n[0] JvmPath, jvm.dll absent\\jvm.dll: no readable file\r\n"
         "[E] JAVA_HOME: not set\r\n",
         {"runtime search: order \"0E\"", "runtime search: [0] JvmPath, jvm.dll absent\\jvm.dll: no readable file",
          "runtime search: [E] JAVA_HOME: not set", "runtime search: no runtime taken",
          "reported error: This application needs Java 1.4", "the launcher ends with exit code -1"}},
        {"out never", {{"JvmPath", notADll}}, ExitFailure, "", "Unable to load JVM: " + notADll, "",
         {"jvm.dll " + notADll + " could not be loaded"}},
        // The message names the Java the application needs, the details what was passed over in Java versions;
        // JAVA_HOME set to nowhere is named with its path.
        {"out never", {{"JreSearchOrder", "E"}, {"JavaVersion", "17"}}, ExitFailure, "", NoJre("17 or later"),
         "Search order \"E\":\r\n[E] JAVA_HOME, home " + old8 + ", version 1.8.0_392: Java 1.8.0_392 is older than the "
         "Java 17 this application needs\r\n", {}, old8},
        {"out never", {{"JreSearchOrder", "E"}, {"JavaVersion", "1.8"}, {"JavaMaxVersion", "11"}}, ExitFailure, "",
         NoJre("8 to 11"), "Search order \"E\":\r\n[E] JAVA_HOME, home " + folder_ + "\\nowhere: the folder does not exist\r\n",
         {}, folder_ + "\\nowhere"},
        {"out never", {{"JvmPath", noEntry}}, ExitFailure, "", "Unable to locate JNI interfaces in " + noEntry},
        // The hooks come first, so the runtime's complaint about an option reaches the details.
        {"out never", {{"JvmOptions", "-Xmx64m --foo"}}, ExitFailure, "",
         "Unable to create JVM instance using " + DoubleJvmPath(), "Unrecognized option: --foo\r\n",
         {"JVM option 4: --foo", "JNI_CreateJavaVM returned -1 after "}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Script + " / " + row.Report);
        Script(row.Script);
        DeleteFileA((folder_ + "\\out.log").c_str());
        DeleteFileA((folder_ + "\\launch.log").c_str());
        SetEnvironmentVariableA("JAVA_HOME", row.JavaHome.empty() ? NULL : row.JavaHome.c_str());
        LauncherRun run = Run(Build(row.Keys));
        EXPECT_EQ(run.ExitCode, row.ExitCode);
        EXPECT_EQ(Out(), row.Out);
        if (row.Report.empty())
            EXPECT_TRUE(run.Reports.empty()) << DescribeReports(run.Reports);
        else
            ExpectOneError(run, row.Report);
        EXPECT_EQ(run.Reports.empty() ? "" : run.Reports[0].Details, row.Details);
        std::vector<std::string> steps = Logged();
        auto step = steps.begin();
        for (const std::string& start : row.Log)
            EXPECT_NE(step = std::find_if(step, steps.end(), [&](const std::string& s) { return s.rfind(start, 0) == 0; }),
                      steps.end()) << start;
    }
    EXPECT_NE(ReadFile(folder_ + "\\gc.log").find("[gc] GC(0) Pause Full (System.gc())"), std::string::npos);
    // Captioned with the product name; a message in Japanese (CodePage 932) is shown exactly, whatever the
    // ANSI code page of the machine.
    const std::string japanese = "Java\u304C\u898B\u3064\u304B\u308A\u307E\u305B\u3093 (%s)";
    LauncherRun named = Run(Build({{"JreSearchOrder", "E"}, {"CodePage", "932"}}, "app.exe",
                                  "[version]\nProductName = Demo Tool\n[messages]\nMsgNoJre = " + japanese + "\n"));
    ASSERT_EQ(named.Reports.size(), 1u) << DescribeReports(named.Reports);
    EXPECT_EQ(named.Reports[0].Caption + "|" + named.Reports[0].Text,
              "Demo Tool|Java\u304C\u898B\u3064\u304B\u308A\u307E\u305B\u3093 (Java 1.4 or later)");
    SetEnvironmentVariableA("KESTRUN_LOG", NULL);  // the launch log has it as UTF-8 too
    std::vector<std::string> steps = Logged();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "reported error: " + named.Reports[0].Text), steps.end());
}

// Console = yes: the console subsystem as the system reads it, reports as lines on standard error (a window only
// without one). Console = attach: the same when the parent has a console (cmd given one), else a window program.
TEST_F(E2eTest, ConsoleProgramsHaveTheConsoleSubsystemAndReportOnStandardError)
{
    const std::string streams = folder_ + "\\std", noJre = NoJre("1.4 or later");
    std::string exe = Build({{"Console", "yes"}});
    LOADED_IMAGE image;  // the system's own reading of the header and the checksum
    ASSERT_TRUE(MapAndLoad(&exe[0], NULL, &image, FALSE, TRUE));
    EXPECT_EQ(image.FileHeader->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    UnMapAndLoad(&image);
    DWORD stored = 0, computed = 1;
    EXPECT_TRUE(MapFileAndCheckSumA(exe.c_str(), &stored, &computed) == CHECKSUM_SUCCESS && stored == computed);
    const struct { const char* Console; DWORD Flags; bool FromCmd, Window; } rows[] = {
        {"yes", 0, false, false}, {"yes", DETACHED_PROCESS, false, true},  // detached: no standard error at all
        {"attach", CREATE_NEW_CONSOLE, true, false}, {"attach", 0, false, true},  // this program has no console
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Console) + " " + std::to_string(row.Flags));
        exe = Build({{"Console", row.Console}, {"JvmPath", "absent\\jvm.dll"}});
        DeleteFileA((streams + ".err").c_str());
        LauncherRun run = RunAndWatch(row.FromCmd ? "C:\\windows\\system32\\cmd.exe" : exe, row.FromCmd ? "/c \"" + exe + "\"" : "",
                          folder_, 30000, row.Flags == DETACHED_PROCESS ? "" : streams, row.Flags);
        EXPECT_TRUE(run.Ended && run.ExitCode == ExitFailure) << run.ExitCode;
        EXPECT_EQ(ReadFile(streams + ".err"), row.Window ? "" : noJre + "\r\n\r\nDetails:\r\nSearch order \"0\":\r\n"
                                                                  "[0] JvmPath, jvm.dll absent\\jvm.dll: no readable file\r\n");
        row.Window ? ExpectOneError(run, noJre) : ExpectNoReports(run, ExitFailure);
    }
}

// Output capture: with StdoutMode/StderrMode 2 what a failing program printed last shows in the
// details of the launcher's error dialog; without captured text the error is a plain box.
TEST_F(E2eTest, FailingProgramShowsItsLastOutputInTheErrorDialog)
{
    // short line 1519 .. short line 1999: the last whole lines that fit in 8191 characters (481 of 17).
    std::string lastShortLines;
    for (int i = 1519; i < 2000; i++)
        lastShortLines += "short line " + std::to_string(i) + "\r\n";
    const std::string trace = "java.lang.IllegalStateException: boom\r\n\tat " + MainClass() + ".main(" + name_ +
                              ".java)\r\n";
    // The program sleeps between streams: the two streams' readers append in the order they read.
    const struct { const char* Name; std::string Script, StderrMode, Details; } cases[] = {  // Details "": a plain box
        {"interleaved", "out one\nsleep 300\nerr two\nsleep 300\nout three\nsleep 300\nthrow "
                        "java.lang.IllegalStateException boom",
         "2", "one\r\ntwo\r\nthree\r\n" + trace},
        {"unfinished line", "out complete\nout+ unfinished\nthrow java.lang.IllegalStateException x", "0",
         "complete\r\n"},
        {"limit", "repeat 2000 out short line {i}\nthrow java.lang.IllegalStateException x", "0", lastShortLines},
        {"nothing", "throw java.lang.IllegalStateException x", "0", ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        Script(test.Script);
        LauncherRun run = Run(Build({{"StdoutMode", "2"}, {"StderrMode", test.StderrMode}}));
        EXPECT_EQ(run.ExitCode, ExitFailure);
        ExpectOneError(run, "Error invoking method: main(java/lang/String[])"); // returns on no report
        EXPECT_EQ(run.Reports[0].IsErrorDialog, !test.Details.empty());
        EXPECT_EQ(run.Reports[0].Details, test.Details);
    }
}

} // namespace
