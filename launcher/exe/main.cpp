// The launcher's entry point. The arguments are taken from the UTF-16 command line: the ANSI one that
// the start-up code passes would have turned every character outside the code page into '?'.
#include "entry.h"
#include "launch_log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    (void)commandLine;
    int exitCode = RunLauncher(instance, SkipProgramName(GetCommandLineW()));
    LaunchLog("the launcher ends with exit code %d", exitCode);
    return exitCode;
}
