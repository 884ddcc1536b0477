#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

static std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return ".";  // truncated: fall back to the current folder
    std::string p(path, n);
    return p.substr(0, p.rfind('\\'));
}

void DoubleTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = ExeDir() + "\\work\\" + info->test_suite_name() + "." + info->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "\\classes");
}

void DoubleTest::WriteFile(const std::string& name, const std::string& text) {
    std::filesystem::path path(dir + "\\" + name);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void DoubleTest::Script(const std::string& className, const std::string& text) {
    WriteFile("classes\\" + className + ".script", text);
}

std::string DoubleTest::ReadFile(const std::string& name) const {
    std::ifstream in(dir + "\\" + name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

static HANDLE OpenOutput(const std::string& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE DoubleTest::StartHost(const std::string& plan) {
    std::string text = plan;
    for (size_t at = text.find("%D"); at != std::string::npos; at = text.find("%D", at + dir.size()))
        text.replace(at, 2, dir);
    WriteFile("plan.txt", text);
    for (const char* old : {"host.log", "trace.txt", "vfprintf.txt"}) std::filesystem::remove(dir + "\\" + old);
    std::string exe = ExeDir();
    std::string command = "\"" + exe + "\\jvm_double_host.exe\" \"" + exe + "\\jvm.dll\" \"" + dir + "\\plan.txt\" \"" + dir + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = OpenOutput(dir + "\\stdout.txt");
    si.hStdError = OpenOutput(dir + "\\stderr.txt");
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &si, &pi);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    EXPECT_TRUE(ok) << "cannot start the host: error " << GetLastError();
    if (!ok) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

HostRun DoubleTest::FinishHost(HANDLE process, DWORD timeoutMs) {
    HostRun run = {-998, "", "", "", ""};
    if (process) {
        if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            run.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            run.exitCode = -999;
        }
        CloseHandle(process);
    }
    run.log = ReadFile("host.log");
    run.trace = ReadFile("trace.txt");
    run.vfprintf = ReadFile("vfprintf.txt");
    run.stderrText = ReadFile("stderr.txt");
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int FindLine(const std::vector<std::string>& lines, const std::string& part, int from) {
    for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < lines.size(); i++)
        if (lines[i].find(part) != std::string::npos) return static_cast<int>(i);
    return -1;
}
