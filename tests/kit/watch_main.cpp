// report_watcher: starts a program, prints every dialog and message box it shows (and closes it the
// way a user would with OK), then prints its exit code.
//   report_watcher PROGRAM.exe [ARGUMENTS...]
#include "watcher.h"

#include <stdio.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: report_watcher PROGRAM.exe [ARGUMENTS...]\n");
        return 2;
    }
    std::string arguments;
    for (int i = 2; i < argc; i++)
        arguments += (i > 2 ? " " : "") + std::string(argv[i]);
    LauncherRun run = RunAndWatch(argv[1], arguments, "", 60000);
    if (!run.Started) {
        fprintf(stderr, "report_watcher: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    for (const SeenReport& report : run.Reports) {
        printf("--- %s box ---\n%s\n", report.Caption.c_str(), report.Text.c_str());
        if (report.IsErrorDialog)
            printf("Details:\n%s\n", report.Details.c_str());
    }
    printf("--- exit code %ld%s ---\n", (long)run.ExitCode, run.Ended ? "" : " (killed after 60 s)");
    return run.Ended ? 0 : 1;
}
