// Times program starts: from just before CreateProcess to the arrival of the first byte the program
// (its Java main) writes on standard output, for two command lines run alternately, and prints the
// median, minimum and maximum of each and the ratios of the medians and of the minima.
//   bench_startup_timer RUNS "COMMAND A" "COMMAND B"
#include <windows.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

// Milliseconds from CreateProcess to the first output byte of one run of commandLine; -1 on failure.
// The run is waited for to its end, so that runs never overlap.
static double TimeOneStart(const char* commandLine)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd = NULL, writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    char command[4096];
    snprintf(command, sizeof(command), "%s", commandLine); // CreateProcessA may write to it
    LARGE_INTEGER frequency, start, first;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    BOOL created = CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    double result = -1;
    char byte;
    DWORD got = 0;
    if (created && ReadFile(readEnd, &byte, 1, &got, NULL) && got == 1) {
        QueryPerformanceCounter(&first);
        result = (double)(first.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    }
    char rest[4096];
    while (ReadFile(readEnd, rest, sizeof(rest), &got, NULL) && got > 0) {
    }
    if (created) {
        WaitForSingleObject(process.hProcess, 30000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        if (code != 0)
            result = -1;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return result;
}

static void Summarise(const char* name, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    printf("%s: median %.1f ms, min %.1f ms, max %.1f ms, %zu runs\n", name, times[times.size() / 2],
           times.front(), times.back(), times.size());
}

int main(int argc, char** argv)
{
    if (argc != 4 || atoi(argv[1]) <= 0) {
        fprintf(stderr, "usage: bench_startup_timer RUNS \"COMMAND A\" \"COMMAND B\"\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    std::vector<double> a, b;
    // One unmeasured run each first: the file cache and Wine's loaded DLLs are warm for both.
    if (TimeOneStart(argv[2]) < 0 || TimeOneStart(argv[3]) < 0) {
        fprintf(stderr, "a command failed or wrote nothing\n");
        return 1;
    }
    for (int i = 0; i < runs; i++) {
        // Alternating, and swapping which goes first, so that drift hits both alike.
        double x, y;
        if (i % 2 == 0) {
            x = TimeOneStart(argv[2]);
            y = TimeOneStart(argv[3]);
        } else {
            y = TimeOneStart(argv[3]);
            x = TimeOneStart(argv[2]);
        }
        if (x < 0 || y < 0) {
            fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        a.push_back(x);
        b.push_back(y);
    }
    Summarise("A", a);
    Summarise("B", b);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    printf("ratio A/B of the medians: %.3f, of the minima: %.3f\n", a[a.size() / 2] / b[b.size() / 2],
           a.front() / b.front());
    return 0;
}
