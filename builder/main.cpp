// kestrun: writes a configured launcher from a config file, shows a launcher's settings, or runs its
// runtime search here.
#include "build.h"
#include "find_java.h"
#include "platform.h"
#include "show.h"
#include "text.h"

#include <filesystem>
#include <iostream>

namespace {

const char Usage[] =
    "usage: kestrun build CONFIG -o OUT.exe [--arch x86|x64] [--launcher PATH]\n"
    "       kestrun show LAUNCHER.exe [--code-page N]\n"
    "       kestrun find-java LAUNCHER.exe\n";

struct BuildArguments {
    std::string Config, Output, Arch = "x64", Launcher;
};

// Reads the build command's arguments; false (after printing why) when they are wrong.
bool ParseBuildArguments(int argc, char** argv, BuildArguments& a)
{
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if ((arg == "-o" || arg == "--arch" || arg == "--launcher") && !hasValue) {
            std::cerr << "kestrun: " << arg << " needs a value\n";
            return false;
        }
        if (arg == "-o")
            a.Output = argv[++i];
        else if (arg == "--arch")
            a.Arch = argv[++i];
        else if (arg == "--launcher")
            a.Launcher = argv[++i];
        else if (a.Config.empty() && arg[0] != '-')
            a.Config = arg;
        else {
            std::cerr << "kestrun: unexpected argument '" << arg << "'\n" << Usage;
            return false;
        }
    }
    if (a.Config.empty() || a.Output.empty() || (a.Arch != "x86" && a.Arch != "x64")) {
        std::cerr << Usage;
        return false;
    }
    return true;
}

int RunBuild(int argc, char** argv)
{
    BuildArguments a;
    if (!ParseBuildArguments(argc, argv, a))
        return 2;
    if (a.Launcher.empty())
        a.Launcher = (std::filesystem::u8path(BuilderFolder(argv[0])) /
                      ("kestrun-" + a.Arch + ".exe")).u8string();
    BuildLauncher(a.Config, a.Launcher, a.Output);
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
