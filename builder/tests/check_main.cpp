// kr-check: loads a built launcher the way Windows does and prints what the loader sees.
//   kr-check EXE image|datafile QUERY...   (queries as in probe.h)
//   kr-check EXE start                     (starts it; "start running" or "start exited CODE")
#include "probe.h"

#include <stdio.h>
#include <string.h>

static int Start(const char* path)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(path, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("start failed %lu\n", GetLastError());
        return 1;
    }
    // A GUI program that waits for input has started; a console program (or one that fails
    // early) is waited for until it ends.
    if (WaitForInputIdle(process.hProcess, 10000) != 0)
        WaitForSingleObject(process.hProcess, 10000);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code))
        printf("start exited %ld\n", (long)code);
    else
        printf("start running\n"), TerminateProcess(process.hProcess, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: kr-check EXE image|datafile|start QUERY...\n");
        return 2;
    }
    if (strcmp(argv[2], "start") == 0)
        return Start(argv[1]);
    DWORD flags = strcmp(argv[2], "datafile") == 0 ? LOAD_LIBRARY_AS_DATAFILE : DONT_RESOLVE_DLL_REFERENCES;
    HMODULE module = LoadLibraryExA(argv[1], NULL, flags);
    if (module == NULL) {
        printf("load failed %lu\n", GetLastError());
        return 1;
    }
    printf("loaded %s\n", argv[2]);
    return RunProbes(module, argv[1], argc, argv, 3);
}
