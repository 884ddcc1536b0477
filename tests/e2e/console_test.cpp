// Command-line tools: console launchers built from a jar with --console, run through cmd in a console of their
// own as a user runs them, and compared with a program that prints its arguments as the C runtime split them.
#include "e2e.h"

namespace {

class ConsoleToolTest : public E2eTest {
protected:
    // folder_\tool.exe from `kestrun build tool.jar --console --main-class CLASS`.
    std::string Tool(const std::string& script)
    {
        return BuildFromJar("tool", "Manifest-Version: 1.0\n", script, {}, "--console --main-class " + MainClass());
    }
    // cmd /c line in the test's folder, in a console of its own; the standard streams in folder_\std.out, .err.
    LauncherRun Cmd(const std::string& line)
    {
        return RunAndWatch("C:\\windows\\system32\\cmd.exe", "/c " + line, folder_, 30000, folder_ + "\\std", CREATE_NEW_CONSOLE);
    }
    std::string Std(const char* stream) { return ReadFile(folder_ + "\\std." + stream); }
};

// Through cmd: the console's streams, stdin, the shell's directory, System.exit's status, 1 for a throwing main, and
// tool | tool. Then two at once (the first waiting in main for its console's input), unless the config asks for one
// instance: then the second start is refused on standard error, with no window, and a non-zero exit code.
TEST_F(ConsoleToolTest, AJarsConsoleToolPrintsReadsEndsWithItsStatusAndRunsBesideItself)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\in.txt", "typed line\r\nsecond\r\n") && CreateDirectoryA((folder_ + "\\cwd").c_str(), 0));
    struct Row { std::string Script, Line; DWORD ExitCode; std::string Out, Err; } rows[] = {
        {"out {argc}{args} in {prop:user.dir}\nerr read {stdin}\nexit 4", "cd cwd && ..\\tool.exe a \"b c\" < ..\\in.txt", 4,
         "2[a][b c] in " + folder_ + "\\cwd\r\n", "read typed line\r\n"},
        {"out before\nthrow java.lang.IllegalStateException boom", "tool.exe", 1, "before\r\n", "Exception in thread \"main\" "
         "java.lang.IllegalStateException: boom\r\n\tat " + MainClass() + ".main(" + name_ + ".java)\r\nError invoking method: "
         "main(java/lang/String[])\r\n"},
        {"out got [{stdin}]", "tool.exe < in.txt | tool.exe", 0, "got [got [typed line]]\r\n", ""},
    };
    for (const Row& row : rows) {
        Tool(row.Script);
        ExpectNoReports(Cmd(row.Line), row.ExitCode);
        EXPECT_EQ(Std("out") + "|" + Std("err"), row.Out + "|" + row.Err) << row.Line;
    }
    // The launcher's own folder, whatever the shell's: in an option, the class path, an argument and a stream file.
    Script("out {argc}{args} {prop:here}");
    Build({{"Console", "yes"}, {"JvmOptions", "-Dhere=%KESTRUN_EXE_DIR%"}, {"ClassPath", "%KESTRUN_EXE_DIR%\\classes"},
           {"AppOptions", "\"%KESTRUN_EXE_DIR%\\a b\""}, {"StdoutFile", "%KESTRUN_EXE_DIR%\\dir.log"}}, "dir.exe");
    ExpectNoReports(Cmd("cd cwd && ..\\dir.exe"));
    EXPECT_EQ(ReadFile(folder_ + "\\dir.log"), "1[" + folder_ + "\\a b] " + folder_ + "\r\n");
    Script("out got [{stdin}]");
    const std::string tool = folder_ + "\\tool.exe",
                      single = Build({{"Console", "yes"}, {"AllowMultipleInstances", "0"}, {"StdoutMode", "0"}}, "one.exe");
    for (const std::string& exe : {tool, single}) {
        DeleteFileA(trace_.c_str());
        Held first(exe, folder_, CREATE_NEW_CONSOLE);
        ASSERT_TRUE(WaitFor([&] { return !TraceLines(trace_, "main ").empty(); }, 30000)) << "not in main: " << exe;
        // Ended: a box would have held the launcher until the watcher closed it, and been seen.
        ExpectNoReports(RunAndWatch(exe, "", folder_, 30000, folder_ + "\\std"), exe == tool ? 0 : ExitFailure);
        EXPECT_EQ(Std("out") + Std("err"), exe == tool ? "got [<eof>]\r\n" : "An instance of this program is already running.\r\n");
        EXPECT_TRUE(first.Running());
    }
}

// Each command line reaches main as the C runtime's argv: the probe program, started the same way, gives the
// expected split (the C runtime's rule since 2008: a doubled quote inside quotes is a quote, and they go on).
TEST_F(ConsoleToolTest, CommandLinesAreSplitAsTheCRuntimeSplitsThem)
{
    Tool("out {argc}{args}");
    const std::pair<std::string, std::string> rows[] = {
        {"a  b", "2[a][b]"}, {"x y   2>nul", "2[x][y]"}, {"a \"b c\" 2> err.txt", "2[a][b c]"},
        {"--name=\"John Smith\"", "1[--name=John Smith]"}, {"say\\\"hi\\\"", "1[say\"hi\"]"},
        {"\"C:\\dir\\\\\" x", "2[C:\\dir\\][x]"}, {"\"hello world\"!", "1[hello world!]"}, {"one \"two ", "2[one][two ]"},
        {"\"a\"\"b c\"", "1[a\"b c]"}, {"a\\\\\\\\\"b c\" d\\\\\\\"e f\\\\g", "3[a\\\\b c][d\\\"e][f\\\\g]"},
        {"\"\" x\t\"\"", "3[][x][]"}, {"a\u0120b \"\u4E22 \u4E20\"\u4E22", "2[a\u0120b][\u4E22 \u4E20\u4E22]"},
    };
    for (const auto& [line, expected] : rows) {
        Cmd(WindowsPath(KESTRUN_ARGV_PROBE_PATH) + " " + line);
        EXPECT_EQ(Std("out"), expected + "\r\n") << "the C runtime's split of: " << line;
        ExpectNoReports(Cmd("tool.exe " + line));
        EXPECT_EQ(Std("out"), expected + "\r\n") << "the launcher's split of: " << line;
    }
}

} // namespace
