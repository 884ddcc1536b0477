// The launcher's entry point. The arguments are taken from the UTF-16 command line: the ANSI one that
// the start-up code passes would have turned every character outside the code page into '?'.
#include "entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    (void)commandLine;
    return RunLauncher(instance, SkipProgramName(GetCommandLineW()));
}
