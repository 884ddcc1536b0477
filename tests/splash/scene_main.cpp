// Puts one thing a user sees on the screen and holds it there for a screenshot:
//   splash_scene splash READY CLOSE   the splash with the shipped picture
//   splash_scene dialog READY CLOSE   the error dialog with a Java program's captured output
// Once it is up, READY is written (for the dialog: its window rectangle and the size its template
// asks for, in pixels); the program then waits for the file CLOSE to exist and ends.
#include "report.h"
#include "settings.h"
#include "splash.h"
#include "splash_support.h"

#include <stdio.h>
#include <string.h>

namespace {

const char* ReadyPath;
const char* ClosePath;

bool CloseRequested()
{
    return GetFileAttributesA(ClosePath) != INVALID_FILE_ATTRIBUTES;
}

bool WriteReady(const char* text)
{
    FILE* file = fopen(ReadyPath, "wb");
    if (file == NULL)
        return false;
    fputs(text, file);
    return fclose(file) == 0;
}

int ShowSplash()
{
    static char title[] = "Loading Demo...";
    LauncherSettings.SplashText = title;
    LauncherSettings.SplashUntilWindow = false;
    LauncherSettings.SplashSeconds = 120;
    if (!StartSplashScreen())
        return 1;
    HWND splash = NULL;
    if (!WaitUntil([&] { return Showing(splash = FindSplash(GetCurrentProcessId(), title)); }, 10000))
        return 2;
    if (!WriteReady("splash\n") || !WaitUntil(CloseRequested, 120000))
        return 3;
    return 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if (owner == GetCurrentProcessId() && IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        *(HWND*)param = window;
        return FALSE;
    }
    return TRUE;
}

// Runs beside the dialog: reports where it is, then closes it when asked.
DWORD WINAPI DialogWatch(LPVOID)
{
    HWND dialog = NULL;
    if (!WaitUntil([&] { return !EnumWindows(FindDialog, (LPARAM)&dialog) && dialog != NULL; }, 10000))
        return 1;
    RECT window, expected = {0, 0, 304, 166};
    GetWindowRect(dialog, &window);
    // The template's size in dialog units, made pixels with the dialog's font, plus its frame.
    MapDialogRect(dialog, &expected);
    AdjustWindowRectEx(&expected, (DWORD)GetWindowLongPtrA(dialog, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongPtrA(dialog, GWL_EXSTYLE));
    char text[128];
    snprintf(text, sizeof(text), "%ld %ld %ld %ld %ld %ld\n", window.left, window.top, window.right, window.bottom,
             expected.right - expected.left, expected.bottom - expected.top);
    if (WriteReady(text))
        WaitUntil(CloseRequested, 120000);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

int ShowDialog()
{
    RunMode = RUN_MODE_GUI;
    InstanceHandle = GetModuleHandleA(NULL);
    const char* output =
        "Demo 2.4.1 starting\r\n"
        "Reading settings from C:\\Users\\demo\\AppData\\Roaming\\Demo\\demo.properties\r\n"
        "Opening the data folder C:\\Users\\demo\\Documents\\Demo\r\n"
        "Exception in thread \"main\" java.lang.IllegalStateException: The data folder is locked by another "
        "process: C:\\Users\\demo\\Documents\\Demo\\.lock\r\n"
        "\tat org.acme.demo.Storage.open(Storage.java:88)\r\n"
        "\tat org.acme.demo.Workspace.<init>(Workspace.java:41)\r\n"
        "\tat org.acme.demo.Main.main(Main.java:17)\r\n";
    HANDLE watch = CreateThread(NULL, 0, DialogWatch, NULL, 0, NULL);
    if (watch == NULL)
        return 1;
    ShowErrorWithDetails(output, "Error invoking method: %s", "main(java/lang/String[])");
    DWORD code = 1;
    WaitForSingleObject(watch, 10000);
    GetExitCodeThread(watch, &code);
    return (int)code;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: splash_scene splash|dialog READY CLOSE\n");
        return 2;
    }
    ReadyPath = argv[2];
    ClosePath = argv[3];
    if (strcmp(argv[1], "splash") == 0)
        return ShowSplash();
    if (strcmp(argv[1], "dialog") == 0)
        return ShowDialog();
    return 2;
}
