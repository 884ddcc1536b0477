// report_watcher PROGRAM.exe: starts the program, prints every dialog and message box it shows (and closes
// it the way a user would with OK), then prints its exit code.
#include "watcher.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: report_watcher PROGRAM.exe\n");
        return 2;
    }
    LauncherRun run = RunAndWatch(argv[1], "", "", 60000);
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
