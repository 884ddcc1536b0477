#include "show.h"

#include "archive.h"
#include "config.h"
#include "java_version.h"
#include "pe_image.h"
#include "resources.h"
#include "scramble.h"
#include "search_order.h"
#include "settings_table.h"
#include "string_table.h"
#include "text.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace {

const int JRE_SEARCH_ORDER_ID = 1104;

// The stored text of a setting, or false when its block is missing or malformed.
bool StoredSetting(const ResourceTree& tree, int id, std::u16string& text)
{
    const Bytes* data = FindResource(tree, RES_STRING, ResId::FromId(StringBlockId(id)));
    StringBlock block;
    if (data == nullptr || !DecodeStringBlock(*data, block))
        return false;
    text = block[id % 16];
    return true;
}

// Code page in which the scrambled main class and the archive's file names are shown.
unsigned DisplayCodePage = 1252;

// A version stored as a hexadecimal word, as people write it: 0x00010008 is 1.8, 0x00110000 is 17.
std::string VersionOfWord(const std::string& stored)
{
    JavaVersionNumber v;
    bool prefixed = stored.compare(0, 2, "0x") == 0 || stored.compare(0, 2, "0X") == 0;
    bool unprefixed = stored.size() >= 5 && stored.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    bool word = prefixed || unprefixed; // older builds stored words without 0x
    if (!word || !ReadJavaVersionSetting(stored.c_str(), &v))
        return stored;
    std::string text = (v.Parts[0] < 9 ? "1." : "") + std::to_string(v.Parts[0]);
    return v.Count > 1 && v.Parts[1] != 0 ? text + "." + std::to_string(v.Parts[1]) : text;
}

std::string DisplayValue(const SettingInfo& info, const std::u16string& stored)
{
    std::string text = Utf16ToUtf8(stored);
    if (info.Kind == SETTING_VERSION)
        return VersionOfWord(text);
    if (info.Kind != SETTING_SCRAMBLED)
        return text;
    std::string plain = DescrambleText(text.c_str()); // bytes of the system code page
    return Utf16ToUtf8(DecodeCodePage(plain, DisplayCodePage));
}

// The ids the launcher's config named (RCDATA 16001); false for a launcher without that record
// (a prebuilt one), whose values are all its own.
bool ConfigRecord(const ResourceTree& tree, std::set<int>& named)
{
    const Bytes* data = FindResource(tree, RES_RCDATA, ResId::FromId(CONFIG_RECORD_ID));
    if (data == nullptr)
        return false;
    std::istringstream ids(std::string(data->begin(), data->end()));
    for (int id; ids >> id;)
        named.insert(id);
    return true;
}

// The stored text of the setting prefix + field ("Stdout" "Mode"); empty when it is missing.
std::string StoredStreamSetting(const ResourceTree& tree, const std::string& prefix, const char* field)
{
    std::u16string stored;
    return StoredSetting(tree, FindSettingByField((prefix + field).c_str())->Id, stored) ? Utf16ToUtf8(stored) : "";
}

// A note on where a stream goes when it goes to a file: kept or emptied at a start, rolled, stamped.
void NoteStreamFile(const ResourceTree& tree, std::ostream& out, const std::string& prefix, const char* stream)
{
    auto value = [&](const char* field) { return StoredStreamSetting(tree, prefix, field); };
    std::string mode = value("Mode"), file = value("File");
    if (file.empty() || (mode != "1" && mode != "2"))
        return;
    int keep = std::atoi(value("KeepFiles").c_str()), roll = std::atoi(value("RollBytes").c_str());
    out << ";   " << stream << " goes to " << file << (mode == "2" ? " as well as to the error dialog" : "") << ": "
        << (keep > 0 ? "earlier files kept as " + file + ".1 to " + file + "." + std::to_string(keep)
                     : std::string("emptied at each start"))
        << (roll > 0 ? ", rolls at " + std::to_string(roll) + " bytes" : std::string(""))
        << (value("Timestamps")[0] == '1' ? ", lines time-stamped" : "") << "\n";
}

void ShowSettings(const ResourceTree& tree, std::ostream& out, bool messages)
{
    std::set<int> named;
    bool recorded = ConfigRecord(tree, named);
    out << (messages ? "[messages]\n" : "[launcher]\n");
    if (recorded)
        out << "; keys the config named are set; the others are defaults, shown as \"; default: \"\n";
    for (int i = 0; i < SettingCount; i++) {
        const SettingInfo& info = SettingTable[i];
        if ((info.Kind == SETTING_MESSAGE) != messages)
            continue;
        std::u16string stored;
        if (!StoredSetting(tree, info.Id, stored))
            out << "; " << info.Field << " (" << info.Id << ") is missing: reads as empty\n";
        else
            out << (info.Kind == SETTING_BUILT ? "; built: " : recorded && !named.count(info.Id) ? "; default: " : "")
                << info.Field << " = "
                << DisplayValue(info, stored) << "\n";
        if (info.Id == JRE_SEARCH_ORDER_ID)
            for (const std::string& line : DescribeSearchOrder(Utf16ToUtf8(stored)))
                out << ";   " << line << "\n";
        std::u16string stopArgs;
        if (info.Id == FindSettingByField("ServiceStopByExit")->Id && stored[0] == u'0' &&
            StoredSetting(tree, FindSettingByField("ServiceStopArgs")->Id, stopArgs) && stopArgs.empty())
            out << ";   ServiceStopArgs is empty: a stop calls System.exit, as with ServiceStopByExit = 1\n";
        if (info.Id == FindSettingByField("LaunchLog")->Id)
            out << ";   the launch log (a line per start step) also goes where KESTRUN_LOG names, which overrides it\n";
        if (info.Id == FindSettingByField("StdoutTimestamps")->Id)
            NoteStreamFile(tree, out, "Stdout", "System.out");
        if (info.Id == FindSettingByField("StderrTimestamps")->Id)
            NoteStreamFile(tree, out, "Stderr", "System.err");
    }
}

void ShowFiles(const ResourceTree& tree, std::ostream& out)
{
    out << "[files]\n";
    const Bytes* data = FindResource(tree, RES_RCDATA, ResId::FromId(16000));
    ArchiveReader reader;
    uint32_t count = 0;
    if (data == nullptr) {
        out << "; no archive resource (RCDATA 16000)\n";
        return;
    }
    if (!OpenArchive(&reader, data->data(), data->size(), &count) || count == 0) {
        out << "; no embedded files\n";
        return;
    }
    ArchiveEntry entry;
    uint32_t read = 0;
    for (; NextArchiveEntry(&reader, &entry); read++)
        out << "; " << Utf16ToUtf8(DecodeCodePage(entry.Name, DisplayCodePage)) << "  " << entry.Size
            << " bytes  " << FormatFileTime((uint64_t)entry.TimeHigh << 32 | entry.TimeLow) << "\n";
    if (read != count)
        out << "; damaged archive: " << count << " entries announced, " << read << " readable\n";
}

} // namespace

namespace {

void ShowSplash(const ResourceTree& tree, std::ostream& out)
{
    out << "[splash]\n";
    const Bytes* data = FindResource(tree, RES_BITMAP, ResId::FromId(8000));
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    if (data == nullptr)
        out << "; no splash bitmap (bitmap 8000)\n";
    else if (!DescribeBitmap(*data, width, height, bits))
        out << "; bitmap 8000 is damaged\n";
    else
        out << "; bitmap 8000: " << width << " x " << (height < 0 ? -height : height) << ", "
            << bits << " bits per pixel\n";
}

void ShowIcon(const ResourceTree& tree, std::ostream& out)
{
    out << "[icon]\n";
    auto groups = tree.find(ResId::FromId(RES_GROUP_ICON));
    if (groups == tree.end() || groups->second.empty()) {
        out << "; no icon\n";
        return;
    }
    const ResId& name = groups->second.begin()->first;
    const Bytes* group = FindResource(tree, RES_GROUP_ICON, name);
    std::vector<uint16_t> ids = group ? IconGroupIds(*group) : std::vector<uint16_t>();
    out << "; icon group " << name.ToString() << ": " << ids.size() << " images";
    for (size_t i = 0; i < ids.size(); i++) {
        int width = (*group)[6 + 14 * i], height = (*group)[6 + 14 * i + 1];
        out << (i ? ", " : " (") << (width ? width : 256) << "x" << (height ? height : 256)
            << (FindResource(tree, RES_ICON, ResId::FromId(ids[i])) ? "" : " MISSING");
    }
    out << (ids.empty() ? "\n" : ")\n");
}

void ShowVersion(const ResourceTree& tree, std::ostream& out)
{
    out << "[version]\n";
    const Bytes* data = FindResource(tree, RES_VERSION, ResId::FromId(1));
    if (data == nullptr) {
        out << "; no version information\n";
        return;
    }
    for (const auto& item : ReadVersionStrings(*data))
        out << item.first << " = " << item.second << "\n";
}

void ShowManifest(const ResourceTree& tree, std::ostream& out)
{
    out << "[manifest]\n";
    auto manifests = tree.find(ResId::FromId(RES_MANIFEST));
    if (manifests == tree.end() || manifests->second.empty()) {
        out << "; no manifest\n";
        return;
    }
    const Bytes* data = FindResource(tree, RES_MANIFEST, manifests->second.begin()->first);
    if (data == nullptr) { // a name directory without any language entry
        out << "; manifest " << manifests->second.begin()->first.ToString() << " has no data\n";
        return;
    }
    std::string text(data->begin(), data->end());
    size_t level = text.find("level=\"");
    out << "; manifest " << manifests->second.begin()->first.ToString() << ": " << data->size()
        << " bytes";
    if (level != std::string::npos)
        out << ", execution level " << text.substr(level + 7, text.find('"', level + 7) - level - 7);
    out << "\n";
}

} // namespace

std::string FormatFileTime(uint64_t fileTime)
{
    const uint64_t unixEpoch = 116444736000000000ull;
    int64_t seconds = (int64_t)(fileTime / 10000000u) - (int64_t)(unixEpoch / 10000000u);
    unsigned fraction = (unsigned)(fileTime % 10000000u);
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    int64_t year = yoe + era * 400 + (month <= 2);
    char text[160];
    snprintf(text, sizeof(text), "%04lld-%02lld-%02lld %02lld:%02lld:%02lld.%07u UTC", (long long)year,
             (long long)month, (long long)day, (long long)(rest / 3600), (long long)(rest / 60 % 60),
             (long long)(rest % 60), fraction);
    return text;
}

void ShowResources(const ResourceTree& tree, std::ostream& out)
{
    ShowSettings(tree, out, false);
    out << "\n";
    ShowSettings(tree, out, true);
    out << "\n";
    ShowFiles(tree, out);
    out << "\n";
    ShowSplash(tree, out);
    out << "\n";
    ShowIcon(tree, out);
    out << "\n";
    ShowVersion(tree, out);
    out << "\n";
    ShowManifest(tree, out);
}

void ShowLauncher(const std::string& path, std::ostream& out, unsigned codePage)
{
    DisplayCodePage = codePage;
    PeImage image = ParsePeImage(ReadWholeFile(path), path);
    bool resources = GetDataDirectory(image, DIR_RESOURCE).Rva != 0;
    ResourceTree tree = resources ? ReadResourceTree(image) : ResourceTree();
    std::u16string mainClass;
    // Every launcher, prebuilt or built, stores its main class: a file without it is some other program.
    if (!StoredSetting(tree, FindSettingByField("MainClass")->Id, mainClass))
        throw BuildError(path, 0, "not a Kestrun launcher: no launcher settings");
    uint16_t subsystem = GetPeSubsystem(image);
    out << "; " << path << ": " << (image.Is64 ? "x64" : "x86") << " launcher, " << image.Data.size()
        << " bytes, "
        << (subsystem == SUBSYSTEM_WINDOWS_CUI   ? "console subsystem"
            : subsystem == SUBSYSTEM_WINDOWS_GUI ? "GUI subsystem"
                                                 : "subsystem " + std::to_string(subsystem))
        << "\n\n";
    ShowResources(tree, out);
}
