// The launcher's entry point. The start-up code passes the command line after the program name.
#include "entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    return RunLauncher(instance, commandLine);
}
