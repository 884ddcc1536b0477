// Script classes: what a test's main(String[]) does, one command a line (the language is in README.md).
#include "jvm_double.h"

#include <sstream>

struct Script {
    std::string origin;
    std::vector<std::pair<int, std::string>> lines;  // line number and command, without blank and comment lines
    std::string stopVerb;               // "stop-on", "stop-ignore" (a stop call hangs) or "" (no stop call)
    std::vector<std::string> stopArgs;  // the arguments of a stop call
    std::vector<std::string> statics;   // names of the "static NAME" methods
    HANDLE stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // set by the first stop call
};

struct Frame {
    ClassInfo* cls;
    std::vector<std::string> args;     // UTF-8
    long iteration;                    // {i} inside repeat
    std::vector<std::wstring> wide;    // the arguments as given
    std::string thread;                // the Java thread's name
};

// "length L: CP CP...": String.length() and every codePointAt, in hex, an unpaired surrogate as itself.
static std::string CodePoints(const std::wstring& s) {
    std::ostringstream out;
    out << "length " << s.size() << ":" << std::hex;
    for (size_t i = 0; i < s.size(); i++) {
        bool pair = s[i] >= 0xD800 && s[i] < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000;
        out << " " << (pair ? 0x10000 + ((s[i] - 0xD800) << 10) + (s[i + 1] - 0xDC00) : s[i]);
        i += pair;
    }
    return out.str();
}

// The first word of text and the rest after the space that ends it.
static std::pair<std::string, std::string> Split(const std::string& text) {
    size_t space = text.find(' ');
    return {text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1)};
}

Script* ParseScript(const std::string& text, const std::string& origin) {
    Script* s = new Script;
    s->origin = origin;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        size_t first = line.find_first_not_of(" \t"), last = line.find_last_not_of(" \t\r");
        number++;
        if (first == std::string::npos || line[first] == '#') continue;
        s->lines.push_back({number, line.substr(first, last - first + 1)});
        std::pair<std::string, std::string> words = Split(s->lines.back().second);
        if (words.first == "static") s->statics.push_back(words.second);
        if (words.first != "stop-on" && words.first != "stop-ignore") continue;
        s->stopVerb = words.first;
        std::istringstream stopWords(words.second);
        for (std::string w; stopWords >> w;) s->stopArgs.push_back(w);
    }
    return s;
}

[[noreturn]] static void ScriptError(const Frame& f, size_t i, const std::string& text) {
    DoubleFailure(f.cls->script->origin + " line " + std::to_string(f.cls->script->lines[i].first) + ": " + text);
}

static long Number(const Frame& f, size_t i, const std::string& text) {
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) ScriptError(f, i, "'" + text + "' is not a number");
    return n;
}

// The value of {name}, or the braces as written when name means nothing.
static std::string Placeholder(const Frame& f, const std::string& name) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    std::string args, key = name.substr(name.find(':') + 1);  // NAME of "prop:NAME", N of "arg:N"
    size_t n = strtoul(key.c_str(), nullptr, 10);
    for (const std::string& a : f.args) args += "[" + a + "]";
    if (name == "args") return args;
    if (name == "argc") return std::to_string(f.args.size());
    if (name == "i") return std::to_string(f.iteration);
    if (name == "thread") return f.thread;
    if (name == "chars:" + key) return n < f.wide.size() ? CodePoints(f.wide[n]) : "<none>";
    if (name == "stdin") {  // the next line of System.in without its line end, "<eof>" at its end
        std::string line;
        DWORD got = 0;
        for (char c = 0; c != '\n' && ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, NULL) && got == 1;) line += c;
        return line.empty() ? "<eof>" : line.substr(0, line.find_first_of("\r\n"));
    }
    if (name == "arg:" + key) return n < f.args.size() ? f.args[n] : "<none>";
    if (name == "prop:" + key) return Properties.count(key) ? Properties[key] : "null";
    return "{" + name + "}";
}

static std::string Expand(const Frame& f, const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        out += close == std::string::npos ? text.substr(i, 1) : Placeholder(f, text.substr(i + 1, close - i - 1));
        i = close == std::string::npos ? i : close;
    }
    return out;
}

// "throw CLASS MESSAGE": the exception leaves main (or the thread's run) of the script class.
static void Throw(JavaThread& t, const Frame& f, const std::string& text) {
    std::pair<std::string, std::string> words = Split(text);
    ThrowJava(t, Replace(words.first, '.', '/'), Expand(f, words.second));
    std::string method = t.name == "main" ? ".main(" : ".run(", simple = f.cls->name.substr(f.cls->name.rfind('/') + 1);
    t.pending->frames.push_back(Replace(f.cls->name, '/', '.') + method + simple + ".java)");
}

// A visible top-level window titled title, pumped until it is closed or ms have passed.
static void ShowFrame(const std::string& title, DWORD ms) {
    HWND window = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 200, nullptr, nullptr, nullptr, nullptr);
    if (!window || !SetTimer(window, 1, ms, nullptr)) DoubleFailure("no window: " + std::to_string(GetLastError()));
    MSG message;
    while (IsWindow(window) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == window) DestroyWindow(window);
        else DispatchMessageA(&message);
    }
}

// The index of the "end" that closes the thread block opened on line index open.
static size_t BlockEnd(const Frame& f, size_t open) {
    const auto& lines = f.cls->script->lines;
    for (size_t i = open + 1, depth = 1; i < lines.size(); i++) {
        std::string verb = Split(lines[i].second).first;
        depth = verb == "thread" ? depth + 1 : verb == "end" ? depth - 1 : depth;
        if (depth == 0) return i;
    }
    ScriptError(f, open, "thread block without 'end'");
}

static bool Run(JavaThread& t, Frame& f, size_t from, size_t to);

// Runs the command text of line index i (a thread block moves i to its end); false when it threw.
static bool Step(JavaThread& t, Frame& f, size_t& i, const std::string& text) {
    std::pair<std::string, std::string> words = Split(text), rest = Split(words.second);
    const std::string& verb = words.first;
    if (verb == "out" || verb == "out+" || verb == "err") {
        PrintText(verb == "err" ? SystemErr : SystemOut, Expand(f, words.second), verb != "out+");
    } else if (verb == "repeat") {
        for (f.iteration = 0; f.iteration < Number(f, i, rest.first); f.iteration++)
            if (!Step(t, f, i, rest.second)) return false;
    } else if (verb == "throw") {
        Throw(t, f, words.second);
        return false;
    } else if (verb == "exit") {
        ExitJava(Number(f, i, Expand(f, words.second)));
    } else if (verb == "abort") {
        FatalJava(Expand(f, words.second));
    } else if (verb == "gc") {
        CollectGarbage();
    } else if (verb == "sleep") {
        Sleep(Number(f, i, words.second));  // Thread.sleep
    } else if (verb == "thread") {
        size_t open = i, end = i = BlockEnd(f, i);
        StartJavaThread(words.second, [f, open, end](JavaThread& worker) mutable {
            f.thread = worker.name;
            Run(worker, f, open + 1, end);
        });
    } else if (verb == "window") {  // "window MS TITLE": an application's frame on its event thread
        DWORD ms = Number(f, i, rest.first);
        StartJavaThread("AWT-EventQueue-0", [rest, ms](JavaThread&) { ShowFrame(rest.second, ms); });
    } else if (verb == "wait-stop") {  // returns once a stop call has been made, before or during the wait
        WaitForSingleObject(f.cls->script->stopped, INFINITE);
    } else if (verb != "stop-on" && verb != "stop-ignore" && verb != "static") {
        ScriptError(f, i, "unknown command '" + verb + "'");
    }
    return true;
}

static bool Run(JavaThread& t, Frame& f, size_t from, size_t to) {
    for (size_t i = from; i < to; i++)
        if (!Step(t, f, i, f.cls->script->lines[i].second)) return false;
    return true;
}

const std::vector<std::string>& StaticMethods(const Script* s) { return s->statics; }

// The frame of a call of a method of the script class with a String[] argument.
static Frame CallFrame(JavaThread& t, MethodInfo& m, va_list args) {
    Frame f{m.owner, {}, 0, {}, t.name};
    for (JavaObject* a : reinterpret_cast<JavaObject*>(va_arg(args, jobject))->items) {
        f.args.push_back(a ? Utf8(a->text) : "null");
        f.wide.push_back(a ? a->text : L"null");
    }
    return f;
}

JavaObject* ScriptStatic(JavaThread& t, MethodInfo& m, va_list args) {
    TraceLine("call " + m.owner->name + "." + m.name + " " + Placeholder(CallFrame(t, m, args), "args"));
    return nullptr;
}

JavaObject* ScriptMain(JavaThread& t, MethodInfo& m, va_list args) {
    ClassInfo& c = *m.owner;
    Frame f = CallFrame(t, m, args);
    Script& s = *c.script;
    TraceLine("main " + c.name + " " + Placeholder(f, "args"));
    // A main call with exactly the stop arguments releases wait-stop, or hangs when the script ignores it.
    if (!s.stopVerb.empty() && f.args == s.stopArgs) {
        TraceLine("stop-call " + c.name + (s.stopVerb == "stop-ignore" ? " ignored" : ""));
        if (s.stopVerb == "stop-ignore") Sleep(INFINITE);
        SetEvent(s.stopped);
        return nullptr;
    }
    Run(t, f, 0, s.lines.size());
    return nullptr;
}
