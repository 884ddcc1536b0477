// Script classes: what a test's main(String[]) does, one command a line (the language is in README.md).
#include "jvm_double.h"

#include <sstream>

struct Command {
    int line;
    std::string verb, rest;      // rest: the text after the verb
    std::vector<Command> block;  // thread: the commands up to "end"
};

struct Script {
    std::string origin;
    std::vector<Command> body;
    bool hasStop = false, stopIgnored = false;  // stop-on or stop-ignore given; stop-ignore: a stop call hangs
    std::string stopArgs;                       // a stop call's arguments as {args} shows them
    HANDLE stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // set by the first stop call
};

struct Frame {
    ClassInfo* cls;
    std::vector<std::string> args;  // UTF-8
    long iteration;                 // {i} inside repeat
};

static Command ParseLine(const std::string& line, int number, const std::string& origin) {
    static const char* const verbs[] = {"out", "out+", "err", "repeat", "throw", "exit", "abort", "sleep", "thread",
                                        "window", "stop-on", "stop-ignore", "wait-stop", "end"};
    size_t space = line.find(' ');
    Command c{number, line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1), {}};
    for (const char* verb : verbs)
        if (c.verb == verb) return c;
    DoubleFailure("%s line %d: unknown command '%s'", origin.c_str(), number, c.verb.c_str());
}

// Parses lines into commands up to "end" (inside a thread block) or the end of the text.
static std::vector<Command> ParseBlock(std::istringstream& in, int& number, Script& s, bool inBlock) {
    std::vector<Command> commands;
    for (std::string line; std::getline(in, line);) {
        size_t first = line.find_first_not_of(" \t"), last = line.find_last_not_of(" \t\r");
        number++;
        if (first == std::string::npos || line[first] == '#') continue;
        Command c = ParseLine(line.substr(first, last - first + 1), number, s.origin);
        if (c.verb == "end" && !inBlock) DoubleFailure("%s line %d: 'end' without thread", s.origin.c_str(), number);
        if (c.verb == "end") return commands;
        if (c.verb == "thread") c.block = ParseBlock(in, number, s, true);
        bool stop = c.verb == "stop-on" || c.verb == "stop-ignore";
        std::istringstream words(stop ? c.rest : "");
        for (std::string w; words >> w;) s.stopArgs += "[" + w + "]";
        s.hasStop = s.hasStop || stop;
        s.stopIgnored = s.stopIgnored || c.verb == "stop-ignore";
        if (!stop) commands.push_back(c);
    }
    if (inBlock) DoubleFailure("%s: thread block without 'end'", s.origin.c_str());
    return commands;
}

Script* ParseScript(const std::string& text, const std::string& origin) {
    Script* s = new Script;
    s->origin = origin;
    std::istringstream in(text);
    int number = 0;
    s->body = ParseBlock(in, number, *s, false);
    return s;
}

static long Number(const Frame& f, const Command& c, const std::string& text) {
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    const char* origin = f.cls->script->origin.c_str();
    if (text.empty() || *end) DoubleFailure("%s line %d: '%s' is not a number", origin, c.line, text.c_str());
    return n;
}

// The value of {name}; false when name means nothing (the braces then stay as written).
static bool Placeholder(JavaThread& t, const Frame& f, const std::string& name, std::string& value) {
    size_t i = name.compare(0, 4, "arg:") ? 0 : strtoul(name.c_str() + 4, nullptr, 10);
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    auto property = name.compare(0, 5, "prop:") ? Properties.end() : Properties.find(name.substr(5));
    value.clear();
    if (name == "args")
        for (const std::string& a : f.args) value += "[" + a + "]";
    else if (name == "argc") value = std::to_string(f.args.size());
    else if (name.compare(0, 4, "arg:") == 0) value = i < f.args.size() ? f.args[i] : "<none>";
    else if (name.compare(0, 5, "prop:") == 0) value = property != Properties.end() ? property->second : "null";
    else if (name == "thread") value = t.name;
    else if (name == "i") value = std::to_string(f.iteration);
    else return false;
    return true;
}

static std::string Expand(JavaThread& t, const Frame& f, const std::string& text) {
    std::string out, value;
    for (size_t i = 0; i < text.size(); i++) {
        size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        bool known = close != std::string::npos && Placeholder(t, f, text.substr(i + 1, close - i - 1), value);
        out += known ? value : text.substr(i, 1);
        i = known ? close : i;
    }
    return out;
}

// "throw CLASS [MESSAGE]": the exception leaves main (or the thread's run) of the script class.
static void Throw(JavaThread& t, const Frame& f, const Command& c) {
    size_t space = c.rest.find(' ');
    std::string message = space == std::string::npos ? "" : Expand(t, f, c.rest.substr(space + 1));
    ThrowJava(t, Replace(c.rest.substr(0, space), '.', '/'), space == std::string::npos ? nullptr : &message);
    std::string method = t.name == "main" ? ".main(" : ".run(", simple = f.cls->name.substr(f.cls->name.rfind('/') + 1);
    t.pending->frames.push_back(Replace(f.cls->name, '/', '.') + method + simple + ".java)");
}

// A visible top-level window titled title, pumped until it is closed or ms have passed.
static void ShowFrame(const std::string& title, DWORD ms) {
    HWND window = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 200, nullptr, nullptr, nullptr, nullptr);
    if (!window) DoubleFailure("CreateWindowExA failed (error %lu)", GetLastError());
    TraceLine("window-shown %s", title.c_str());
    DWORD end = GetTickCount() + ms;
    MSG message;
    for (LONG left; IsWindow(window) && (left = static_cast<LONG>(end - GetTickCount())) > 0;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
    if (IsWindow(window)) DestroyWindow(window);
    TraceLine("window-closed %s", title.c_str());
}

// Runs commands; false when one left an exception pending.
static bool Run(JavaThread& t, Frame& f, const std::vector<Command>& commands) {
    for (const Command& c : commands) {
        size_t space = c.rest.find(' ');
        if (c.verb == "out" || c.verb == "out+" || c.verb == "err") {
            PrintText(c.verb[0] == 'o' ? SystemOut : SystemErr, Expand(t, f, c.rest), c.verb != "out+");
        } else if (c.verb == "repeat") {
            std::string command = space == std::string::npos ? "" : c.rest.substr(space + 1);
            std::vector<Command> inner{ParseLine(command, c.line, f.cls->script->origin)};
            for (f.iteration = 0; f.iteration < Number(f, c, c.rest.substr(0, space)); f.iteration++)
                if (!Run(t, f, inner)) return false;
        } else if (c.verb == "throw") {
            Throw(t, f, c);
            return false;
        } else if (c.verb == "exit") {
            TraceLine("System.exit %ld", Number(f, c, c.rest));
            ExitJava(static_cast<jint>(Number(f, c, c.rest)));
        } else if (c.verb == "abort") {
            FatalJava(c.rest.empty() ? "abort requested by the application" : Expand(t, f, c.rest));
        } else if (c.verb == "sleep") {
            Sleep(static_cast<DWORD>(Number(f, c, c.rest)));  // Thread.sleep
        } else if (c.verb == "thread") {
            StartJavaThread(c.rest, [f, &c](JavaThread& worker) mutable { Run(worker, f, c.block); });
        } else if (c.verb == "window") {  // "window MS TITLE": an application's frame on its event thread
            std::string title = space == std::string::npos ? "" : c.rest.substr(space + 1);
            DWORD ms = static_cast<DWORD>(Number(f, c, c.rest.substr(0, space)));
            StartJavaThread("AWT-EventQueue-0", [title, ms](JavaThread&) { ShowFrame(title, ms); });
        } else if (c.verb == "wait-stop") {  // returns once a stop call has been made, before or during the wait
            WaitForSingleObject(f.cls->script->stopped, INFINITE);
            TraceLine("stopped %s", f.cls->name.c_str());
        }
    }
    return true;
}

void RunScriptMain(JavaThread& t, ClassInfo& c, const std::vector<std::u16string>& args) {
    Frame f{&c, {}, 0};
    for (const std::u16string& a : args) f.args.push_back(Utf8(a));
    std::string shown = Expand(t, f, "{args}");
    TraceLine("main %s %s", c.name.c_str(), shown.c_str());
    // A main call with exactly the stop arguments releases wait-stop, or hangs when the script ignores it.
    if (c.script->hasStop && shown == c.script->stopArgs) {
        TraceLine("stop-call %s%s", c.name.c_str(), c.script->stopIgnored ? " ignored" : "");
        if (c.script->stopIgnored) Sleep(INFINITE);
        SetEvent(c.script->stopped);
        return;
    }
    bool completed = Run(t, f, c.script->body);
    TraceLine("main-end %s %s", c.name.c_str(), completed ? "returned" : "threw");
}
