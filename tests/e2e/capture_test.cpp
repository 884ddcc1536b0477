// Output capture: with StdoutMode/StderrMode 2 what a failing program printed last shows in the
// details of the launcher's error dialog; without captured text the error is a plain box.
#include "e2e.h"

namespace {

TEST_F(E2eTest, FailingProgramShowsItsLastOutputInTheErrorDialog)
{
    // short line 1519 .. short line 1999: the last whole lines that fit in 8191 characters (481 of 17).
    std::string lastShortLines;
    for (int i = 1519; i < 2000; i++)
        lastShortLines += "short line " + std::to_string(i) + "\r\n";
    const std::string trace = "java.lang.IllegalStateException: boom\r\n\tat " + MainClass() + ".main(" + name_ +
                              ".java)\r\n";
    // The program sleeps between streams: the two streams' readers append in the order they read.
    const struct {
        const char* Name;
        std::string Script;
        std::string StderrMode;
        std::string Details;  // "": a plain error box
    } cases[] = {
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
        ExpectOneError(run, "Error invoking method: main(java/lang/String[])");
        if (run.Reports.empty())
            continue;
        EXPECT_EQ(run.Reports[0].IsErrorDialog, !test.Details.empty());
        EXPECT_EQ(run.Reports[0].Details, test.Details);
    }
}

} // namespace
