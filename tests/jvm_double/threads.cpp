// Java threads (created, attached, started by scripts), the wait of DestroyJavaVM, and the two ways the
// VM ends the process: System.exit (exit hook on a VM thread of its own) and fatal errors (abort hook).
#include "jvm_double.h"

#include <atomic>
#include <condition_variable>

std::recursive_mutex VmLock;
static std::vector<JavaThread*> LiveThreads;          // every attached Java thread; under VmLock
static std::condition_variable_any ThreadsChanged;    // signalled when a thread leaves LiveThreads
static int UnnamedThreads = 0;                        // numbers "Thread-N"; under VmLock
static thread_local JavaThread* Current = nullptr;    // the calling thread's Java thread
static std::atomic<bool> Exiting(false);              // set by the first System.exit

JavaThread* CurrentJavaThread() { return Current; }

static JavaThread* NewJavaThread(const char* name, bool daemon) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    JavaThread* t = new JavaThread;
    t->env.env.functions = NativeTable();
    t->env.owner = t;
    t->name = name ? name : "Thread-" + std::to_string(UnnamedThreads++);
    t->daemon = daemon;
    LiveThreads.push_back(t);
    return t;
}

JavaThread* AttachJavaThread(const char* name, bool daemon) {
    JavaThread* t = NewJavaThread(name, daemon);
    t->osId = GetCurrentThreadId();
    Current = t;
    return t;
}

void DetachJavaThread(JavaThread* t) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    for (size_t i = 0; i < LiveThreads.size(); i++)
        if (LiveThreads[i] == t) LiveThreads.erase(LiveThreads.begin() + static_cast<long>(i));
    if (Current == t) Current = nullptr;
    ThreadsChanged.notify_all();
}

struct ThreadStart {
    JavaThread* thread;
    void (*body)(JavaThread&, void*);
    void* context;
};

// An exception that ends a thread is printed by the thread group's handler, all on System.err.
static void PrintUncaught(JavaThread& t) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    TraceLine("uncaught %s", ThrowableText(t.pending).c_str());
    PrintText(SystemErr, "Exception in thread \"" + t.name + "\" ", false);
    PrintStackTrace(t.pending);
    t.pending = nullptr;
}

static DWORD WINAPI JavaThreadMain(LPVOID parameter) {
    ThreadStart* start = static_cast<ThreadStart*>(parameter);
    JavaThread* t = start->thread;
    t->osId = GetCurrentThreadId();
    Current = t;
    TraceLine("thread-start daemon=%d", t->daemon ? 1 : 0);
    t->javaDepth++;
    start->body(*t, start->context);
    t->javaDepth--;
    if (t->pending) PrintUncaught(*t);
    TraceLine("thread-end");
    delete start;
    DetachJavaThread(t);
    return 0;
}

void StartJavaThread(const std::string& name, bool daemon, void (*body)(JavaThread&, void*), void* context) {
    // Registered before the thread runs, as Thread.start does, so DestroyJavaVM cannot miss it.
    JavaThread* t = NewJavaThread(name.c_str(), daemon);
    HANDLE h = CreateThread(nullptr, 0, JavaThreadMain, new ThreadStart{t, body, context}, 0, nullptr);
    if (!h) DoubleFailure("cannot start thread %s (error %lu)", name.c_str(), GetLastError());
    CloseHandle(h);
}

void WaitForNonDaemonThreads(JavaThread* self) {
    std::unique_lock<std::recursive_mutex> hold(VmLock);
    ThreadsChanged.wait(hold, [self] {
        for (JavaThread* t : LiveThreads)
            if (t != self && !t->daemon) return false;
        return true;
    });
}

static DWORD WINAPI VmExitThread(LPVOID parameter) {
    jint status = static_cast<jint>(reinterpret_cast<INT_PTR>(parameter));
    static JavaThread vmThread;
    vmThread.name = "VM Thread";
    Current = &vmThread;
    if (ExitHook) {
        TraceLine("exit-hook %ld", static_cast<long>(status));
        ExitHook(status);
        TraceLine("exit-hook-returned");
    }
    TraceLine("process-exit %ld", static_cast<long>(status));
    exit(status);
}

void ExitJava(jint status) {
    // Only the first System.exit proceeds; every caller then blocks, as Shutdown does, until the end.
    if (!Exiting.exchange(true)) {
        HANDLE h = CreateThread(nullptr, 0, VmExitThread, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(status)),
                                0, nullptr);
        if (!h) DoubleFailure("cannot start the exit thread (error %lu)", GetLastError());
        CloseHandle(h);
    }
    for (;;) Sleep(INFINITE);
}

void FatalJava(const char* text) {
    VmPrint("FATAL ERROR in native method: %s\n", text);
    TraceLine("fatal %s", text);
    if (AbortHook) {
        TraceLine("abort-hook");
        AbortHook();
        TraceLine("abort-hook-returned");
    }
    // HotSpot then ends the process with status 1 (no C runtime message box).
    TraceLine("process-exit 1");
    _exit(1);
}
