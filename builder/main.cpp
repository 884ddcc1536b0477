// kestrun: writes a configured launcher from a config file or a jar, writes a jar's config, shows a
// launcher's settings, or runs its runtime search here.
#include "build.h"
#include "find_java.h"
#include "jar_config.h"
#include "platform.h"
#include "show.h"
#include "text.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace {

const char Usage[] =
    "usage: kestrun build CONFIG -o OUT.exe [--arch x86|x64] [--launcher PATH]\n"
    "       kestrun build APP.jar -o OUT.exe [--arch x86|x64] [--icon FILE] [--splash FILE] [--console]\n"
    "       kestrun init APP.jar [-o APP.ini]\n"
    "       kestrun show LAUNCHER.exe [--code-page N]\n"
    "       kestrun find-java LAUNCHER.exe\n";

struct BuildArguments {
    std::string Input, Output, Arch = "x64", Launcher, Icon, Splash;
    bool Console = false;
};

bool IsJar(const std::string& path)
{
    return path.size() > 4 && (path.compare(path.size() - 4, 4, ".jar") == 0 ||
                               path.compare(path.size() - 4, 4, ".JAR") == 0);
}

// Reads the arguments of build and init; false (after printing why) when they are wrong.
bool ParseBuildArguments(int argc, char** argv, BuildArguments& a)
{
    const std::vector<std::string> valued{"-o", "--arch", "--launcher", "--icon", "--splash"};
    std::string* values[] = {&a.Output, &a.Arch, &a.Launcher, &a.Icon, &a.Splash};
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        auto named = std::find(valued.begin(), valued.end(), arg);
        if (named != valued.end() && i + 1 >= argc) {
            std::cerr << "kestrun: " << arg << " needs a value\n";
            return false;
        }
        if (named != valued.end())
            *values[named - valued.begin()] = argv[++i];
        else if (arg == "--console")
            a.Console = true;
        else if (a.Input.empty() && arg[0] != '-')
            a.Input = arg;
        else {
            std::cerr << "kestrun: unexpected argument '" << arg << "'\n" << Usage;
            return false;
        }
    }
    if (!IsJar(a.Input) && (!a.Icon.empty() || !a.Splash.empty() || a.Console)) {
        std::cerr << "kestrun: --icon, --splash and --console go with a jar; a config names [icon], [splash] "
                     "and Console itself\n";
        return false;
    }
    if (a.Input.empty() || (a.Output.empty() && std::string(argv[1]) == "build") ||
        (a.Arch != "x86" && a.Arch != "x64")) {
        std::cerr << Usage;
        return false;
    }
    return true;
}

JarRequest JarRequestOf(const BuildArguments& a, const std::string& configFolder)
{
    JarRequest request;
    request.Jar = a.Input;
    request.ConfigFolder = configFolder;
    request.Icon = a.Icon;
    request.Splash = a.Splash;
    request.Console = a.Console;
    return request;
}

int RunBuild(int argc, char** argv)
{
    BuildArguments a;
    if (!ParseBuildArguments(argc, argv, a))
        return 2;
    if (a.Launcher.empty())
        a.Launcher = (std::filesystem::u8path(BuilderFolder(argv[0])) /
                      ("kestrun-" + a.Arch + ".exe")).u8string();
    BuildPlan plan = IsJar(a.Input)
                         ? JarBuildPlan(JarRequestOf(a, std::filesystem::u8path(a.Input).parent_path().u8string()))
                         : ReadBuildPlan(a.Input);
    WriteFileAtomically(a.Output, BuildLauncherImage(plan, ReadWholeFile(a.Launcher), a.Launcher));
    std::cout << "kestrun: wrote " << a.Output << "\n";
    return 0;
}

// `kestrun init app.jar [-o app.ini]`: the jar's config, written beside the jar unless -o says where.
int RunInit(int argc, char** argv)
{
    BuildArguments a;
    if (!ParseBuildArguments(argc, argv, a) || !IsJar(a.Input) || !a.Launcher.empty()) {
        std::cerr << (a.Input.empty() || IsJar(a.Input) ? "" : "kestrun: init reads a jar\n") << Usage;
        return 2;
    }
    if (a.Output.empty())
        a.Output = (std::filesystem::u8path(a.Input).replace_extension(".ini")).u8string();
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
