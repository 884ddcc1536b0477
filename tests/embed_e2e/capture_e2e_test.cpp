// Output capture seen from outside: what a failing Java program printed appears in the details of
// the error dialog, trimmed by whole lines.
#include "fixture.h"

#include <string>
#include <vector>

namespace {

const char* const InvokeFailed = "Error invoking method: main(java/lang/String[])";

class CapturedRun : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        keys_.erase("StdoutFile");
        keys_["StdoutMode"] = "0";
    }
    // Runs the script with the stream modes given; the one report it makes.
    SeenReport RunFailing(const std::string& script, const std::string& stdoutMode, const std::string& stderrMode)
    {
        Script(script);
        LauncherRun run = Run(Build({{"StdoutMode", stdoutMode}, {"StderrMode", stderrMode}}));
        EXPECT_EQ(run.ExitCode, ExitFailure);
        EXPECT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
        return run.Reports.empty() ? SeenReport() : run.Reports[0];
    }
};

TEST_F(CapturedRun, LinesBeforeAnExceptionAppearWithTheTraceInTheDialog)
{
    SeenReport report = RunFailing("err first\nerr second\nerr third\nthrow java.lang.IllegalStateException boom", "0",
                                   "2");
    EXPECT_TRUE(report.IsErrorDialog);
    EXPECT_EQ(report.Text, InvokeFailed);
    std::string lines = "first\r\nsecond\r\nthird\r\n";
    ASSERT_EQ(report.Details.substr(0, lines.size()), lines) << report.Details;
    std::string trace = report.Details.substr(lines.size());
    EXPECT_EQ(trace.rfind("java.lang.IllegalStateException: boom\r\n\tat ", 0), 0u) << trace;
    EXPECT_EQ(trace.substr(trace.size() - 2), "\r\n");
}

TEST_F(CapturedRun, NothingCapturedGivesAPlainErrorBox)
{
    SeenReport report = RunFailing("throw java.lang.IllegalStateException boom", "2", "0");
    EXPECT_FALSE(report.IsErrorDialog);
    EXPECT_EQ(report.Caption, "Error");
    EXPECT_EQ(report.Text, InvokeFailed);
}

TEST_F(CapturedRun, ManyShortLinesKeepTheLastWholeLines)
{
    SeenReport report = RunFailing("repeat 2000 out short line {i}\nthrow java.lang.IllegalStateException x", "2", "0");
    ASSERT_TRUE(report.IsErrorDialog);
    const std::string& details = report.Details;
    EXPECT_LE(details.size(), 8191u);
    EXPECT_GT(details.size(), 8191u - 40);
    EXPECT_EQ(details.rfind("short line ", 0), 0u) << "begins at a line start: " << details.substr(0, 40);
    const std::string last = "short line 1999\r\n";
    EXPECT_EQ(details.substr(details.size() - last.size()), last);
}

TEST_F(CapturedRun, ALineOf5000CharactersArrivesWhole)
{
    std::string line(5000, 'W');
    SeenReport report = RunFailing("out " + line + "\nthrow java.lang.IllegalStateException x", "2", "0");
    ASSERT_TRUE(report.IsErrorDialog);
    EXPECT_EQ(report.Details, line + "\r\n");
}

// The lines of text that start with prefix, in order.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

TEST_F(CapturedRun, BothStreamsInterleaveInOneText)
{
    SeenReport report = RunFailing("out out 1\nerr err 1\nout out 2\nerr err 2\nout out 3\n"
                                   "throw java.lang.IllegalStateException x",
                                   "2", "2");
    ASSERT_TRUE(report.IsErrorDialog);
    // Each stream keeps its order; the two readers append in the order they get the mutex.
    EXPECT_EQ(LinesStartingWith(report.Details, "out "), (std::vector<std::string>{"out 1", "out 2", "out 3"}));
    EXPECT_EQ(LinesStartingWith(report.Details, "err "), (std::vector<std::string>{"err 1", "err 2"}));
    EXPECT_EQ(LinesStartingWith(report.Details, "java.lang.IllegalStateException").size(), 1u) << report.Details;
}

TEST_F(CapturedRun, TextWithoutAFinalLineFeedIsNotShown)
{
    SeenReport report = RunFailing("out complete\nout+ unfinished\nthrow java.lang.IllegalStateException x", "2", "0");
    ASSERT_TRUE(report.IsErrorDialog);
    EXPECT_EQ(report.Details, "complete\r\n");
}

TEST_F(CapturedRun, MissingMainClassShowsTheLoaderTrace)
{
    Script("out never");
    LauncherRun run = Run(Build({{"MainClass", MainClass() + "Missing"}, {"StderrMode", "2"}}));
    EXPECT_EQ(run.ExitCode, ExitFailure);
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_TRUE(run.Reports[0].IsErrorDialog);
    EXPECT_EQ(run.Reports[0].Text, "Error locating class: " + SlashClass() + "Missing");
    EXPECT_EQ(run.Reports[0].Details.rfind("java.lang.NoClassDefFoundError: " + SlashClass() + "Missing\r\n", 0), 0u)
        << run.Reports[0].Details;
}

} // namespace
