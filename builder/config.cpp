#include "config.h"

#include "bytes.h"
#include "scramble.h"
#include "search_order.h"
#include "settings_table.h"
#include "string_table.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace {

const char* const VersionKeys[] = {"ProductName", "ProductVersion", "FileVersion", "CompanyName",
                                   "FileDescription", "LegalCopyright", "OriginalFilename",
                                   "InternalName", "Comments"};

struct Context {
    const IniFile& Ini;
    BuildPlan& Plan;

    [[noreturn]] void Fail(int line, const std::string& message) const
    {
        throw BuildError(Ini.Path, line, message);
    }
};

std::vector<std::string> LauncherKeys()
{
    std::vector<std::string> keys{"CodePage"};
    for (int i = 0; i < SettingCount; i++)
        if (SettingTable[i].Kind != SETTING_MESSAGE && SettingTable[i].Kind != SETTING_BUILT)
            keys.push_back(SettingTable[i].Field);
    return keys;
}

std::vector<std::string> MessageKeys()
{
    std::vector<std::string> keys;
    for (int i = 0; i < SettingCount; i++)
        if (SettingTable[i].Kind == SETTING_MESSAGE) {
            keys.push_back(SettingTable[i].Field);
            keys.push_back(std::to_string(SettingTable[i].Id));
        }
    return keys;
}

std::vector<std::string> KeysOf(const std::string& section)
{
    if (section == "launcher")
        return LauncherKeys();
    if (section == "messages")
        return MessageKeys();
    if (section == "files")
        return {"File"};
    if (section == "splash")
        return {"Bitmap"};
    if (section == "icon")
        return {"File"};
    if (section == "version")
        return std::vector<std::string>(std::begin(VersionKeys), std::end(VersionKeys));
    if (section == "manifest")
        return {"File", "Execution", "DpiAwareness"};
    return {};
}

std::string Suggest(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string nearest = NearestWord(word, candidates);
    return nearest.empty() ? "" : "; did you mean '" + nearest + "'?";
}

// Checks that every key is known and, except for File in [files], given once.
void CheckKeys(const Context& c, const IniSection& section)
{
    std::vector<std::string> keys = KeysOf(section.Name);
    std::map<std::string, int> seen;
    for (const IniEntry& e : section.Entries) {
        const SettingInfo* built = FindSettingByField(e.Key.c_str());
        if (built != nullptr && built->Kind == SETTING_BUILT)
            c.Fail(e.Line, e.Key + " is computed by the build (from the files and settings); a config cannot set it");
        if (std::find(keys.begin(), keys.end(), e.Key) == keys.end())
            c.Fail(e.Line, "unknown key '" + e.Key + "' in [" + section.Name + "]" +
                               Suggest(e.Key, keys));
        if (section.Name != "files" && seen.count(e.Key))
            c.Fail(e.Line, "key '" + e.Key + "' given twice (first at line " +
                               std::to_string(seen[e.Key]) + ")");
        seen[e.Key] = e.Line;
    }
}

bool IsInteger(const std::string& text)
{
    size_t digits = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (digits == text.size() || text.size() - digits > 9)
        return false;
    return std::all_of(text.begin() + digits, text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::u16string ToUtf16(const Context& c, const IniEntry& e)
{
    std::u16string text;
    if (!Utf8ToUtf16(e.Value, text))
        c.Fail(e.Line, "the value of " + e.Key + " is not valid UTF-8");
    return text;
}

// The text in the config's code page; fails when the code page lacks one of its characters.
std::string InCodePage(const Context& c, const IniEntry& e, const std::u16string& text)
{
    std::string bytes, bad;
    if (!EncodeCodePage(text, c.Plan.CodePage, bytes, &bad))
        c.Fail(e.Line, "'" + bad + "' in " + e.Key + " cannot be represented in code page " +
                           std::to_string(c.Plan.CodePage) +
                           (IsDoubleByteCodePage(c.Plan.CodePage) ? " (with a double-byte code page only messages "
                                                                    "hold characters outside ASCII)"
                                                                  : " (set CodePage in [launcher])"));
    return bytes;
}

} // namespace

namespace {

std::string Lower(std::string text)
{
    for (char& ch : text)
        ch = (char)std::tolower((unsigned char)ch);
    return text;
}

std::string FlagValue(const Context& c, const IniEntry& e)
{
    std::string v = Lower(e.Value);
    if (v == "1" || v == "true" || v == "yes" || v == "on")
        return "1";
    if (v == "0" || v == "false" || v == "no" || v == "off")
        return "0";
    c.Fail(e.Line, e.Key + " is a switch: give 1 or 0 (or true/false, yes/no, on/off), not '" +
                       e.Value + "'");
}

// A Java version as people write it (17, 1.8, 11.0.2, 1.8.0_352, 21.0.1+12: numbers with dots, an
// update after '_', a build after '+'), or "0x" and a hexadecimal word; empty: no limit.
bool IsVersionText(const std::string& v)
{
    auto digits = [&](size_t at) { return std::min(v.find_first_not_of("0123456789", at), v.size()) - at; };
    if (v.compare(0, 2, "0x") == 0 || v.compare(0, 2, "0X") == 0)
        return v.size() > 2 && v.size() <= 10 && v.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    size_t at = 0, length = digits(0);
    if (v.empty() || length == 0 || length > 3)
        return v.empty();
    for (at = length; at < v.size() && (v[at] == '.' || v[at] == '_') && digits(at + 1) > 0;)
        at += 1 + digits(at + 1);
    const char buildCharacters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-";
    bool build = at + 1 < v.size() && v[at] == '+' && v.find_first_not_of(buildCharacters, at + 1) == std::string::npos;
    return at == v.size() || build;
}

// JavaVersion and JavaMaxVersion are read alike; the old unprefixed hexadecimal form gets its "0x" suggested.
void CheckVersionValue(const Context& c, const IniEntry& e)
{
    if (IsVersionText(e.Value))
        return;
    bool hex = e.Value.size() >= 5 && e.Value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    c.Fail(e.Line, e.Key + " must be a Java version such as 17, 1.8, 11.0.2 or 21.0.1+12, or 0x and a hexadecimal "
                   "word, not '" + e.Value + "'" + (hex ? "; did you mean '0x" + e.Value + "'?" : ""));
}

// Messages are printf formats given at most the text arguments of the shipped message.
void CheckMessageFormat(const Context& c, const IniEntry& e, const SettingInfo& info)
{
    auto count = [](const std::string& text) {
        size_t n = 0;
        for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at + 2))
            n++;
        return n;
    };
    for (size_t at = e.Value.find('%'); at != std::string::npos; at = e.Value.find('%', at + 2))
        if (at + 1 >= e.Value.size() || (e.Value[at + 1] != 's' && e.Value[at + 1] != '%'))
            c.Fail(e.Line, "message " + e.Key + ": only %s and %% may follow a '%'");
    std::string plain = e.Value;
    for (size_t at = plain.find("%%"); at != std::string::npos; at = plain.find("%%", at))
        plain.erase(at, 2);
    if (count(plain) > count(info.Shipped))
        c.Fail(e.Line, "message " + e.Key + " has more %s than the launcher passes (" +
                           std::to_string(count(info.Shipped)) + ")");
}

std::u16string ScrambledMainClass(const Context& c, const IniEntry& e, const std::u16string& text)
{
    if (text.empty())
        c.Fail(e.Line, "MainClass is empty: name the class whose main(String[]) runs");
    std::string problem = ClassNameProblem(e.Value);
    if (!problem.empty())
        c.Fail(e.Line, "MainClass '" + e.Value + "' " + problem);
    std::string bytes = InCodePage(c, e, text);
    char scrambled[2 * SCRAMBLE_MAX_PLAIN + 1];
    if (!ScrambleText(bytes.c_str(), scrambled, sizeof(scrambled)))
        c.Fail(e.Line, "MainClass is longer than " + std::to_string(SCRAMBLE_MAX_PLAIN) + " bytes");
    std::u16string out;
    Utf8ToUtf16(scrambled, out);
    return out;
}

// Console is one of three words, stored in lower case as the launcher compares it.
std::u16string ConsoleValue(const Context& c, const IniEntry& e)
{
    std::string v = Lower(e.Value);
    if (v != "no" && v != "yes" && v != "attach")
        c.Fail(e.Line, "Console must be no, yes or attach, not '" + e.Value + "'");
    return std::u16string(v.begin(), v.end());
}

// SecondInstance is one of three words, stored in lower case; a misspelt one would refuse unnoticed.
std::u16string SecondInstanceValue(const Context& c, const IniEntry& e)
{
    std::string v = Lower(e.Value);
    if (v != "refuse" && v != "activate" && v != "forward")
        c.Fail(e.Line, "SecondInstance must be refuse, activate or forward, not '" + e.Value + "'");
    return std::u16string(v.begin(), v.end());
}

std::u16string SettingText(const Context& c, const IniEntry& e, const SettingInfo& info)
{
    std::u16string text = ToUtf16(c, e);
    if (text.size() > STRING_MAX_UNITS)
        c.Fail(e.Line, e.Key + " is " + std::to_string(text.size()) +
                           " UTF-16 units long; a string-table entry holds at most 65535");
    std::string ascii;
    switch (info.Kind) {
    case SETTING_SCRAMBLED:
        return ScrambledMainClass(c, e, text);
    case SETTING_INT:
        if (!IsInteger(e.Value))
            c.Fail(e.Line, e.Key + " must be a whole number, not '" + e.Value + "'");
        return text;
    case SETTING_FLAG:
        ascii = FlagValue(c, e);
        return std::u16string(ascii.begin(), ascii.end());
    case SETTING_VERSION:
        CheckVersionValue(c, e);
        return text;
    case SETTING_MESSAGE:
        // Shown as the UTF-16 it is stored in: any character will do.
        CheckMessageFormat(c, e, info);
        return text;
    case SETTING_BUILT: // no config key names one (LauncherKeys)
        break;
    case SETTING_TEXT:
        if (std::string(info.Field) == "Console")
            return ConsoleValue(c, e);
        if (std::string(info.Field) == "SecondInstance")
            return SecondInstanceValue(c, e);
        break;
    }
    InCodePage(c, e, text);
    return text;
}

const SettingInfo& SettingForKey(const std::string& key)
{
    const SettingInfo* info = FindSettingByField(key.c_str());
    if (info == nullptr)
        info = FindSettingById(std::stoi(key)); // only message ids get past CheckKeys
    return *info;
}

void ReadCodePage(const Context& c, const IniSection& launcher)
{
    for (const IniEntry& e : launcher.Entries) {
        if (e.Key != "CodePage")
            continue;
        if (!IsInteger(e.Value) || !IsKnownCodePage((unsigned)std::stoi(e.Value)))
            c.Fail(e.Line, "CodePage " + e.Value +
                               " is not supported (use 874, 1250 to 1258, 932, 936, 949, 950, 28591, 20127 or 65001)");
        c.Plan.CodePage = (unsigned)std::stoi(e.Value);
    }
}

void ReadSettings(const Context& c, const IniSection& section)
{
    for (const IniEntry& e : section.Entries) {
        if (e.Key == "CodePage")
            continue;
        const SettingInfo& info = SettingForKey(e.Key);
        if (c.Plan.Settings.count(info.Id))
            c.Fail(e.Line, std::string(info.Field) + " (" + std::to_string(info.Id) +
                               ") given twice (first at line " +
                               std::to_string(c.Plan.Settings[info.Id].Line) + ")");
        c.Plan.Settings[info.Id] = {SettingText(c, e, info), e.Line};
        c.Plan.Named.push_back(info.Id);
    }
}

} // namespace

namespace {

void ParseVersionNumber(const Context& c, const IniEntry& e, uint16_t out[4])
{
    size_t at = 0;
    for (int part = 0; part < 4 && at <= e.Value.size(); part++) {
        size_t dot = e.Value.find('.', at);
        std::string number = e.Value.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
        if (!IsInteger(number) || number[0] == '-' || std::stoi(number) > 65535)
            c.Fail(e.Line, e.Key + " must be one to four numbers 0..65535 separated by dots, not '" +
                               e.Value + "'");
        out[part] = (uint16_t)std::stoi(number);
        if (dot == std::string::npos)
            return;
        at = dot + 1;
    }
    c.Fail(e.Line, e.Key + " has more than four parts: '" + e.Value + "'");
}

void ReadVersion(const Context& c, const IniSection& section)
{
    PlannedVersion& v = c.Plan.Version;
    v.Line = section.Line;
    bool fileVersionGiven = false;
    for (const char* key : VersionKeys)
        for (const IniEntry& e : section.Entries) {
            if (e.Key != key)
                continue;
            if (e.Key == "ProductVersion")
                ParseVersionNumber(c, e, v.ProductVersion);
            if (e.Key == "FileVersion")
                ParseVersionNumber(c, e, v.FileVersion), fileVersionGiven = true;
            v.Strings.push_back({e.Key, ToUtf16(c, e)});
        }
    if (!fileVersionGiven) {
        std::copy(v.ProductVersion, v.ProductVersion + 4, v.FileVersion);
        for (const auto& item : std::vector<std::pair<std::string, std::u16string>>(v.Strings))
            if (item.first == "ProductVersion")
                v.Strings.push_back({"FileVersion", item.second});
    }
}

void ReadManifest(const Context& c, const IniSection& section)
{
    PlannedManifest& m = c.Plan.Manifest;
    m.Line = section.Line;
    for (const IniEntry& e : section.Entries) {
        if (e.Key == "File")
            m.File = {e.Value, e.Line};
        if (e.Key == "Execution") {
            if (e.Value != "asInvoker" && e.Value != "highestAvailable" &&
                e.Value != "requireAdministrator")
                c.Fail(e.Line, "Execution must be asInvoker, highestAvailable or requireAdministrator");
            m.Execution = e.Value;
        }
        if (e.Key == "DpiAwareness") {
            std::string v = Lower(e.Value);
            if (v != "none" && v != "system" && v != "permonitor" && v != "permonitorv2")
                c.Fail(e.Line, "DpiAwareness must be none, system, permonitor or permonitorv2");
            m.DpiAwareness = v;
        }
    }
}

void ReadPathSection(const Context& c, const IniSection& section, PlannedPath& out)
{
    for (const IniEntry& e : section.Entries) {
        if (e.Value.empty())
            c.Fail(e.Line, e.Key + " in [" + section.Name + "] names no file");
        out = {e.Value, e.Line};
    }
}

void ReadSection(const Context& c, const IniSection& section)
{
    if (section.Name == "launcher" || section.Name == "messages")
        ReadSettings(c, section);
    else if (section.Name == "files") {
        c.Plan.HasFiles = true;
        for (const IniEntry& e : section.Entries)
            c.Plan.Files.push_back({e.Value, e.Line});
    } else if (section.Name == "splash")
        ReadPathSection(c, section, c.Plan.Splash);
    else if (section.Name == "icon")
        ReadPathSection(c, section, c.Plan.Icon);
    else if (section.Name == "version")
        ReadVersion(c, section);
    else if (section.Name == "manifest")
        ReadManifest(c, section);
}

// A console program works in the shell's directory unless the config names one, may run in several
// shells at once unless the config asks for one instance, and has no window for a splash to wait for:
// it shows one only for SplashSeconds or an explicit SplashUntilWindow.
void ApplyConsoleDefaults(BuildPlan& plan)
{
    auto id = [](const char* field) { return FindSettingByField(field)->Id; };
    if (!IsConsoleProgram(plan))
        return;
    if (!plan.Settings.count(id("UseStartDirectory")) && !plan.Settings.count(id("WorkingDirectory")))
        plan.Settings[id("UseStartDirectory")] = {u"1", 0};
    if (!plan.Settings.count(id("AllowMultipleInstances")))
        plan.Settings[id("AllowMultipleInstances")] = {u"1", 0};
}

} // namespace

namespace {

// The defaults of a launcher built from a config where the prebuilt launcher's own values only suit
// its example: no class path, no service switches, no stream file, today's runtime search, no splash.
// A stream file keeps the runs before (a failed run's output survives the restart after it) and rolls
// at 10 MB: a service runs for months, and five such files bound its log at 60 MB.
const std::pair<const char*, const char*> BuilderDefaults[] = {
    {"ClassPath", ""}, {"ServiceName", ""}, {"StdoutFile", ""}, {"JreSearchOrder", ModernSearchOrder},
    {"SplashUntilWindow", "0"}, {"SplashText", ""}, {"StdoutKeepFiles", "5"}, {"StdoutRollBytes", "10485760"},
    {"StderrKeepFiles", "5"}, {"StderrRollBytes", "10485760"}};

std::u16string Ascii16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

bool Named(const BuildPlan& plan, const char* field)
{
    int id = FindSettingByField(field)->Id;
    return std::find(plan.Named.begin(), plan.Named.end(), id) != plan.Named.end();
}

// The splash: shown until the first window when the config gives a picture, for SplashSeconds when it
// gives only those, not at all otherwise. Its title is the product name, else the main class's own name.
void ApplySplashDefaults(const Context& c)
{
    BuildPlan& plan = c.Plan;
    int untilId = FindSettingByField("SplashUntilWindow")->Id, secondsId = FindSettingByField("SplashSeconds")->Id;
    if (!Named(plan, "SplashUntilWindow"))
        plan.Settings[untilId] = {Ascii16(plan.Splash.Line && !Named(plan, "SplashSeconds") && !IsConsoleProgram(plan) ? "1" : "0"), 0};
    int seconds = plan.Settings.count(secondsId) ? std::stoi(Utf16ToUtf8(plan.Settings[secondsId].Text)) : 0;
    plan.SplashShown = plan.Settings[untilId].Text == u"1" || seconds > 0;
    if (Named(plan, "SplashText"))
        return;
    std::u16string title;
    for (const auto& item : plan.Version.Strings)
        if (item.first == "ProductName")
            title = item.second;
    if (title.empty()) {
        std::string stored = Utf16ToUtf8(plan.Settings[FindSettingByField("MainClass")->Id].Text);
        std::string mainClass = DescrambleText(stored.c_str()); // bytes of the code page
        title = DecodeCodePage(mainClass.substr(mainClass.rfind('.') + 1), plan.CodePage);
    }
    plan.Settings[FindSettingByField("SplashText")->Id] = {title, 0};
}

void ApplyBuilderDefaults(const Context& c)
{
    // A second start hands its arguments over when the config names the method that takes them.
    int modeId = FindSettingByField("SecondInstance")->Id;
    if (!c.Plan.Settings.count(modeId) && Named(c.Plan, "SecondInstanceMethod"))
        c.Plan.Settings[modeId] = {u"forward", 0};
    for (const auto& item : BuilderDefaults) {
        int id = FindSettingByField(item.first)->Id;
        if (!c.Plan.Settings.count(id))
            c.Plan.Settings[id] = {Ascii16(item.second), 0};
    }
    ApplySplashDefaults(c);
}

// Stream mode 1 writes to its file: an empty file name is a mistake found now rather than at run time.
void CheckStreamFiles(const Context& c, const char* modeField, const char* fileField, const char* stream)
{
    int modeId = FindSettingByField(modeField)->Id, fileId = FindSettingByField(fileField)->Id;
    auto mode = c.Plan.Settings.find(modeId);
    auto file = c.Plan.Settings.find(fileId);
    bool noFile = file == c.Plan.Settings.end() ? !*FindSettingById(fileId)->Shipped : file->second.Text.empty();
    if (mode != c.Plan.Settings.end() && std::stoi(Utf16ToUtf8(mode->second.Text)) == 1 && noFile)
        c.Fail(mode->second.Line, std::string(modeField) + " = 1 sends " + stream + " to " + fileField +
                                      ", which is empty: name the file (" + fileField + " = out.log)");
}

} // namespace

bool IsConsoleProgram(const BuildPlan& plan)
{
    auto console = plan.Settings.find(FindSettingByField("Console")->Id);
    return console != plan.Settings.end() && console->second.Text == u"yes";
}

BuildPlan InterpretConfig(const IniFile& ini)
{
    static const std::vector<std::string> sections{"launcher", "messages", "files", "splash",
                                                   "icon", "version", "manifest"};
    BuildPlan plan;
    plan.ConfigPath = ini.Path;
    plan.BaseDir = std::filesystem::u8path(ini.Path).parent_path().u8string();
    Context c{ini, plan};
    for (const IniSection& section : ini.Sections) {
        if (std::find(sections.begin(), sections.end(), section.Name) == sections.end())
            c.Fail(section.Line, "unknown section [" + section.Name + "]" +
                                     Suggest(section.Name, sections));
        CheckKeys(c, section);
        if (section.Name == "launcher")
            ReadCodePage(c, section);
    }
    for (const IniSection& section : ini.Sections)
        ReadSection(c, section);
    if (!plan.Settings.count(FindSettingByField("MainClass")->Id))
        c.Fail(0, "no MainClass: name the class whose main(String[]) runs ([launcher] MainClass = org.acme.Main)");
    ApplyConsoleDefaults(plan);
    ApplyBuilderDefaults(c);
    CheckStreamFiles(c, "StdoutMode", "StdoutFile", "System.out");
    CheckStreamFiles(c, "StderrMode", "StderrFile", "System.err");
    CheckServiceSettings(plan);
    return plan;
}

const char* BuilderDefault(const char* field)
{
    for (const auto& item : BuilderDefaults)
        if (strcmp(item.first, field) == 0)
            return item.second;
    return nullptr;
}

std::string ClassNameProblem(const std::string& name)
{
    std::string dotted = name;
    bool fileName = dotted.size() > 6 && dotted.compare(dotted.size() - 6, 6, ".class") == 0;
    if (fileName)
        dotted.resize(dotted.size() - 6);
    for (char& ch : dotted)
        if (ch == '/' || ch == '\\')
            ch = '.', fileName = true;
    if (fileName)
        return "is a file name: write the class name with dots, " + dotted;
    for (unsigned char ch : name)
        if (ch < 0x80 && !std::isalnum(ch) && ch != '.' && ch != '_' && ch != '$')
            return ch == ' ' || ch == '\t' ? "holds a blank, which no class name holds"
                                           : "holds '" + std::string(1, (char)ch) + "', which no class name holds";
    if (name.empty() || name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos)
        return "is not a dotted class name such as org.acme.Main";
    return "";
}

BuildPlan ReadBuildPlan(const std::string& path)
{
    return InterpretConfig(ReadIniFile(path));
}

std::string ResolvePath(const BuildPlan& plan, const std::string& path)
{
    std::filesystem::path p = std::filesystem::u8path(path);
    if (p.is_absolute() || plan.BaseDir.empty())
        return p.u8string();
    return (std::filesystem::u8path(plan.BaseDir) / p).u8string();
}
