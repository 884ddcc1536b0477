// Output capture: with StdoutMode/StderrMode 2 what a failing program printed last shows in the
// details of the launcher's error dialog; without captured text the error is a plain box.
#include "e2e.h"

namespace {

const char* const InvokeFailed = "Error invoking method: main(java/lang/String[])";

struct CaptureCase {
    const char* Name;
    std::string Script;
    std::string StderrMode;
    std::string Details; // "" : a plain error box
};

// short line 1519 .. short line 1999: the last whole lines that fit in 8191 characters (481 of 17).
std::string LastShortLines()
{
    std::string lines;
    for (int i = 1519; i < 2000; i++)
        lines += "short line " + std::to_string(i) + "\r\n";
    return lines;
}

TEST_F(E2eTest, FailingProgramShowsItsLastOutputInTheErrorDialog)
{
    const std::string trace = "java.lang.IllegalStateException: boom\r\n\tat " + MainClass() + ".main(" + name_ +
                              ".java)\r\n";
    // The program sleeps between streams: the two streams' readers append in the order they read.
    const CaptureCase cases[] = {
        {"interleaved", "out one\nsleep 300\nerr two\nsleep 300\nout three\nsleep 300\nthrow "
                        "java.lang.IllegalStateException boom",
         "2", "one\r\ntwo\r\nthree\r\n" + trace},
        {"unfinished line", "out complete\nout+ unfinished\nthrow java.lang.IllegalStateException x", "0",
         "complete\r\n"},
        {"limit", "repeat 2000 out short line {i}\nthrow java.lang.IllegalStateException x", "0", LastShortLines()},
        {"nothing", "throw java.lang.IllegalStateException x", "0", ""},
    };
    for (const CaptureCase& test : cases) {
        Script(test.Script);
        LauncherRun run = Run(Build({{"StdoutMode", "2"}, {"StderrMode", test.StderrMode}}));
        EXPECT_EQ(run.ExitCode, ExitFailure) << test.Name;
        ASSERT_EQ(run.Reports.size(), 1u) << test.Name << "\n" << DescribeReports(run.Reports);
        EXPECT_EQ(run.Reports[0].Text, InvokeFailed) << test.Name;
        EXPECT_EQ(run.Reports[0].IsErrorDialog, !test.Details.empty()) << test.Name;
        EXPECT_EQ(run.Reports[0].Details, test.Details) << test.Name;
    }
}

} // namespace
