// Script classes: what a test's main(String[]) does, one command a line (the language is in README.md).
#include "jvm_double.h"

#include <condition_variable>
#include <sstream>

struct Command {
    int line;
    std::string verb;
    std::string rest;             // the text after the verb
    std::vector<Command> block;   // thread and daemon: the commands up to "end"
};

struct Script {
    std::string className, origin;
    std::vector<Command> body;
    bool hasStop = false;                 // a stop-on or stop-ignore line was given
    bool stopIgnored = false;             // stop-ignore: a stop call hangs
    std::vector<std::string> stopArgs;    // the arguments of a stop call
    std::mutex lock;                      // guards stopCount
    std::condition_variable stopSignal;   // wakes wait-stop
    int stopCount = 0;                    // stop calls so far
};

// What a running command sees.
struct Frame {
    ClassInfo* cls;
    std::vector<std::u16string> args;
    long iteration = 0;   // {i} inside repeat
};

static bool RunCommands(JavaThread& t, Frame& f, const std::vector<Command>& commands);

static const char* const Verbs[] = {"out", "out+", "err", "err+", "repeat", "throw", "exit", "abort",
                                    "sleep", "thread", "daemon", "window", "stop-on", "stop-ignore",
                                    "wait-stop", "end"};

static std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

static Command ParseLine(const std::string& line, int number, const std::string& origin) {
    Command c{number, line, "", {}};
    size_t space = line.find(' ');
    if (space != std::string::npos) {
        c.verb = line.substr(0, space);
        c.rest = line.substr(space + 1);
    }
    for (const char* verb : Verbs)
        if (c.verb == verb) return c;
    DoubleFailure("%s line %d: unknown command '%s'", origin.c_str(), number, c.verb.c_str());
}

// Parses lines into commands up to "end" (inside a block) or the end of the text.
static std::vector<Command> ParseBlock(std::istringstream& in, int& number, Script& s, bool inBlock) {
    std::vector<Command> commands;
    for (std::string line; std::getline(in, line);) {
        number++;
        size_t first = line.find_first_not_of(" \t");
        size_t last = line.find_last_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        Command c = ParseLine(line.substr(first, last - first + 1), number, s.origin);
        if (c.verb == "end") {
            if (!inBlock) DoubleFailure("%s line %d: 'end' without thread", s.origin.c_str(), number);
            return commands;
        }
        if (c.verb == "thread" || c.verb == "daemon") c.block = ParseBlock(in, number, s, true);
        if (c.verb == "stop-on" || c.verb == "stop-ignore") {
            s.hasStop = true;
            s.stopIgnored = c.verb == "stop-ignore";
            s.stopArgs = Words(c.rest);
            continue;
        }
        commands.push_back(c);
    }
    if (inBlock) DoubleFailure("%s: thread block without 'end'", s.origin.c_str());
    return commands;
}

Script* ParseScript(const std::string& className, const std::string& text, const std::string& origin) {
    Script* s = new Script;
    s->className = className;
    s->origin = origin;
    std::istringstream in(text);
    int number = 0;
    s->body = ParseBlock(in, number, *s, false);
    return s;
}

static long Number(const Frame& f, const Command& c, const std::string& text) {
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        DoubleFailure("%s line %d: '%s' is not a number", f.cls->script->origin.c_str(), c.line, text.c_str());
    return n;
}

// The value of {name} in a text, or false when name means nothing.
static bool Placeholder(JavaThread& t, const Frame& f, const std::string& name, std::string& value) {
    if (name == "args") {
        for (const std::u16string& a : f.args) value += "[" + EncodeUtf8(a) + "]";
    } else if (name == "argc") {
        value = std::to_string(f.args.size());
    } else if (name.compare(0, 4, "arg:") == 0) {
        size_t i = strtoul(name.c_str() + 4, nullptr, 10);
        value = i < f.args.size() ? EncodeUtf8(f.args[i]) : "<none>";
    } else if (name.compare(0, 5, "prop:") == 0) {
        const std::string* p = GetJavaProperty(name.substr(5));
        value = p ? *p : "null";
    } else if (name == "thread") {
        value = t.name;
    } else if (name == "i") {
        value = std::to_string(f.iteration);
    } else {
        return false;
    }
    return true;
}

static std::string Expand(JavaThread& t, const Frame& f, const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        std::string value;
        if (close != std::string::npos && Placeholder(t, f, text.substr(i + 1, close - i - 1), value)) {
            out += value;
            i = close;
        } else {
            out += text[i];
        }
    }
    return out;
}

static std::string SimpleName(const std::string& className) {
    size_t slash = className.rfind('/');
    return slash == std::string::npos ? className : className.substr(slash + 1);
}

static void Throw(JavaThread& t, Frame& f, const Command& c) {
    std::string cls = c.rest.substr(0, c.rest.find(' '));
    for (char& ch : cls)
        if (ch == '.') ch = '/';
    size_t space = c.rest.find(' ');
    std::string message = space == std::string::npos ? "" : Expand(t, f, c.rest.substr(space + 1));
    ThrowJava(t, cls.c_str(), space == std::string::npos ? nullptr : &message);
    std::string dotted = f.cls->name;
    for (char& ch : dotted)
        if (ch == '/') ch = '.';
    std::string method = t.name == "main" ? "main" : "run";
    t.pending->frames.push_back(dotted + "." + method + "(" + SimpleName(f.cls->name) + ".java)");
}

struct ThreadWork {
    Frame frame;
    const std::vector<Command>* commands;
};

static void RunThreadBlock(JavaThread& t, void* context) {
    ThreadWork* work = static_cast<ThreadWork*>(context);
    RunCommands(t, work->frame, *work->commands);
    delete work;
}

// Returns once a stop call has been made (before or during the wait), as an application's stop flag.
static void WaitForStop(Script& s) {
    std::unique_lock<std::mutex> hold(s.lock);
    s.stopSignal.wait(hold, [&] { return s.stopCount > 0; });
}

// Runs one command; false when the caller must stop (an exception is pending).
static bool RunCommand(JavaThread& t, Frame& f, const Command& c) {
    if (c.verb == "out" || c.verb == "out+" || c.verb == "err" || c.verb == "err+") {
        std::lock_guard<std::recursive_mutex> hold(StreamLock);
        PrintText(c.verb[0] == 'o' ? SystemOut : SystemErr, Expand(t, f, c.rest), c.verb.back() != '+');
    } else if (c.verb == "repeat") {
        size_t space = c.rest.find(' ');
        long n = Number(f, c, c.rest.substr(0, space));
        Command inner = ParseLine(space == std::string::npos ? "" : c.rest.substr(space + 1), c.line,
                                  f.cls->script->origin);
        for (f.iteration = 0; f.iteration < n; f.iteration++)
            if (!RunCommand(t, f, inner)) return false;
    } else if (c.verb == "throw") {
        Throw(t, f, c);
        return false;
    } else if (c.verb == "exit") {
        TraceLine("System.exit %ld", Number(f, c, c.rest));
        ExitJava(static_cast<jint>(Number(f, c, c.rest)));
    } else if (c.verb == "abort") {
        FatalJava(c.rest.empty() ? "abort requested by the application" : Expand(t, f, c.rest).c_str());
    } else if (c.verb == "sleep") {
        Sleep(static_cast<DWORD>(Number(f, c, c.rest)));
    } else if (c.verb == "thread" || c.verb == "daemon") {
        StartJavaThread(c.rest, c.verb == "daemon", RunThreadBlock, new ThreadWork{f, &c.block});
    } else if (c.verb == "window") {
        size_t space = c.rest.find(' ');
        ShowWindowOnThread(space == std::string::npos ? "" : c.rest.substr(space + 1),
                           Number(f, c, c.rest.substr(0, space)));
    } else if (c.verb == "wait-stop") {
        WaitForStop(*f.cls->script);
        TraceLine("stopped %s", f.cls->name.c_str());
    }
    return true;
}

static bool RunCommands(JavaThread& t, Frame& f, const std::vector<Command>& commands) {
    for (const Command& c : commands)
        if (!RunCommand(t, f, c)) return false;
    return true;
}

// A main call with the stop arguments: ends the waiting calls, or hangs when the script ignores it.
static bool HandleStopCall(Script& s, const std::vector<std::u16string>& args) {
    if (!s.hasStop || args.size() != s.stopArgs.size()) return false;
    for (size_t i = 0; i < args.size(); i++)
        if (EncodeUtf8(args[i]) != s.stopArgs[i]) return false;
    TraceLine("stop-call %s%s", s.className.c_str(), s.stopIgnored ? " ignored" : "");
    if (s.stopIgnored) Sleep(INFINITE);
    std::lock_guard<std::mutex> hold(s.lock);
    s.stopCount++;
    s.stopSignal.notify_all();
    return true;
}

void RunScriptMain(JavaThread& t, ClassInfo& c, const std::vector<std::u16string>& args) {
    Frame f{&c, args};
    TraceLine("main %s %s", c.name.c_str(), Expand(t, f, "{args}").c_str());
    if (HandleStopCall(*c.script, args)) return;
    bool completed = RunCommands(t, f, c.script->body);
    TraceLine("main-end %s %s", c.name.c_str(), completed ? "returned" : "threw");
}
