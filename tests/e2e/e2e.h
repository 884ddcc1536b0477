// The fixture of the end-to-end tests: one folder, one trace and one main class per test; launchers
// made with the builder from keys_, run as a user runs them, what they showed and wrote read back.
#pragma once

#include "kit.h"
#include "watcher.h"

#include <gtest/gtest.h>

const DWORD ExitFailure = (DWORD)-1;

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = FreshFolder(name_);
        trace_ = folder_ + "\\trace.txt";
        SetEnvironmentVariableA("KESTRUN_JVM_TRACE", trace_.c_str());
        keys_ = {{"MainClass", MainClass()},   {"JvmPath", DoubleJvmPath()},    {"JreSearchOrder", "0"},
                 {"ClassPath", "classes"},     {"AllowMultipleInstances", "1"}, {"SplashUntilWindow", "0"},
                 {"StdoutMode", "1"},          {"StdoutFile", "out.log"}};
    }
    std::string MainClass() const { return "e2e." + name_; }
    std::string SlashClass() const { return "e2e/" + name_; }
    // The main class's script in folder\classes.
    void Script(const std::string& text) { ASSERT_TRUE(WriteScript(folder_ + "\\classes", MainClass(), text)); }
    // A launcher made from keys_ with changes (an empty value still writes the key) and extra sections.
    std::string Build(const LauncherKeys& changes = {}, const std::string& exeName = "app.exe",
                      const std::string& extra = "")
    {
        LauncherKeys keys = changes;
        keys.insert(keys_.begin(), keys_.end());  // adds only the keys that changes does not hold
        std::string error;
        std::string exe = MakeLauncher(folder_, exeName, keys, extra, &error);
        EXPECT_FALSE(exe.empty()) << error;
        return exe;
    }
    // Runs exe to its end (in the test's folder unless directory is given), reports dismissed with OK.
    LauncherRun Run(const std::string& exe, const std::string& arguments = "", const std::string& directory = "")
    {
        DeleteFileA(trace_.c_str());
        LauncherRun run = RunAndWatch(exe, arguments, directory.empty() ? folder_ : directory, 30000);
        EXPECT_TRUE(run.Started) << exe;
        EXPECT_TRUE(run.Ended) << "the launcher did not end";
        return run;
    }
    // folder_\NAME.exe from `kestrun build NAME.jar ARGS`: a stored jar of the manifest, the main class (empty) and
    // entries, its zip comment the class's script; JAVA_HOME is a Java 17 home that the jar form's search finds.
    std::string BuildFromJar(const std::string& name, const std::string& manifest, const std::string& script,
                             std::vector<std::pair<std::string, std::string>> entries = {}, const std::string& args = "")
    {
        SetEnvironmentVariableA("JAVA_HOME", Home("rt", "17.0.9").c_str());
        entries.insert(entries.begin(), {{"META-INF/MANIFEST.MF", manifest}, {SlashClass() + ".class", ""}});
        auto le = [](size_t value, int bytes) { std::string s; while (bytes--) s += (char)value, value >>= 8; return s; };
        std::string local, central, comment = "\n== " + SlashClass() + "\n" + script + "\n== end/OfScript\n";
        for (const auto& [entry, data] : entries) {
            unsigned crc = ~0u;
            for (unsigned char c : data) {
                crc ^= c;
                for (int bit = 0; bit < 8; bit++)
                    crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
            }
            // flags, method (stored), time and date, CRC, both sizes, name length, extra length
            std::string common = le(0, 8) + le(~crc, 4) + le(data.size(), 4) + le(data.size(), 4) + le(entry.size(), 2) + le(0, 2);
            central += le(0x02014b50, 4) + le(20, 4) + common + le(0, 10) + le(local.size(), 4) + entry;
            local += le(0x04034b50, 4) + le(20, 2) + common + entry + data;
        }
        EXPECT_TRUE(WriteFile(folder_ + "\\" + name + ".jar", local + central + le(0x06054b50, 4) + le(0, 4) +
                              le(entries.size(), 2) + le(entries.size(), 2) + le(central.size(), 4) +
                              le(local.size(), 4) + le(comment.size(), 2) + comment));
        LauncherRun built = RunAndWatch(WindowsPath(KESTRUN_BUILDER_PATH), "build " + name + ".jar " + args + " --launcher " +
                                        WindowsPath(KESTRUN_LAUNCHER_PATH), folder_, 30000);
        EXPECT_TRUE(built.Reports.empty() && built.ExitCode == 0) << DescribeReports(built.Reports);
        return folder_ + "\\" + name + ".exe";
    }
    // A runtime home folder_\name: a copy of dll (the double) at home\jvm\jvm.dll; a release file if version given.
    std::string Home(const std::string& name, const std::string& version, const std::string& jvm = "bin\\server",
                     const std::string& dll = DoubleJvmPath())
    {
        std::string home = folder_ + "\\" + name, path = home + "\\" + jvm + "\\jvm.dll";
        EXPECT_TRUE(WriteFile(path, "") && CopyFileW(Wide(dll).c_str(), Wide(path).c_str(), FALSE)) << path;
        std::string release = "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" + version + "\"\n";
        EXPECT_TRUE(version.empty() || WriteFile(home + "\\release", release));
        return home;
    }
    std::string Out() { return ReadFile(folder_ + "\\out.log"); }
    // The steps of the launch log, launch.log in the test folder (each line without its time) that start with prefix.
    std::vector<std::string> Logged(const std::string& prefix = "")
    {
        std::vector<std::string> steps;
        std::string text = ReadFile(folder_ + "\\launch.log");
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            size_t step = text.find(' ', text.find_first_not_of(' ', at)) + 1;
            if (text.compare(step, prefix.size(), prefix) == 0)
                steps.push_back(text.substr(step, end - step));
        }
        return steps;
    }
    // The options the JVM received, in order (hooks as "vfprintf hook" and so on).
    std::vector<std::string> Options()
    {
        std::vector<std::string> options;
        for (const std::string& line : TraceLines(trace_, "option["))  // "option[N] text"
            options.push_back(line.substr(line.find("] ") + 2));
        return options;
    }

    std::string name_, folder_, trace_;
    LauncherKeys keys_;
};

// Exactly one report, captioned with the launcher's name, with this text.
inline void ExpectOneError(const LauncherRun& run, const std::string& text)
{
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Caption, run.Name);
    EXPECT_EQ(run.Reports[0].Text, text);
}

// The shipped no-runtime message for the Java versions the application takes ("17 or later", "8 to 11").
inline std::string NoJre(const std::string& versions)
{
    return "This application needs Java " + versions + ", and none was found on this computer. Install it, or set "
           "JAVA_HOME to the folder of a Java runtime.";
}

// No report, and the exit code the run should end with.
inline void ExpectNoReports(const LauncherRun& run, DWORD exitCode = 0)
{
    EXPECT_TRUE(run.Reports.empty()) << DescribeReports(run.Reports);
    EXPECT_EQ(run.ExitCode, exitCode);
}

// A launcher started (suspended, if flags say so) and left running; ended when the test is done with it.
struct Held {
    PROCESS_INFORMATION Process = {};
    Held(const std::string& exe, const std::string& folder, DWORD flags = 0, const std::string& arguments = "")
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::string commandLine = "\"" + exe + "\" " + arguments;
        EXPECT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, flags, NULL, folder.c_str(),
                                   &startup, &Process));
    }
    ~Held()
    {
        TerminateProcess(Process.hProcess, 1);
        WaitForSingleObject(Process.hProcess, 10000);
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
    }
    bool Running() { return WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT; }
};
