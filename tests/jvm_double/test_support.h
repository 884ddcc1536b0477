// Test support: each test gets a fresh work folder, writes script classes and a host plan into it, and
// runs jvm_double_host (a minimal JNI host) on the built jvm.dll in a child process.
#ifndef KESTRUN_JVM_DOUBLE_TEST_SUPPORT_H
#define KESTRUN_JVM_DOUBLE_TEST_SUPPORT_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What a host run left behind.
struct HostRun {
    int exitCode;            // the host's exit status; -999 when it was killed after the time limit
    std::string log;         // host.log: one line per step result and hook call
    std::string trace;       // the double's trace
    std::string vfprintf;    // text the double printed through the vfprintf hook
    std::string stderrText;  // the host process's standard error
};

class DoubleTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Writes a script class into the class folder (%D\classes), e.g. "com/acme/App".
    void Script(const std::string& className, const std::string& text);
    // Writes any file into the work folder.
    void WriteFile(const std::string& name, const std::string& text);
    // Reads a file of the work folder ("" when it is missing).
    std::string ReadFile(const std::string& name) const;
    // Starts the host on a plan (%D stands for the work folder) without waiting.
    HANDLE StartHost(const std::string& plan);
    // Waits for a started host and collects what it left.
    HostRun FinishHost(HANDLE process, DWORD timeoutMs = 30000);
    HostRun RunHost(const std::string& plan) { return FinishHost(StartHost(plan)); }

    std::string dir;  // the test's work folder
};

// The lines of a text (without line ends).
std::vector<std::string> Lines(const std::string& text);
// Position of the first line containing part, at or after from; -1 when none.
int FindLine(const std::vector<std::string>& lines, const std::string& part, int from = 0);

#endif
