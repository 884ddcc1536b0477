// The launcher's run as a user starts it: one instance per main class unless allowed, inputs of extreme
// size, and a start from a folder with spaces while another folder is current.
#include "e2e.h"

#include <future>

namespace {

class LauncherE2eTest : public E2eTest {};

TEST_F(LauncherE2eTest, ASecondInstanceOfTheMainClassIsRefusedUnlessAllowed)
{
    const std::string title = "held " + name_;
    Script("out first\nwindow 120000 " + title);
    ASSERT_TRUE(WriteScript(folder_ + "\\classes2", MainClass(), "out second"));
    const std::string messages = "[messages]\nMsgAlreadyRunning = Demo is already open.\n";
    std::string first = Build({{"AllowMultipleInstances", "0"}}, "first.exe", messages);
    // The first instance runs until the test closes its window.
    std::future<LauncherRun> held = std::async(std::launch::async, [&] { return RunAndWatch(first, "", folder_, 60000); });
    HWND window = NULL;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA(NULL, title.c_str())) != NULL; }, 30000));
    struct Row {
        const char* Allow;
        std::vector<std::string> Reports;
        std::string Out;
    } rows[] = {
        {"0", {"Demo is already open."}, ""},
        {"1", {}, "second\r\n"},
    };
    for (const Row& row : rows) {
        std::string second = Build({{"AllowMultipleInstances", row.Allow}, {"ClassPath", "classes2"},
                                    {"StdoutFile", "second.log"}}, std::string("second") + row.Allow + ".exe", messages);
        LauncherRun run = Run(second);
        std::vector<std::string> texts;
        for (const SeenReport& report : run.Reports)
            texts.push_back(report.Text);
        EXPECT_EQ(texts, row.Reports) << "AllowMultipleInstances " << row.Allow;
        EXPECT_EQ(run.ExitCode, 0u);
        EXPECT_EQ(ReadFile(folder_ + "\\second.log"), row.Out);
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    LauncherRun run = held.get();
    EXPECT_TRUE(run.Ended);
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "first\r\n");
}

TEST_F(LauncherE2eTest, HugeCommandLinesAndIniLinesWithBinaryBytesArriveWhole)
{
    Script("out {argc}|{arg:0}|{arg:1030}|{prop:big}");
    std::string words;  // 1031 words of 30 letters: 31 960 characters
    for (int i = 0; i < 1031; i++)
        words += (i ? " " : "") + std::string(30, (char)('a' + i % 26));
    std::string binary;  // every byte value but a line end
    for (int i = 0; i < 100000; i++)
        binary += (char)(i % 256 == '\n' || i % 256 == '\r' ? 1 : i % 256);
    const std::string big(100000, 'x'), argument(100000, 'a');
    struct Row {
        LauncherKeys Keys;
        std::string Arguments;
        std::string Ini;
        std::string Out;
    } rows[] = {
        {{}, words, "", "1031|" + std::string(30, 'a') + "|" + std::string(30, 'q') + "|null\r\n"},
        {{{"IniFileName", "app.ini"}}, "",
         "[Application Configuration]\r\n" + binary + "\r\nJvmOptions=-Dbig=" + big + "\r\n" + binary + "=" + binary +
             "\r\nAppOptions=" + argument + "\r\n",
         "1|" + argument + "|<none>|" + big + "\r\n"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(WriteFile(folder_ + "\\app.ini", row.Ini));
        LauncherRun run = Run(Build(row.Keys), row.Arguments);
        ExpectNoReports(run);
        EXPECT_EQ(run.ExitCode, 0u);
        EXPECT_EQ(Out(), row.Out);
    }
}

TEST_F(LauncherE2eTest, RunsFromAFolderWithSpacesWhileAnotherFolderIsCurrent)
{
    const std::string spaced = folder_ + "\\with spaces here", elsewhere = folder_ + "\\elsewhere";
    ASSERT_TRUE(WriteScript(spaced + "\\classes", MainClass(), "out {args} {prop:user.dir}"));
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), NULL));
    LauncherRun run = Run(Build({}, "with spaces here\\my app.exe"), "one \"two three\"", elsewhere);
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(ReadFile(spaced + "\\out.log"), "[one][two three] " + spaced + "\r\n");
}

} // namespace
