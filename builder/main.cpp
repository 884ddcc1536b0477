// kestrun: writes a configured launcher from a config file or a jar, writes a jar's config, shows a
// launcher's settings, or runs its runtime search here.
#include "build.h"
#include "find_java.h"
#include "jar_config.h"
#include "pe_image.h"
#include "platform.h"
#include "res_tree.h"
#include "show.h"
#include "text.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>

namespace {

const char Usage[] =
    "usage: kestrun build CONFIG [-o OUT.exe] [--arch x86|x64] [--launcher PATH] [--force]\n"
    "       kestrun build APP.jar [-o OUT.exe] [--arch x86|x64] [--launcher PATH] [--icon FILE] [--splash FILE]\n"
    "                     [--console] [--main-class CLASS] [--force]\n"
    "       kestrun init APP.jar [-o APP.ini] [--icon FILE] [--splash FILE] [--console] [--main-class CLASS]\n"
    "                    [--force]\n"
    "       kestrun show LAUNCHER.exe [--code-page N]\n"
    "       kestrun find-java LAUNCHER.exe\n"
    "       kestrun --help | --version\n"
    "build writes OUT.exe (default: CONFIG or APP.jar with .exe) and overwrites only a launcher kestrun\n"
    "wrote; init writes APP.ini (default: beside the jar) and overwrites nothing; --force lifts both.\n";

struct BuildArguments {
    std::string Input, Output, Arch, Launcher, Icon, Splash, MainClass;
    bool Console = false, Force = false;
};

bool IsJar(const std::string& path)
{
    return path.size() > 4 && (path.compare(path.size() - 4, 4, ".jar") == 0 ||
                               path.compare(path.size() - 4, 4, ".JAR") == 0);
}

// Prints a command-line mistake; false, for the caller to return.
bool Refuse(const std::string& why)
{
    std::cerr << "kestrun: " << why << " (kestrun --help shows the usage)\n";
    return false;
}

// Reads the options of build and init into a; false (after printing why) for an unknown, incomplete or
// repeated one.
bool ReadOptions(int argc, char** argv, BuildArguments& a)
{
    const std::vector<std::string> valued{"-o", "--arch", "--launcher", "--icon", "--splash", "--main-class"};
    std::string* values[] = {&a.Output, &a.Arch, &a.Launcher, &a.Icon, &a.Splash, &a.MainClass};
    const std::vector<std::string> flags{"--console", "--force"};
    bool* flagValues[] = {&a.Console, &a.Force};
    std::set<std::string> seen;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        auto named = std::find(valued.begin(), valued.end(), arg), flag = std::find(flags.begin(), flags.end(), arg);
        if ((named != valued.end() || flag != flags.end()) && !seen.insert(arg).second)
            return Refuse(arg + " is given twice");
        if (named != valued.end() && i + 1 >= argc)
            return Refuse(arg + " needs a value");
        if (named != valued.end())
            *values[named - valued.begin()] = argv[++i];
        else if (flag != flags.end())
            *flagValues[flag - flags.begin()] = true;
        else if (a.Input.empty() && !arg.empty() && arg[0] != '-')
            a.Input = arg;
        else
            return Refuse("unexpected argument '" + arg + "'");
    }
    return true;
}

// Reads the arguments of build and init; false (after printing why) when they are wrong.
bool ParseBuildArguments(int argc, char** argv, BuildArguments& a)
{
    bool init = std::string(argv[1]) == "init";
    if (!ReadOptions(argc, argv, a))
        return false;
    if (a.Input.empty())
        return Refuse(std::string(argv[1]) + (init ? " needs a jar" : " needs a config or a jar"));
    if (init && !IsJar(a.Input))
        return Refuse("init reads a jar, not '" + a.Input + "'");
    if (init && (!a.Arch.empty() || !a.Launcher.empty()))
        return Refuse("--arch and --launcher go with build");
    if (!IsJar(a.Input) && (!a.Icon.empty() || !a.Splash.empty() || a.Console || !a.MainClass.empty()))
        return Refuse("--icon, --splash, --console and --main-class go with a jar; a config names [icon], "
                      "[splash], Console and MainClass itself");
    if (a.Arch.empty())
        a.Arch = "x64";
    if (a.Arch != "x86" && a.Arch != "x64")
        return Refuse("--arch is x86 or x64, not '" + a.Arch + "'");
    if (a.Output.empty())
        a.Output = std::filesystem::u8path(a.Input).replace_extension(init ? ".ini" : ".exe").u8string();
    return true;
}

JarRequest JarRequestOf(const BuildArguments& a, const std::string& configFolder)
{
    JarRequest request;
    request.Jar = a.Input;
    request.ConfigFolder = configFolder;
    request.Icon = a.Icon;
    request.Splash = a.Splash;
    request.MainClass = a.MainClass;
    request.Console = a.Console;
    return request;
}

// True when both paths name one existing file (a link or another spelling of it included).
bool SameFile(const std::string& one, const std::string& other)
{
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::u8path(one), std::filesystem::u8path(other), error);
}

// False (after printing why) when the output is one of the inputs.
bool OutputIsNoInput(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
        if (!input.empty() && SameFile(output, input))
            return Refuse("the output " + output + " is the input " + input + ": name another with -o");
    return true;
}

// Every file a build reads: the command line's and the config's.
std::vector<std::string> BuildInputs(const BuildArguments& a, const BuildPlan& plan)
{
    std::vector<std::string> inputs{a.Input, a.Launcher, a.Icon, a.Splash};
    for (const PlannedPath* path : {&plan.Icon, &plan.Splash, &plan.Manifest.File})
        if (!path->Path.empty())
            inputs.push_back(ResolvePath(plan, path->Path));
    for (const PlannedPath& pattern : plan.Files)
        for (const std::string& file : ExpandPattern(ResolvePath(plan, pattern.Path), plan.ConfigPath, pattern.Line))
            inputs.push_back(file);
    return inputs;
}

// True when path is a launcher that kestrun wrote (it carries the record of its config).
bool IsBuiltLauncher(const std::string& path)
{
    try {
        ResourceTree tree = ReadResourceTree(ParsePeImage(ReadWholeFile(path), path));
        auto data = tree.find(ResId::FromId(RES_RCDATA));
        return data != tree.end() && data->second.count(ResId::FromId(CONFIG_RECORD_ID)) > 0;
    } catch (const BuildError&) {
        return false;
    }
}

// False (after printing why) when writing the output would replace a file it should not: for build
// any file but a launcher kestrun wrote, for init any file; --force allows both.
bool MayWrite(const BuildArguments& a, bool init)
{
    std::error_code error;
    if (a.Force || !std::filesystem::exists(std::filesystem::u8path(a.Output), error))
        return true;
    if (!init && IsBuiltLauncher(a.Output))
        return true;
    return Refuse(a.Output + (init ? " exists" : " exists and is not a launcher kestrun wrote") +
                  "; give --force to replace it");
}

int RunBuild(int argc, char** argv)
{
    BuildArguments a;
    if (!ParseBuildArguments(argc, argv, a) || !OutputIsNoInput(a.Output, {a.Input, a.Launcher, a.Icon, a.Splash}))
        return 2;
    if (a.Launcher.empty())
        a.Launcher = (std::filesystem::u8path(BuilderFolder(argv[0])) /
                      ("kestrun-" + a.Arch + ".exe")).u8string();
    BuildPlan plan = IsJar(a.Input)
                         ? JarBuildPlan(JarRequestOf(a, std::filesystem::u8path(a.Input).parent_path().u8string()))
                         : ReadBuildPlan(a.Input);
    if (!OutputIsNoInput(a.Output, BuildInputs(a, plan)) || !MayWrite(a, false))
        return 2;
    WriteFileAtomically(a.Output, BuildLauncherImage(plan, ReadWholeFile(a.Launcher), a.Launcher));
    std::cout << "kestrun: wrote " << a.Output << "\n";
    return 0;
}

// `kestrun init app.jar [-o app.ini]`: the jar's config, written beside the jar unless -o says where.
int RunInit(int argc, char** argv)
{
    BuildArguments a;
    if (!ParseBuildArguments(argc, argv, a) || !OutputIsNoInput(a.Output, {a.Input, a.Icon, a.Splash}) ||
        !MayWrite(a, true))
        return 2;
    std::string text = JarConfigText(JarRequestOf(a, std::filesystem::u8path(a.Output).parent_path().u8string()));
    WriteFileAtomically(a.Output, Bytes(text.begin(), text.end()));
    std::cout << "kestrun: wrote " << a.Output << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<char*> utf8;
    for (std::string& argument : arguments)
        utf8.push_back(&argument[0]);
    argv = utf8.data();
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h" || std::find(argv + 1, argv + argc, std::string("--help")) != argv + argc) {
        std::cout << Usage;
        return 0;
    }
    if (command == "--version") {
        std::cout << "kestrun " KESTRUN_VERSION "\n";
        return 0;
    }
    try {
        if (command == "build")
            return RunBuild(argc, argv);
        if (command == "init")
            return RunInit(argc, argv);
        if (command == "find-java" && argc == 3)
            return FindJavaForLauncher(argv[2], std::cout);
        if (command == "show" && argc == 3) {
            ShowLauncher(argv[2], std::cout);
            return 0;
        }
        if (command == "show" && argc == 5 && std::string(argv[3]) == "--code-page") {
            std::string page = argv[4];
            if (page.empty() || page.find_first_not_of("0123456789") != std::string::npos || page.size() > 5 ||
                !IsKnownCodePage((unsigned)std::stoul(page))) {
                std::cerr << "kestrun: --code-page takes a supported code page (see docs/config.md), not '" << page
                          << "'\n";
                return 2;
            }
            ShowLauncher(argv[2], std::cout, (unsigned)std::stoul(page));
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "kestrun: " << error.what() << "\n";
        return 1;
    }
    std::cerr << Usage;
    return 2;
}
