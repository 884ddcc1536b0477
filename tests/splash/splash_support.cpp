#include "splash_support.h"

#include "variant.h"
#include "watcher.h"

#include <tlhelp32.h>

#include <fstream>
#include <vector>

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (Since(start) > timeoutMs)
            return false;
        Sleep(5);
    }
}

DWORD Since(DWORD start)
{
    return GetTickCount() - start;
}

namespace {

struct SplashSearch {
    DWORD ProcessId;
    const std::string* Text;
    HWND Found;
};

BOOL CALLBACK MatchSplash(HWND window, LPARAM param)
{
    auto* search = (SplashSearch*)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = "";
    char title[256] = "";
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    if (owner == search->ProcessId && _stricmp(className, "Static") == 0 && *search->Text == title) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

LRESULT CALLBACK ProgramWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND FindSplash(DWORD processId, const std::string& text)
{
    SplashSearch search{processId, &text, NULL};
    EnumWindows(MatchSplash, (LPARAM)&search);
    return search.Found;
}

bool Showing(HWND window)
{
    return window != NULL && IsWindow(window) && IsWindowVisible(window);
}

HWND ShowProgramWindow(int x, int y, int width, int height)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ProgramWindowProc;
        windowClass.hInstance = GetModuleHandleA(NULL);
        windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
        windowClass.lpszClassName = "SplashTestProgramWindow";
        registered = RegisterClassA(&windowClass) != 0;
    }
    return CreateWindowExA(0, "SplashTestProgramWindow", "Program", WS_POPUP | WS_VISIBLE, x, y, width, height,
                           NULL, NULL, GetModuleHandleA(NULL), NULL);
}

bool WriteSolidBitmap(const std::string& path, int width, int height, BYTE r, BYTE g, BYTE b)
{
    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = (DWORD)(stride * height);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<BYTE> pixels(info.biSizeImage, 0);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            BYTE* pixel = &pixels[(size_t)(y * stride + x * 3)];
            pixel[0] = b, pixel[1] = g, pixel[2] = r;
        }
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)&file, sizeof(file));
    out.write((const char*)&info, sizeof(info));
    out.write((const char*)pixels.data(), (std::streamsize)pixels.size());
    return out.good();
}

std::string BuildLauncher(const std::string& folder, const std::string& name, const std::string& config,
                          std::string* error)
{
    std::string configPath = folder + "\\" + name + ".ini";
    std::string exePath = folder + "\\" + name + ".exe";
    std::ofstream(configPath, std::ios::binary) << config;
    return RunBuilder(configPath, exePath, error) ? exePath : "";
}

static BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    ((std::vector<WORD>*)param)->push_back(language);
    return TRUE;
}

bool BreakSplashBitmap(const std::string& exe, std::string* error)
{
    std::vector<WORD> languages;
    HMODULE image = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (image == NULL) {
        *error = "LoadLibraryExA: error " + std::to_string(GetLastError());
        return false;
    }
    EnumResourceLanguagesA(image, (LPCSTR)RT_BITMAP, MAKEINTRESOURCEA(8000), CollectLanguage, (LONG_PTR)&languages);
    FreeLibrary(image);
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    if (update == NULL) {
        *error = "BeginUpdateResourceA: error " + std::to_string(GetLastError());
        return false;
    }
    // A header whose size field is zero: no bitmap the system can read.
    BYTE garbage[16] = {};
    for (WORD language : languages) {
        if (!UpdateResourceA(update, (LPCSTR)RT_BITMAP, MAKEINTRESOURCEA(8000), language, garbage, sizeof(garbage))) {
            *error = "UpdateResourceA: error " + std::to_string(GetLastError());
            EndUpdateResourceA(update, TRUE);
            return false;
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        *error = "EndUpdateResourceA: error " + std::to_string(GetLastError());
        return false;
    }
    image = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = image != NULL ? LoadBitmapA(image, MAKEINTRESOURCEA(8000)) : NULL;
    if (image == NULL || bitmap != NULL)
        *error = "bitmap 8000 still loads after the update";
    if (bitmap != NULL)
        DeleteObject(bitmap);
    if (image != NULL)
        FreeLibrary(image);
    return image != NULL && bitmap == NULL;
}

bool HeldLauncher::Start(const std::string& exe)
{
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &Process))
        return false;
    Watcher = new ReportWatcher(Process.dwProcessId, DismissBy::Nothing);
    return true;
}

bool HeldLauncher::WaitForReport(DWORD timeoutMs)
{
    return Watcher->WaitForCount(1, timeoutMs);
}

DWORD HeldLauncher::CloseAndWait()
{
    Watcher->Stop();
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, "#32770", NULL)) != NULL;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == Process.dwProcessId)
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(Process.hProcess, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(Process.hProcess, &code);
    else
        TerminateProcess(Process.hProcess, 1);
    return code;
}

int HeldLauncher::ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == Process.dwProcessId)
            count++;
    CloseHandle(snapshot);
    return count;
}

HeldLauncher::~HeldLauncher()
{
    if (Process.hProcess != NULL) {
        TerminateProcess(Process.hProcess, 1);
        CloseHandle(Process.hProcess);
        CloseHandle(Process.hThread);
    }
    delete Watcher;
}
