// java.io.FileOutputStream and java.io.PrintStream. A PrintStream made on a FileOutputStream has no
// buffer between itself and the file: each print or println call is one write that reaches the file or
// pipe at once, as in the real class library. The double therefore never holds output back.
#include "jvm_double.h"

std::recursive_mutex StreamLock;
JavaObject* SystemOut = nullptr;  // set at creation, replaced by System.setOut
JavaObject* SystemErr = nullptr;  // set at creation, replaced by System.setErr

static JavaObject* NewFileStream(HANDLE h, const std::string& name) {
    JavaObject* f = new JavaObject(ObjKind::FileStream, "java/io/FileOutputStream");
    f->file = h;
    f->fileName = name;
    return f;
}

static JavaObject* NewPrintStream(JavaObject* out) {
    JavaObject* p = new JavaObject(ObjKind::PrintStream, "java/io/PrintStream");
    p->out = out;
    return p;
}

void InitSystemStreams() {
    SystemOut = NewPrintStream(NewFileStream(GetStdHandle(STD_OUTPUT_HANDLE), "FileDescriptor.out"));
    SystemErr = NewPrintStream(NewFileStream(GetStdHandle(STD_ERROR_HANDLE), "FileDescriptor.err"));
}

// The system's text for an error, without the final ".\r\n", as FileNotFoundException's message has it.
static std::string ErrorReason(DWORD error) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                             text, sizeof text, nullptr);  // a longer text fails: the number is shown
    if (n == 0) return "error " + std::to_string(error);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.' || text[n - 1] == ' ')) n--;
    return std::string(text, n);
}

JavaObject* OpenFileStream(JavaThread& t, const std::string& name, bool append) {
    // Java opens with CreateFileW: shared for reading and writing, created or emptied unless appending.
    std::u16string wide = DecodeUtf8(name);
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        std::string message = name + " (" + ErrorReason(error) + ")";
        ThrowJava(t, "java/io/FileNotFoundException", &message);
        return nullptr;
    }
    TraceLine("open %s append=%d", name.c_str(), append ? 1 : 0);
    return NewFileStream(h, name);
}

JavaObject* MakePrintStream(JavaObject* out) { return NewPrintStream(out); }

void PrintText(JavaObject* printStream, const std::string& text, bool newline) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    std::string bytes = newline ? text + "\r\n" : text;
    JavaObject* f = printStream ? printStream->out : nullptr;
    if (!f || f->file == nullptr || f->file == INVALID_HANDLE_VALUE) return;  // nowhere to write
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        // A failed write is swallowed, as PrintStream only sets its error flag.
        if (!WriteFile(f->file, p, static_cast<DWORD>(left), &written, nullptr) || written == 0) return;
        p += written;
        left -= written;
    }
}
