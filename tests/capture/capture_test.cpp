// Output capture without a JVM: the test holds the client end of each pipe, writing as the JVM would.
#include "capture.h"

#include "report.h"
#include "settings.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// --- The trimming rule, on a buffer of the test's own.

struct Buffer {
    char Text[CAPTURE_BUFFER_SIZE] = {};
    int Length = 0;
    void Add(const std::string& piece) { AddCapturedPiece(Text, &Length, piece.data(), (int)piece.size()); }
    std::string Str() const { return std::string(Text, (size_t)Length); }
};

std::string Line(int number, size_t width = 9)
{
    std::string text = "line " + std::to_string(number);
    text.resize(width, '.');
    return text + "\n";
}

TEST(CaptureTrim, PiecesAreAppendedWhileTheyFit)
{
    Buffer b;
    b.Add("one\r\n");
    b.Add("two\r\n");
    EXPECT_EQ(b.Str(), "one\r\ntwo\r\n");
    EXPECT_EQ(b.Text[b.Length], '\0');
    b.Add(std::string(8191 - 10, 'x'));
    EXPECT_EQ(b.Length, 8191) << "exactly full is still no trim";
    EXPECT_EQ(b.Str().substr(0, 10), "one\r\ntwo\r\n");
}

TEST(CaptureTrim, WholeLinesAreDroppedAtTheFront)
{
    Buffer b;
    for (int i = 0; i < 819; i++) // 819 lines of 10 characters: 8190
        b.Add(Line(i));
    ASSERT_EQ(b.Length, 8190);
    b.Add(Line(819));
    // The first line feed at or after position 9 ends line 0: exactly one line goes.
    EXPECT_EQ(b.Length, 8190);
    EXPECT_EQ(b.Str().substr(0, 10), Line(1));
    EXPECT_EQ(b.Str().substr(8180), Line(819));
    b.Add(std::string(25, 'y') + "\n"); // 26 characters: the cut must be at least 26 long -> three lines
    EXPECT_EQ(b.Str().substr(0, 10), Line(4));
    EXPECT_EQ(b.Length, 8190 - 30 + 26);
}

TEST(CaptureTrim, AfterManyShortLinesTheTextStartsAtALineAndEndsWithTheLast)
{
    Buffer b;
    for (int i = 0; i < 3000; i++)
        b.Add(Line(i, 4 + i % 13));
    std::string text = b.Str();
    EXPECT_LE(text.size(), 8191u);
    EXPECT_GT(text.size(), 8191u - 20);
    EXPECT_EQ(text.substr(0, 5), "line ");
    EXPECT_EQ(text.substr(text.size() - Line(2999, 4 + 2999 % 13).size()), Line(2999, 4 + 2999 % 13));
}

TEST(CaptureTrim, WithoutALineFeedToCutAtOnlyTheNewPieceStays)
{
    Buffer b;
    b.Add("short\n");
    for (int i = 0; i < 7; i++)
        b.Add(std::string(1024, 'a' + i)); // a 7168-character line without end
    b.Add(std::string(1024, 'z'));
    // The only line feed lies before position 1023: nothing can be cut at a line, so all goes.
    EXPECT_EQ(b.Str(), std::string(1024, 'z'));
}

// --- Readers on real pipes.

struct Client {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    bool Write(const std::string& text)
    {
        DWORD written = 0;
        return WriteFile(Handle, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
    }
    void Close()
    {
        if (Handle != INVALID_HANDLE_VALUE)
            CloseHandle(Handle);
        Handle = INVALID_HANDLE_VALUE;
    }
    ~Client() { Close(); }
};

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        RunMode = RUN_MODE_GUI;
        LauncherSettings.StdoutMode = 2;
        LauncherSettings.StderrMode = 2;
        CapturedOutput[0] = 0;
        CapturedOutputLength = 0;
        wsprintfA(CaptureMutexName, "mutex%lu", GetCurrentProcessId());
    }
    // Creates the stream's pipe, connects a client as the JVM would and starts the reader.
    void Start(const char* setter, HANDLE* pipe, HANDLE* reader, Client* client, bool startReader = true)
    {
        char name[64];
        *pipe = CreateCapturePipe(setter, name, sizeof(name));
        ASSERT_NE(*pipe, INVALID_HANDLE_VALUE);
        EXPECT_EQ(std::string(name), "\\\\.\\pipe\\" + std::string(setter) + std::to_string(GetCurrentProcessId()));
        client->Handle = CreateFileA(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(client->Handle, INVALID_HANDLE_VALUE);
        if (startReader)
            *reader = StartOutputReader(*pipe);
    }
    std::string Captured() { return std::string(CapturedOutput); }
    // Waits until the capture holds text (the reader works on its own thread).
    bool WaitForCaptured(const std::string& text, DWORD timeoutMs = 5000)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (WaitForSingleObject(CaptureMutexHandle(), 1000) == WAIT_OBJECT_0) {
                bool found = Captured() == text;
                ReleaseMutex(CaptureMutexHandle());
                if (found)
                    return true;
            }
            WaitForSingleObject(GetCurrentThread(), 20);
        }
        return false;
    }
    HANDLE CaptureMutexHandle()
    {
        if (mutex_ == NULL)
            mutex_ = CreateMutexA(NULL, FALSE, CaptureMutexName);
        return mutex_;
    }
    HANDLE mutex_ = NULL;
};

TEST_F(CaptureTest, CompleteLinesAreAppendedAndAnUnfinishedOneIsDropped)
{
    Client client;
    Start("setErr", &StderrCapturePipe, &StderrReaderThread, &client);
    ASSERT_TRUE(client.Write("one\r\ntwo\r\n")); // two lines in one write
    ASSERT_TRUE(WaitForCaptured("one\r\ntwo\r\n"));
    ASSERT_TRUE(client.Write("thr"));
    ASSERT_TRUE(client.Write("ee\r\nno line end"));
    ASSERT_TRUE(WaitForCaptured("one\r\ntwo\r\nthree\r\n"));
    StopOutputCapture();
    EXPECT_EQ(Captured(), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(StderrReaderThread, nullptr);
    EXPECT_EQ(StderrCapturePipe, nullptr);
}

TEST_F(CaptureTest, ALongLineArrivesInPiecesOfTheLineBuffer)
{
    Client client;
    Start("setOut", &StdoutCapturePipe, &StdoutReaderThread, &client);
    std::string line(5000, 'L');
    line += "\r\n";
    ASSERT_TRUE(client.Write(line));
    ASSERT_TRUE(WaitForCaptured(line));
    // Three more such lines pass 8191: the retained text can only be cut where a line feed lies.
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(client.Write(std::string(5000, (char)('a' + i)) + "\r\n"));
    ASSERT_TRUE(client.Write("end\r\n"));
    StopOutputCapture();
    std::string text = Captured();
    EXPECT_LE(text.size(), 8191u);
    EXPECT_EQ(text.substr(text.size() - 5), "end\r\n");
}

TEST_F(CaptureTest, BothStreamsShareOneBuffer)
{
    Client out, err;
    Start("setOut", &StdoutCapturePipe, &StdoutReaderThread, &out);
    Start("setErr", &StderrCapturePipe, &StderrReaderThread, &err);
    std::string expected;
    for (int i = 0; i < 20; i++) {
        Client& client = i % 2 == 0 ? out : err;
        std::string line = (i % 2 == 0 ? "out " : "err ") + std::to_string(i) + "\r\n";
        ASSERT_TRUE(client.Write(line));
        expected += line;
        ASSERT_TRUE(WaitForCaptured(expected)) << "after line " << i;
    }
    StopOutputCapture();
    EXPECT_EQ(Captured(), expected);
}

TEST_F(CaptureTest, StopTakesWhatThePipeAlreadyHolds)
{
    Client client;
    Start("setErr", &StderrCapturePipe, &StderrReaderThread, &client, false);
    // In the pipe before the reader has read anything, as a trace printed just before the failure:
    // closing the pipe at the stop would lose it.
    std::string trace = "Exception in thread \"main\" java.lang.IllegalStateException: x\r\n"
                        "\tat App.main(App.java)\r\n";
    ASSERT_TRUE(client.Write(trace)) << "the pipe buffers it";
    ASSERT_TRUE(client.Write("unfinished"));
    StderrReaderThread = StartOutputReader(StderrCapturePipe);
    StopOutputCapture();
    EXPECT_EQ(Captured(), trace);
}

DWORD WINAPI WriteUntilBroken(void* parameter)
{
    Client* client = (Client*)parameter;
    int lines = 0;
    while (client->Write("chatty line " + std::to_string(lines) + "\r\n"))
        lines++;
    return (DWORD)lines;
}

DWORD WINAPI StopThread(void*)
{
    StopOutputCapture();
    return 0;
}

TEST_F(CaptureTest, StopEndsEvenWhileTheProgramKeepsPrinting)
{
    Client client;
    Start("setOut", &StdoutCapturePipe, &StdoutReaderThread, &client);
    HANDLE writer = CreateThread(NULL, 0, WriteUntilBroken, &client, 0, NULL);
    ASSERT_TRUE(WaitForSingleObject(writer, 300) == WAIT_TIMEOUT) << "the writer is busy";
    HANDLE stopper = CreateThread(NULL, 0, StopThread, NULL, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(stopper, 10000), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(writer, 10000), (DWORD)WAIT_OBJECT_0) << "writes fail once the pipe is closed";
    std::string text = Captured();
    EXPECT_GT(text.size(), 100u);
    EXPECT_EQ(text.substr(0, 12), "chatty line ") << "starts at a line";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "ends with a whole line";
    CloseHandle(writer);
    CloseHandle(stopper);
}

TEST_F(CaptureTest, ReaderEndsWhenTheClientOrTheServerEndIsClosed)
{
    Client client;
    Start("setOut", &StdoutCapturePipe, &StdoutReaderThread, &client);
    ASSERT_TRUE(client.Write("before close\r\n"));
    ASSERT_TRUE(WaitForCaptured("before close\r\n"));
    client.Close();
    EXPECT_EQ(WaitForSingleObject(StdoutReaderThread, 5000), (DWORD)WAIT_OBJECT_0) << "client gone";

    Client second;
    Start("setErr", &StderrCapturePipe, &StderrReaderThread, &second);
    ASSERT_TRUE(second.Write("pending next\r\n"));
    ASSERT_TRUE(WaitForCaptured("before close\r\npending next\r\n"));
    // The reader waits in its next read: closing the server end must end it (109 or 995).
    CloseHandle(StderrCapturePipe);
    StderrCapturePipe = NULL;
    EXPECT_EQ(WaitForSingleObject(StderrReaderThread, 5000), (DWORD)WAIT_OBJECT_0) << "server end closed";
}

TEST_F(CaptureTest, PipeNameTakenByAnotherIsRefused)
{
    std::string name = "\\\\.\\pipe\\setOut" + std::to_string(GetCurrentProcessId());
    // Another program got there first and would receive the output.
    HANDLE squatter = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES,
                                       0, 0, 0, NULL);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    ReportWatcher watcher(GetCurrentProcessId());
    char created[64];
    EXPECT_EQ(CreateCapturePipe("setOut", created, sizeof(created)), INVALID_HANDLE_VALUE);
    CloseHandle(squatter);
    // Ours exists: a second one under the same name is refused as well.
    HANDLE first = CreateCapturePipe("setErr", created, sizeof(created));
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateCapturePipe("setErr", created, sizeof(created)), INVALID_HANDLE_VALUE);
    CloseHandle(first);
    watcher.Stop();
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 2u) << DescribeReports(reports);
    for (const SeenReport& report : reports)
        EXPECT_EQ(report.Text.rfind("Internal error RC0000014\n\nReason: ", 0), 0u) << report.Text;
}

// --- Where a failed run's report goes.

class CaptureReport : public CaptureTest {};

TEST_F(CaptureReport, CapturedTextGoesIntoTheErrorDialogsDetails)
{
    LauncherSettings.StdoutMode = 0;
    LauncherSettings.StderrMode = 2;
    const char* text = "first line\r\nsecond line\r\n";
    AppendCapturedOutput("first line\r\n", 12);
    AppendCapturedOutput("second line\r\n", 13);
    ReportWatcher watcher(GetCurrentProcessId());
    ShowErrorWithCapturedOutput("Error invoking method: %s", "main(java/lang/String[])");
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].IsErrorDialog);
    EXPECT_EQ(reports[0].Text, "Error invoking method: main(java/lang/String[])");
    EXPECT_EQ(reports[0].Details, text);
}

TEST_F(CaptureReport, WithoutCapturedTextOrCaptureAPlainErrorBox)
{
    const struct {
        int Out, Err;
        const char* Captured;
    } cases[] = {{2, 0, ""}, {0, 2, ""}, {1, 1, "not captured\r\n"}, {0, 0, "stale\r\n"}};
    for (const auto& c : cases) {
        LauncherSettings.StdoutMode = c.Out;
        LauncherSettings.StderrMode = c.Err;
        strcpy(CapturedOutput, c.Captured);
        ReportWatcher watcher(GetCurrentProcessId());
        ShowErrorWithCapturedOutput("Error locating class: %s", "com/acme/100%s");
        auto reports = watcher.Reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_FALSE(reports[0].IsErrorDialog) << c.Out << c.Err;
        EXPECT_EQ(reports[0].Caption, "Error");
        EXPECT_EQ(reports[0].Text, "Error locating class: com/acme/100%s") << "shown verbatim";
    }
}

TEST_F(CaptureReport, ServiceModeWritesOneEventLogEntryWithDetails)
{
    ReportWatcher watcher(GetCurrentProcessId());
    RunMode = RUN_MODE_SERVICE;
    EventSourceHandle = RegisterEventSourceA(NULL, "KestrunCaptureTest");
    ASSERT_NE(EventSourceHandle, nullptr);
    AppendCapturedOutput("first line\r\n", 12);
    AppendCapturedOutput("second line\r\n", 13);
    ShowErrorWithCapturedOutput("Error invoking method: %s", "main(java/lang/String[])");
    DeregisterEventSource(EventSourceHandle);
    EventSourceHandle = NULL;
    RunMode = RUN_MODE_GUI;
    EXPECT_TRUE(watcher.Reports().empty()) << "nothing is shown in service mode";
}

} // namespace
