// An application's first frame: a visible overlapped top-level window, created and pumped on a
// non-daemon Java thread of its own (as a toolkit's event thread), closed by the user or after a time.
#include "jvm_double.h"

static const char WindowClassName[] = "KestrunJvmDoubleFrame";
static const UINT_PTR CloseTimer = 1;

static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == CloseTimer) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&FrameProc), &module);
    return module;
}

static void RegisterFrameClass() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = FrameProc;
        wc.hInstance = ThisModule();
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = WindowClassName;
        if (!RegisterClassA(&wc)) DoubleFailure("RegisterClassA failed (error %lu)", GetLastError());
    });
}

struct WindowWork {
    std::string title;
    long milliseconds;
};

static void RunFrame(JavaThread&, void* context) {
    WindowWork* work = static_cast<WindowWork*>(context);
    RegisterFrameClass();
    HWND window = CreateWindowExA(0, WindowClassName, work->title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, ThisModule(), nullptr);
    if (!window) DoubleFailure("CreateWindowExA failed (error %lu)", GetLastError());
    UpdateWindow(window);
    SetTimer(window, CloseTimer, static_cast<UINT>(work->milliseconds), nullptr);
    TraceLine("window-shown %s", work->title.c_str());
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    TraceLine("window-closed %s", work->title.c_str());
    delete work;
}

void ShowWindowOnThread(const std::string& title, long milliseconds) {
    StartJavaThread("AWT-EventQueue-0", false, RunFrame, new WindowWork{title, milliseconds});
}
