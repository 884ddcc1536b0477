#include "build.h"

#include "archive.h"
#include "ini.h"
#include "jar.h"
#include "pe_image.h"
#include "platform.h"
#include "resources.h"
#include "scramble.h"
#include "settings_table.h"
#include "string_table.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

namespace {

const uint16_t ARCHIVE_ID = 16000;
const uint16_t SPLASH_ID = 8000;
const uint16_t MANIFEST_ID = 1;
const uint16_t VERSION_ID = 1;
// Hex digits of an application identity (the launcher checks the same length).
const size_t APPLICATION_ID_LENGTH = 16;

// Runs step; a failure inside it is reported at the config line that asked for it.
template <typename Step> void AtLine(const BuildPlan& plan, int line, Step step)
{
    try {
        step();
    } catch (const BuildError& error) {
        throw BuildError(plan.ConfigPath, line, error.what());
    }
}

// Writes one setting as the only entry of its string-table block.
void SetSetting(ResourceTree& tree, int id, const std::u16string& text)
{
    StringBlock block;
    block[id % 16] = text;
    SetResource(tree, RES_STRING, ResId::FromId(StringBlockId(id)), EncodeStringBlock(block));
}

void ApplySettings(const BuildPlan& plan, ResourceTree& tree)
{
    for (const auto& item : plan.Settings)
        SetSetting(tree, item.first, item.second.Text);
}

// FNV-1a over size bytes at data, its size first, continuing from hash.
uint64_t HashBytes(uint64_t hash, const void* data, size_t size)
{
    uint64_t length = size;
    const unsigned char* parts[2] = {(const unsigned char*)&length, (const unsigned char*)data};
    const size_t sizes[2] = {sizeof(length), size};
    for (int part = 0; part < 2; part++)
        for (size_t i = 0; i < sizes[part]; i++)
            hash = (hash ^ parts[part][i]) * 0x100000001B3ull;
    return hash;
}

// The application's identity: a hash of the archive the launcher carries and of every setting the
// build writes, main class included. Copies of one build share it; another application, or another
// build whose files or settings differ in any byte, gets another one, and with it a folder and a
// lock of its own.
void ApplyApplicationId(const BuildPlan& plan, ResourceTree& tree)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    const Bytes* archive = FindResource(tree, RES_RCDATA, ResId::FromId(ARCHIVE_ID));
    hash = archive ? HashBytes(hash, archive->data(), archive->size()) : HashBytes(hash, "", 0);
    for (const auto& item : plan.Settings) {
        int32_t id = item.first;
        hash = HashBytes(hash, &id, sizeof(id));
        hash = HashBytes(hash, item.second.Text.data(), item.second.Text.size() * sizeof(char16_t));
    }
    char id[APPLICATION_ID_LENGTH + 1];
    snprintf(id, sizeof(id), "%016llX", (unsigned long long)hash); // 16 digits: always fits
    SetSetting(tree, FindSettingByField("ApplicationId")->Id, std::u16string(id, id + APPLICATION_ID_LENGTH));
}

// The file's name as the archive stores it, in the config's code page; refused when the launcher
// could not extract it under that name.
std::string ArchiveName(const BuildPlan& plan, const std::string& path, int line)
{
    std::u16string wide;
    std::string name, bad;
    std::string plain = std::filesystem::u8path(path).filename().u8string();
    if (!Utf8ToUtf16(plain, wide) || !EncodeCodePage(wide, plan.CodePage, name, &bad))
        throw BuildError(plan.ConfigPath, line, "the file name " + plain +
                                                    " cannot be represented in code page " +
                                                    std::to_string(plan.CodePage));
    if (const char* problem = ArchiveNameProblem(name.c_str(), name.size()))
        throw BuildError(plan.ConfigPath, line, path + ": the file name " + problem);
    return name;
}

std::string Lower(std::string text)
{
    for (char& ch : text)
        ch = (char)std::tolower((unsigned char)ch);
    return text;
}

// The planned text of a setting, or its shipped value when the plan has none.
std::string PlannedText(const BuildPlan& plan, const char* field)
{
    const SettingInfo* info = FindSettingByField(field);
    auto found = plan.Settings.find(info->Id);
    return found == plan.Settings.end() ? info->Shipped : Utf16ToUtf8(found->second.Text);
}

// The class names nearest to name, at most three.
std::string NearestClasses(const std::string& name, std::vector<std::string> classes)
{
    std::string list;
    for (int i = 0; i < 3; i++) {
        std::string nearest = NearestWord(name, classes);
        if (nearest.empty())
            break;
        list += (list.empty() ? "; nearest names: " : ", ") + nearest;
        classes.erase(std::find(classes.begin(), classes.end(), nearest));
    }
    if (!list.empty())
        return list;
    return classes.empty() ? "; it holds no classes"
                           : "; none of its " + std::to_string(classes.size()) + " classes has a similar name";
}

// True when an archive entry is the class file wanted, also in a multi-release jar's META-INF/versions/N/.
bool IsClassEntry(const std::string& entry, const std::string& wanted)
{
    const std::string versions = "META-INF/versions/";
    if (entry == wanted)
        return true;
    size_t release = entry.size() - std::min(entry.size(), wanted.size() + 1);
    return release > versions.size() && entry.compare(0, versions.size(), versions) == 0 &&
           entry.compare(release, std::string::npos, "/" + wanted) == 0 &&
           entry.find_first_not_of("0123456789", versions.size()) == release;
}

// The dotted class name of an entry ("a/B.class" is a.B); "" for other entries and those of META-INF.
std::string ClassOfEntry(std::string entry)
{
    if (entry.size() <= 6 || entry.compare(entry.size() - 6, 6, ".class") != 0 || entry.compare(0, 9, "META-INF/") == 0)
        return "";
    entry.resize(entry.size() - 6);
    std::replace(entry.begin(), entry.end(), '/', '.');
    return entry;
}

// The file name of an embedded archive (.jar or .zip, any case); "" for other files.
std::string ArchiveFileName(const std::string& path)
{
    std::string name = std::filesystem::u8path(path).filename().u8string();
    std::string ending = Lower(name.substr(name.size() > 4 ? name.size() - 4 : 0));
    return ending == ".jar" || ending == ".zip" ? name : "";
}

// With an empty ClassPath (and no class path in JvmOptions) the embedded archives are the whole class
// path: a main class none of them holds can never start. An archive that is no readable zip leaves the
// question open.
void CheckMainClassEmbedded(const BuildPlan& plan, const std::vector<EmbeddedFile>& files,
                            const std::vector<std::pair<std::string, int>>& sources)
{
    std::string jvmOptions = PlannedText(plan, "JvmOptions");
    if (!PlannedText(plan, "ClassPath").empty() || jvmOptions.find("java.class.path") != std::string::npos)
        return;
    const PlannedSetting& stored = plan.Settings.at(FindSettingByField("MainClass")->Id);
    std::string plain = DescrambleText(Utf16ToUtf8(stored.Text).c_str()); // bytes of the code page
    std::string mainClass = Utf16ToUtf8(DecodeCodePage(plain, plan.CodePage)), wanted = mainClass + ".class", archives;
    std::replace(wanted.begin(), wanted.end() - 6, '.', '/');
    std::vector<std::string> classes;
    for (size_t i = 0; i < files.size(); i++) {
        std::string name = ArchiveFileName(sources[i].first);
        std::vector<std::string> entries;
        try {
            if (!name.empty())
                entries = ReadJarEntryNames(files[i].Data, sources[i].first);
        } catch (const BuildError&) {
            return;
        }
        archives += name.empty() ? "" : (archives.empty() ? "" : ", ") + name;
        for (const std::string& entry : entries) {
            if (IsClassEntry(entry, wanted))
                return;
            if (!ClassOfEntry(entry).empty())
                classes.push_back(ClassOfEntry(entry));
        }
    }
    if (!archives.empty())
        throw BuildError(plan.ConfigPath, stored.Line, "MainClass '" + mainClass + "' not found in " + archives +
                                                           NearestClasses(mainClass, classes));
}

// The files are named and their sizes added up before any is read: an archive that cannot fit the
// resource's 32-bit size is refused without reading gigabytes first.
void ApplyFiles(const BuildPlan& plan, ResourceTree& tree)
{
    std::vector<EmbeddedFile> files;
    std::vector<std::pair<std::string, int>> sources; // each file's path and config line
    std::set<std::string> names;
    uint64_t total = 4;
    for (const PlannedPath& pattern : plan.Files)
        for (const std::string& path : ExpandPattern(ResolvePath(plan, pattern.Path), plan.ConfigPath,
                                                     pattern.Line)) {
            files.push_back({ArchiveName(plan, path, pattern.Line), 0, {}});
            sources.push_back({path, pattern.Line});
            if (!names.insert(files.back().Name).second)
                throw BuildError(plan.ConfigPath, pattern.Line,
                                 "two embedded files are named " + files.back().Name);
            AtLine(plan, pattern.Line, [&] { total += FileSize(path); });
            total += ArchiveEntrySize(files.back().Name.size(), 0);
            if (total > PE_MAX_BYTES)
                throw BuildError(plan.ConfigPath, pattern.Line, path + ": the embedded files come to more than the " +
                                     std::to_string(PE_MAX_BYTES) + " bytes a resource can hold");
        }
    for (size_t i = 0; i < files.size(); i++)
        AtLine(plan, sources[i].second, [&] {
            files[i].Data = ReadWholeFile(sources[i].first);
            files[i].FileTime = FileWriteTime(sources[i].first);
        });
    CheckMainClassEmbedded(plan, files, sources);
    SetResource(tree, RES_RCDATA, ResId::FromId(ARCHIVE_ID), MakeArchive(files));
}

// The ids the config named, so that `kestrun show` can mark the rest as defaults.
void ApplyConfigRecord(const BuildPlan& plan, ResourceTree& tree)
{
    std::string ids;
    for (int id : plan.Named)
        ids += (ids.empty() ? "" : " ") + std::to_string(id);
    SetResource(tree, RES_RCDATA, ResId::FromId(CONFIG_RECORD_ID), Bytes(ids.begin(), ids.end()));
}

// A launcher that shows no splash does not carry the prebuilt launcher's picture.
void RemoveSplash(ResourceTree& tree)
{
    auto bitmaps = tree.find(ResId::FromId(RES_BITMAP));
    if (bitmaps == tree.end())
        return;
    bitmaps->second.erase(ResId::FromId(SPLASH_ID));
    if (bitmaps->second.empty())
        tree.erase(bitmaps);
}

void ApplySplash(const BuildPlan& plan, ResourceTree& tree)
{
    AtLine(plan, plan.Splash.Line, [&] {
        // JAR!/ENTRY names a picture inside a jar, as a manifest's SplashScreen-Image does.
        std::string path = ResolvePath(plan, plan.Splash.Path), entry;
        size_t inJar = path.find("!/");
        if (inJar != std::string::npos)
            entry = ReadJarEntry(ReadWholeFile(path.substr(0, inJar)), path.substr(0, inJar), path.substr(inJar + 2),
                                 SPLASH_MAX_BYTES);
        Bytes picture = inJar == std::string::npos ? ReadWholeFile(path) : Bytes(entry.begin(), entry.end());
        SetResource(tree, RES_BITMAP, ResId::FromId(SPLASH_ID), MakeBitmapResource(picture, path));
    });
}

} // namespace

namespace {

// The application icon is the first icon group; its images are replaced, not added to.
void ApplyIcon(const BuildPlan& plan, ResourceTree& tree)
{
    std::vector<IconImage> images;
    AtLine(plan, plan.Icon.Line, [&] {
        std::string path = ResolvePath(plan, plan.Icon.Path);
        images = ReadIconFile(ReadWholeFile(path), path);
    });
    ResNames& groups = tree[ResId::FromId(RES_GROUP_ICON)];
    ResNames& icons = tree[ResId::FromId(RES_ICON)];
    ResId group = groups.empty() ? ResId::FromId(1) : groups.begin()->first;
    uint16_t lang = ExistingLanguage(tree, ResId::FromId(RES_GROUP_ICON), group, LANG_EN_US);
    for (const auto& old : groups[group])
        for (uint16_t id : IconGroupIds(old.second.Data))
            icons.erase(ResId::FromId(id));
    std::vector<uint16_t> ids;
    for (uint16_t id = 1; ids.size() < images.size(); id++)
        if (!icons.count(ResId::FromId(id)))
            ids.push_back(id);
    for (size_t i = 0; i < images.size(); i++)
        icons[ResId::FromId(ids[i])][lang].Data = images[i].Data;
    groups[group] = ResLanguages{{lang, ResData{MakeIconGroup(images, ids), 0}}};
}

void ApplyVersion(const BuildPlan& plan, ResourceTree& tree)
{
    const PlannedVersion& v = plan.Version;
    SetResource(tree, RES_VERSION, ResId::FromId(VERSION_ID),
                MakeVersionInfo(v.FileVersion, v.ProductVersion, v.Strings));
}

void ApplyManifest(const BuildPlan& plan, ResourceTree& tree)
{
    const PlannedManifest& m = plan.Manifest;
    bool present = tree.count(ResId::FromId(RES_MANIFEST)) > 0;
    if (m.Line == 0 && present)
        return; // the launcher's own manifest stays unless the config asks otherwise
    Bytes manifest = MakeManifest(m.Execution, m.DpiAwareness);
    if (!m.File.Path.empty())
        AtLine(plan, m.File.Line, [&] { manifest = ReadWholeFile(ResolvePath(plan, m.File.Path)); });
    ResNames& manifests = tree[ResId::FromId(RES_MANIFEST)];
    ResId name = manifests.empty() ? ResId::FromId(MANIFEST_ID) : manifests.begin()->first;
    SetResource(tree, RES_MANIFEST, name, manifest);
}

} // namespace

void ApplyPlan(const BuildPlan& plan, ResourceTree& tree)
{
    ApplySettings(plan, tree);
    ApplyConfigRecord(plan, tree);
    if (plan.HasFiles)
        ApplyFiles(plan, tree);
    if (plan.Splash.Line)
        ApplySplash(plan, tree);
    else if (!plan.SplashShown)
        RemoveSplash(tree);
    if (plan.Icon.Line)
        ApplyIcon(plan, tree);
    if (plan.Version.Line)
        ApplyVersion(plan, tree);
    ApplyManifest(plan, tree);
    ApplyApplicationId(plan, tree);
}

Bytes BuildLauncherImage(const BuildPlan& plan, const Bytes& launcher, const std::string& launcherPath)
{
    PeImage image = ParsePeImage(launcher, launcherPath);
    ResourceTree tree = ReadResourceTree(image);
    ApplyPlan(plan, tree);
    Bytes section = WriteResourceTree(tree, GetDataDirectory(image, DIR_RESOURCE).Rva);
    Bytes output = ReplaceResourceSection(image, section);
    // One prebuilt launcher serves both kinds of program: only this header field tells them apart.
    SetPeSubsystem(output, image, IsConsoleProgram(plan) ? SUBSYSTEM_WINDOWS_CUI : SUBSYSTEM_WINDOWS_GUI);
    return output;
}

void BuildLauncher(const std::string& configPath, const std::string& launcherPath,
                   const std::string& outputPath)
{
    BuildPlan plan = ReadBuildPlan(configPath);
    Bytes output = BuildLauncherImage(plan, ReadWholeFile(launcherPath), launcherPath);
    WriteFileAtomically(outputPath, output);
}
