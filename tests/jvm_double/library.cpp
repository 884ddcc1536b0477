// The class library in miniature: the members of java.lang.System, java.io.FileOutputStream and
// java.io.PrintStream that the launcher uses, throwables, and the script classes found on the class path
// (directories hold "com/acme/App.script"; a .jar or .zip file holds sections "== com/acme/App").
#include "jvm_double.h"

#include <cstdio>
#include <sstream>

JavaObject* SystemOut = nullptr;  // replaced by System.setOut
JavaObject* SystemErr = nullptr;  // replaced by System.setErr
static std::recursive_mutex StreamLock;  // a PrintStream is synchronized; never held while waiting for the VM
static std::map<std::string, ClassInfo*> Classes;  // under VmLock

// A PrintStream on a FileOutputStream has no buffer: each print is one write that reaches the file or
// pipe at once, so nothing is held back at the end. A failed write only sets PrintStream's error flag.
void PrintText(JavaObject* printStream, const std::string& text, bool newline) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    std::string bytes = newline ? text + "\r\n" : text;
    DWORD written;
    WriteFile(printStream->file, bytes.data(), bytes.size(), &written, nullptr);
}

void ThrowJava(JavaThread& t, const std::string& className, const std::string& message) {
    t.pending = new JavaObject(className);
    t.pending->message = message;
}

void PrintStackTrace(JavaObject* e, std::string prefix) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    for (; e; e = e->cause, prefix = "Caused by: ") {
        std::string message = e->message.empty() ? "" : ": " + e->message;
        PrintText(SystemErr, prefix + Replace(e->className, '/', '.') + message, true);
        for (const std::string& frame : e->frames) PrintText(SystemErr, "\tat " + frame, true);
    }
}

// The next object parameter; the launcher never passes a library method null.
static JavaObject* Arg(va_list& args) {
    JavaObject* o = reinterpret_cast<JavaObject*>(va_arg(args, jobject));
    if (!o) DoubleFailure("a null argument to a library method is not modelled");
    return o;
}

static JavaObject* SystemSetStream(JavaThread&, MethodInfo& m, va_list args) {
    std::lock_guard<std::recursive_mutex> hold(StreamLock);
    (m.name == "setOut" ? SystemOut : SystemErr) = Arg(args);
    return nullptr;
}

// The previous value it returns is not modelled (null): the launcher ignores it.
static JavaObject* SystemSetProperty(JavaThread&, MethodInfo&, va_list args) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    std::string key = Utf8(Arg(args)->text);
    Properties[key] = Utf8(Arg(args)->text);
    return nullptr;
}

static JavaObject* SystemExit(JavaThread&, MethodInfo&, va_list args) { ExitJava(va_arg(args, jint)); }

// FileOutputStream(String, boolean) opens as Java does: shared, created or emptied unless appending;
// the message of its failure ends with the system's text for the error.
static JavaObject* NewFileOutputStream(JavaThread& t, MethodInfo&, va_list args) {
    std::wstring name = Arg(args)->text;
    bool append = va_arg(args, int) != 0;  // a boolean arrives promoted to int
    HANDLE h = CreateFileW(name.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return new JavaObject("java/io/FileOutputStream", L"", h);
    char reason[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
                             reason, sizeof reason, nullptr);
    while (n > 0 && strchr("\r\n. ", reason[n - 1])) n--;  // without the final ".\r\n"
    ThrowJava(t, "java/io/FileNotFoundException", Utf8(name) + " (" + std::string(reason, n) + ")");
    return nullptr;
}

// PrintStream(OutputStream) of a FileOutputStream: it writes to that stream's file.
static JavaObject* NewPrintStream(JavaThread&, MethodInfo&, va_list args) {
    return new JavaObject("java/io/PrintStream", L"", Arg(args)->file);
}

static ClassInfo* Define(const std::string& name, std::vector<MethodInfo> methods) {
    ClassInfo* c = Classes[name] = new ClassInfo{name, JavaObject("java/lang/Class"), methods, nullptr};
    c->mirror.classInfo = c;
    for (MethodInfo& m : c->methods) m.owner = c;
    return c;
}

void InitLibrary() {
    SystemOut = new JavaObject("java/io/PrintStream", L"", GetStdHandle(STD_OUTPUT_HANDLE));
    SystemErr = new JavaObject("java/io/PrintStream", L"", GetStdHandle(STD_ERROR_HANDLE));
    Define("java/lang/String", {});
    Define("java/lang/System", {{"setOut", "(Ljava/io/PrintStream;)V", true, SystemSetStream},
                                {"setErr", "(Ljava/io/PrintStream;)V", true, SystemSetStream},
                                {"setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true,
                                 SystemSetProperty},
                                {"exit", "(I)V", true, SystemExit}});
    Define("java/io/FileOutputStream", {{"<init>", "(Ljava/lang/String;Z)V", false, NewFileOutputStream}});
    Define("java/io/PrintStream", {{"<init>", "(Ljava/io/OutputStream;)V", false, NewPrintStream}});
}

static bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* in = _wfopen(Wide(path).c_str(), L"rb");
    char buffer[4096];
    for (size_t got; in && (got = fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, got);
    return in && !fclose(in);
}

// The script of a class from the first class path entry that holds it; missing entries are skipped.
static bool FindClassScript(const std::string& name, std::string& text, std::string& origin) {
    for (const std::string& entry : ClassPath) {
        std::string suffix = entry.size() > 4 ? entry.substr(entry.size() - 4) : "", archive, line;
        origin = Replace(entry + "\\" + name + ".script", '/', '\\');
        if (ReadWholeFile(origin, text)) return true;  // only under a directory
        bool isArchive = !_stricmp(suffix.c_str(), ".jar") || !_stricmp(suffix.c_str(), ".zip");
        bool inside = false, found = false;  // a section runs from "== com/acme/App" to the next "== " line
        std::istringstream lines(isArchive && ReadWholeFile(entry, archive) ? archive : "");
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, 3, "== ") == 0) found = (inside = line.substr(3) == name) || found;
            else if (inside) text += line + "\n";
        }
        if (found) return (origin = entry), true;
    }
    return false;
}

ClassInfo* FindJavaClass(JavaThread& t, const std::string& name) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    std::string text, origin;
    if (Classes.count(name)) return Classes[name];
    if (name.compare(0, 5, "java/") == 0) DoubleFailure("unmodelled class " + name);
    // A dotted name is never a class's internal name. The class loader's failure is left as HotSpot leaves it.
    if (name.find('.') != std::string::npos || !FindClassScript(name, text, origin)) {
        ThrowJava(t, "java/lang/NoClassDefFoundError", name);
        JavaObject* cause = t.pending->cause = new JavaObject("java/lang/ClassNotFoundException");
        cause->message = Replace(name, '/', '.');
        cause->frames = {"java.base/jdk.internal.loader.BuiltinClassLoader.loadClass(BuiltinClassLoader.java:641)",
                         "java.base/jdk.internal.loader.ClassLoaders$AppClassLoader.loadClass(ClassLoaders.java:188)",
                         "java.base/java.lang.ClassLoader.loadClass(ClassLoader.java:520)"};
        return nullptr;
    }
    Script* script = ParseScript(text, origin);
    std::vector<MethodInfo> methods{{"main", "([Ljava/lang/String;)V", true, ScriptMain}};
    for (const std::string& m : StaticMethods(script)) methods.push_back({m, "([Ljava/lang/String;)V", true, ScriptStatic});
    ClassInfo* c = Define(name, methods);
    c->script = script;
    return c;
}
