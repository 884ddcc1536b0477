// Threads and the end of the VM: System.exit through the exit hook on the VM's own thread, the abort
// hook, DestroyJavaVM waiting for non-daemon threads, attached threads, the service stop call, windows.
#include "test_support.h"

using DoubleEnd = DoubleTest;
using DoubleThreads = DoubleTest;

static const char Created[] = "option -Djava.class.path=%D\\classes\nhooks\ncreate\nredirect setOut %D\\out.log\n";

TEST_F(DoubleEnd, SystemExitInMainRunsTheExitHookOnAnotherThread) {
    Script("com/acme/App", "out bye\nexit 7\nout never\n");
    HostRun run = RunHost(std::string(Created) + "main com/acme/App\n");
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(run.log, "create 0\nredirect ok\nexit-hook status=7 other-thread\n");
    EXPECT_EQ(ReadFile("out.log"), "bye\r\n");
    EXPECT_GE(FindLine(Lines(run.trace), "[VM Thread] exit-hook 7"), 0) << run.trace;
}

TEST_F(DoubleEnd, HostCallOfSystemExitNeverReturns) {
    HostRun run = RunHost(std::string(Created) + "exit 3\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.log, "create 0\nredirect ok\nexit-hook status=3 other-thread\n");
}

TEST_F(DoubleEnd, WithoutExitHookTheStatusEndsTheProcess) {
    Script("com/acme/App", "exit 5\n");
    HostRun run = RunHost("option -Djava.class.path=%D\\classes\ncreate\nmain com/acme/App\n");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.log, "create 0\n");
}

TEST_F(DoubleEnd, AbortCallsTheAbortHookThenEnds) {
    Script("com/acme/App", "abort out of memory in the test\n");
    HostRun run = RunHost(std::string(Created) + "main com/acme/App\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.log, "create 0\nredirect ok\nabort-hook\n");
    EXPECT_EQ(run.vfprintf, "FATAL ERROR in native method: out of memory in the test\n");
}

TEST_F(DoubleThreads, DestroyWaitsForNonDaemonThreadsOnly) {
    Script("com/acme/App", "daemon watcher\n  wait-stop\nend\nthread worker\n  sleep 300\n  out worker done\nend\n"
                           "out main done\n");
    HostRun run = RunHost(std::string(Created) + "main com/acme/App\ndetach\ndestroy\n");
    EXPECT_EQ(run.log, "create 0\nredirect ok\nmain returned\ndetach 0\ndestroy 0\nhost end\n");
    EXPECT_EQ(ReadFile("out.log"), "main done\r\nworker done\r\n");
    std::vector<std::string> t = Lines(run.trace);
    int workerEnd = FindLine(t, "[worker] thread-end");
    int destroyed = FindLine(t, "destroyed");
    EXPECT_TRUE(workerEnd >= 0 && destroyed > workerEnd) << run.trace;
    EXPECT_GE(FindLine(t, "[DestroyJavaVM] destroyed"), 0) << "the detached caller is attached again";
    EXPECT_EQ(FindLine(t, "[watcher] thread-end"), -1);
}

TEST_F(DoubleThreads, UncaughtExceptionInAThreadIsPrintedOnSystemErr) {
    Script("com/acme/App", "thread poller\n  throw java.lang.RuntimeException poll failed\nend\n");
    HostRun run = RunHost(std::string(Created) + "redirect setErr %D\\err.log\nmain com/acme/App\ndetach\ndestroy\n");
    EXPECT_EQ(ReadFile("err.log"), "Exception in thread \"poller\" java.lang.RuntimeException: poll failed\r\n"
                                   "\tat com.acme.App.run(App.java)\r\n") << run.log;
}

TEST_F(DoubleThreads, AttachedThreadsCarryTheirNames) {
    Script("com/acme/App", "out {thread}\n");
    HostRun run = RunHost(std::string(Created) +
                          "background attach Kestrun stopper thread ; main com/acme/App ; detach ; detach\njoin\n");
    EXPECT_EQ(run.log, "create 0\nredirect ok\nattach 0\nmain returned\ndetach 0\ndetach 0\nhost end\n");
    EXPECT_EQ(ReadFile("out.log"), "Kestrun stopper thread\r\n");
    std::vector<std::string> t = Lines(run.trace);
    EXPECT_GE(FindLine(t, "[Kestrun stopper thread] jvm AttachCurrentThread name=\"Kestrun stopper thread\" "
                          "version=0x00010004"), 0) << run.trace;
    EXPECT_GE(FindLine(t, "[Kestrun stopper thread] jni FindClass com/acme/App"), 0);
    EXPECT_GE(FindLine(t, "[-] jvm DetachCurrentThread (not attached)"), 0);
}

TEST_F(DoubleThreads, StopCallWithMatchingArgumentsEndsTheRunningMain) {
    Script("com/acme/Svc", "stop-on -stop now\nout started\nwait-stop\nout stopped\n");
    HostRun run = RunHost(std::string(Created) +
                          "background await [main] main com/acme/Svc ; attach Kestrun stopper thread ; "
                          "main com/acme/Svc -stop now ; detach\nmain com/acme/Svc\njoin\ndestroy\n");
    ASSERT_EQ(run.exitCode, 0) << run.log << run.trace;
    EXPECT_EQ(ReadFile("out.log"), "started\r\nstopped\r\n");
    std::vector<std::string> t = Lines(run.trace);
    EXPECT_GE(FindLine(t, "[Kestrun stopper thread] stop-call com/acme/Svc"), 0) << run.trace;
    EXPECT_GE(FindLine(t, "[main] main-end com/acme/Svc returned"), 0) << run.trace;
    EXPECT_GE(FindLine(t, "destroy"), 0);
}

TEST_F(DoubleThreads, IgnoredStopCallHangs) {
    Script("com/acme/Svc", "stop-ignore -stop\nout started\n");
    HostRun run = RunHost(std::string(Created) +
                          "background attach stopper ; main com/acme/Svc -stop ; detach\n"
                          "await stop-call com/acme/Svc ignored\nexit 4\n");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.log, "create 0\nredirect ok\nattach 0\nexit-hook status=4 other-thread\n");
}

struct FoundWindow {
    const char* title;
    HWND window;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    FoundWindow* found = reinterpret_cast<FoundWindow*>(context);
    char title[256];
    GetWindowTextA(window, title, sizeof title);  // a longer title is cut, and then does not match
    if (IsWindowVisible(window) && strcmp(title, found->title) == 0) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(DoubleThreads, WindowIsVisibleAndKeepsTheVmAliveUntilClosed) {
    Script("com/acme/Gui", "window 60000 Kestrun double frame\nout main returns\n");
    HANDLE host = StartHost(std::string(Created) + "main com/acme/Gui\ndetach\ndestroy\n");
    FoundWindow found = {"Kestrun double frame", nullptr};
    for (int waited = 0; waited < 20000 && !found.window; waited += 20) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&found));
        if (!found.window) Sleep(20);  // polling for the window itself
    }
    ASSERT_TRUE(found.window != nullptr) << "no visible window";
    EXPECT_EQ(WaitForSingleObject(host, 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "DestroyJavaVM did not wait";
    PostMessageA(found.window, WM_CLOSE, 0, 0);
    HostRun run = FinishHost(host);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.log, "create 0\nredirect ok\nmain returned\ndetach 0\ndestroy 0\nhost end\n");
    std::vector<std::string> t = Lines(run.trace);
    int closed = FindLine(t, "[AWT-EventQueue-0] window-closed Kestrun double frame");
    EXPECT_TRUE(closed >= 0 && FindLine(t, "destroyed") > closed) << run.trace;
}
