#include "jar_config.h"

#include "jar.h"
#include "settings_table.h"

#include <filesystem>
#include <map>

namespace {

// One line on what each setting does, from the table of settings (its optional last column).
const std::map<std::string, std::string> SettingHelp = {
#define SETTING(id, field, kind, value, ...) {#field, "" __VA_ARGS__},
#include "settings.def"
#undef SETTING
};

// path as the config names it: relative to the config's folder, with forward slashes.
std::string ConfigPath(const std::string& path, const std::string& configFolder)
{
    namespace fs = std::filesystem;
    fs::path folder = fs::absolute(fs::u8path(configFolder.empty() ? "." : configFolder));
    return fs::absolute(fs::u8path(path)).lexically_proximate(folder).generic_u8string();
}

// "1.2.3" of "1.2.3-SNAPSHOT": the numbers the version resource can hold (at most four, each up to
// 65535); "" when the version does not begin with one.
std::string VersionNumbers(const std::string& version)
{
    std::string numbers;
    int parts = 0;
    for (size_t at = 0; parts < 4 && at < version.size() && std::isdigit((unsigned char)version[at]); parts++) {
        size_t end = version.find_first_not_of("0123456789", at);
        std::string part = version.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (part.size() > 5 || std::stoul(part) > 65535)
            break;
        numbers += (parts ? "." : "") + part;
        if (end == std::string::npos || version[end] != '.')
            break;
        at = end + 1;
    }
    return numbers;
}

// One setting: its description, then the line, commented out when it keeps its default.
void WriteSetting(std::string& out, const SettingInfo& info, const std::map<std::string, std::string>& set)
{
    auto help = SettingHelp.find(info.Field);
    if (help != SettingHelp.end() && !help->second.empty())
        out += "; " + help->second + "\n";
    auto value = set.find(info.Field);
    if (value != set.end()) {
        out += std::string(info.Field) + " = " + value->second + "\n";
        return;
    }
    const char* builderDefault = BuilderDefault(info.Field);
    out += std::string(";") + info.Field + " = " + (builderDefault ? builderDefault : info.Shipped) + "\n";
}

// The settings the jar decides: its main class, its class path, output captured and a second start
// activating the first (a window program) or the console's streams and any number of instances (a
// console program).
std::map<std::string, std::string> JarSettings(const JarRequest& r, const JarFacts& facts)
{
    const char* mode = r.Console ? "0" : "2";
    std::map<std::string, std::string> set{{"MainClass", facts.MainClass}, {"StdoutMode", mode}, {"StderrMode", mode}};
    std::string classPath;
    for (const std::string& entry : facts.ClassPath)
        classPath += (classPath.empty() ? "" : ";") + entry;
    if (!classPath.empty())
        set["ClassPath"] = classPath;
    if (r.Console) {
        set["Console"] = "yes";
        set["AllowMultipleInstances"] = "1";
    } else {
        // A desktop application: opening a document while it runs brings it to the front.
        set["SecondInstance"] = "activate";
    }
    if (!facts.ModuleOptions.empty())
        set["ModuleOptions"] = facts.ModuleOptions;
    // Runtimes before Java 17 refuse the option, those from Java 22 on need it: the jar asks for 17 or later.
    if (facts.NativeAccess) {
        set["JvmOptions"] = "--enable-native-access=ALL-UNNAMED";
        set["JavaVersion"] = "17";
    }
    return set;
}

void WriteSections(std::string& out, const JarRequest& r, const JarFacts& facts)
{
    out += "\n[messages]\n; Texts the launcher shows: printf formats with at most the %s the default has.\n";
    for (int i = 0; i < SettingCount; i++)
        if (SettingTable[i].Kind == SETTING_MESSAGE)
            WriteSetting(out, SettingTable[i], {});
    out += "\n[files]\n; Embedded, extracted at start and put on the class path behind ClassPath.\nFile = " +
           ConfigPath(r.Jar, r.ConfigFolder) + "\n";
    auto optional = [&](const char* section, const char* key, const std::string& path, const char* help,
                        const char* example) {
        out += std::string("\n") + (path.empty() ? "; " : "") + "[" + section + "]\n; " + help + "\n" +
               (path.empty() ? std::string(";") + key + " = " + example : key + std::string(" = ") + path) + "\n";
    };
    // --splash wins over the jar's SplashScreen-Image, which is read from the jar itself (JAR!/ENTRY).
    std::string splash = !r.Splash.empty()            ? ConfigPath(r.Splash, r.ConfigFolder)
                         : !facts.SplashImage.empty() ? ConfigPath(r.Jar, r.ConfigFolder) + "!/" + facts.SplashImage
                                                      : "";
    optional("splash", "Bitmap", splash, "Picture shown while the JVM starts, a BMP, PNG, GIF or JPEG file or JAR!/ENTRY "
             "(remove the ';' of both lines)", "splash.bmp");
    optional("icon", "File", r.Icon.empty() ? "" : ConfigPath(r.Icon, r.ConfigFolder),
             "The application icon (remove the ';' of both lines)", "app.ico");
    std::string numbers = VersionNumbers(facts.Version);
    bool version = !facts.Title.empty() || !numbers.empty();
    out += std::string("\n") + (version ? "" : "; ") + "[version]\n; Shown in the file's properties.\n" +
           (facts.Title.empty() ? ";ProductName = App" : "ProductName = " + facts.Title) + "\n" +
           (numbers.empty() ? ";ProductVersion = 1.0.0" : "ProductVersion = " + numbers) + "\n";
    out += "\n; [manifest]\n; Windows manifest of the launcher: asInvoker, highestAvailable or requireAdministrator.\n"
           ";Execution = asInvoker\n; none, system, permonitor or permonitorv2.\n;DpiAwareness = system\n";
}

} // namespace

std::string JarConfigText(const JarRequest& r)
{
    JarFacts facts = ReadJarFacts(r.Jar);
    std::string jarName = std::filesystem::u8path(r.Jar).filename().u8string();
    std::string problem = ClassNameProblem(r.MainClass);
    if (!r.MainClass.empty() && !problem.empty())
        throw BuildError(r.Jar, 0, "--main-class '" + r.MainClass + "' " + problem);
    if (!r.MainClass.empty())
        facts.MainClass = r.MainClass;
    if (facts.MainClass.empty())
        throw BuildError(r.Jar, 0, "the jar's manifest names no Main-Class: name the class whose main(String[]) "
                                   "runs with --main-class (--main-class org.acme.Main)");
    if (r.Splash.empty() && !facts.SplashProblem.empty())
        throw BuildError(r.Jar, 0, "SplashScreen-Image '" + facts.SplashImage + "' is " + facts.SplashProblem +
                                   "; the splash shows BMP, PNG, GIF or JPEG: convert it, or give --splash FILE");
    std::map<std::string, std::string> set = JarSettings(r, facts);
    std::string out = "; Launcher config for " + jarName + ", as `kestrun init` writes it. Build it with\n"
                      ";   kestrun build CONFIG -o app.exe\n"
                      "; Every key is listed with one line on what it does; a key after ';' keeps the default\n"
                      "; shown: remove the ';' to set it. Paths of [launcher] are resolved where the launcher\n"
                      "; runs; those of [files], [splash] and [icon] are read now, relative to this file.\n\n"
                      "[launcher]\n; code page of the texts other than messages, that of the machines the launcher runs on (932, 936, 949, 950: those texts ASCII only)\n;CodePage = 1252\n";
    for (int i = 0; i < SettingCount; i++)
        if (SettingTable[i].Kind != SETTING_MESSAGE && SettingTable[i].Kind != SETTING_BUILT)
            WriteSetting(out, SettingTable[i], set);
    WriteSections(out, r, facts);
    return out;
}

BuildPlan JarBuildPlan(const JarRequest& request)
{
    std::string label = request.Jar + " (its config as `kestrun init` writes it)";
    BuildPlan plan = InterpretConfig(ParseIni(JarConfigText(request), label));
    plan.BaseDir = request.ConfigFolder;
    return plan;
}
