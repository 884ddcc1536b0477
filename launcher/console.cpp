#include "console.h"

#include "report.h"
#include "settings.h"
#include "settings_table.h"

#include <string.h>

// True when handle is not one this process can use: missing, or a number inherited from a parent
// that is no handle here (a window program is given its parent's values as they were).
static bool IsMissingHandle(HANDLE handle)
{
    if (handle == NULL || handle == INVALID_HANDLE_VALUE)
        return true;
    SetLastError(NO_ERROR);
    return GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR;
}

// Points the standard handle which at the console buffer called name ("CONIN$", "CONOUT$"); a handle
// already usable (the shell redirected it to a file or a pipe) is kept.
static void UseConsoleHandle(DWORD which, const char* name)
{
    if (!IsMissingHandle(GetStdHandle(which)))
        return;
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    // A buffer that cannot be opened leaves the handle missing: reports then go to a box.
    if (handle != INVALID_HANDLE_VALUE)
        SetStdHandle(which, handle);
}

bool AttachParentConsole()
{
    // Windows attaches here. Wine has attached a window program to its parent's console already and
    // refuses a second attach (ERROR_ACCESS_DENIED), and a parent started without a terminal has a
    // console there that cannot be written to. So the test is whether the screen buffer opens.
    BOOL attached = AttachConsole(ATTACH_PARENT_PROCESS);
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (screen == INVALID_HANDLE_VALUE) {
        if (attached)
            FreeConsole();
        return false;
    }
    CloseHandle(screen);
    UseConsoleHandle(STD_INPUT_HANDLE, "CONIN$");
    UseConsoleHandle(STD_OUTPUT_HANDLE, "CONOUT$");
    UseConsoleHandle(STD_ERROR_HANDLE, "CONOUT$");
    return true;
}

void EnterConsoleMode()
{
    if (RunMode != RUN_MODE_GUI)
        return;
    char* console = LoadSettingText(NULL, FindSettingByField("Console")->Id);
    if (strcmp(console, "yes") == 0 || (strcmp(console, "attach") == 0 && AttachParentConsole()))
        RunMode = RUN_MODE_CONSOLE;
    FreeSettingText(console);
}
