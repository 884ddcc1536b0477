#include "res_tree.h"

#include <algorithm>
#include <set>
#include <vector>

namespace {

std::u16string Upper(const std::u16string& text)
{
    std::u16string out = text;
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z')
            c = (char16_t)(c - 32);
    return out;
}

// A hostile file can point many entries at one directory, name or data: each directory is read once,
// the entries are counted, and the names and data read out (each time they are used) may add up to no
// more than the file holds, so reading costs at most what the file's size and RES_MAX_ENTRIES allow.
struct Reader {
    const PeImage& Image;
    Bytes Section; // from the directory's RVA to the end of its section
    uint32_t Rva;
    std::set<uint32_t> Directories; // offsets of the directories read so far
    uint32_t Entries = 0;           // entries read so far, at all levels
    uint64_t Held = 0;              // bytes of names and data read out so far

    [[noreturn]] void Malformed(const std::string& what) const
    {
        throw BuildError(Image.Path, 0, "malformed resource directory: " + what);
    }
    void Hold(uint64_t bytes)
    {
        if ((Held += bytes) > Image.Data.size())
            Malformed("its names and data add up to more than the file holds (shared or overlapping)");
    }
};

ResId ReadEntryName(Reader& r, uint32_t field)
{
    if (!(field & 0x80000000u))
        return ResId::FromId((uint16_t)field);
    uint32_t at = field & 0x7FFFFFFFu;
    uint16_t length = ReadU16(r.Section, at);
    r.Hold(2u * length);
    std::u16string name;
    for (uint16_t i = 0; i < length; i++)
        name.push_back((char16_t)ReadU16(r.Section, at + 2 + 2u * i));
    return ResId::FromName(name);
}

ResData ReadDataEntry(Reader& r, uint32_t at)
{
    uint32_t rva = ReadU32(r.Section, at), size = ReadU32(r.Section, at + 4);
    r.Hold(size);
    ResData data;
    data.CodePage = ReadU32(r.Section, at + 8);
    data.Data = ReadRva(r.Image, rva, size);
    return data;
}

// Calls visit(name, offsetField) for every entry of the directory at offset at.
template <typename Visit> void ForEachEntry(Reader& r, uint32_t at, Visit visit)
{
    if (!r.Directories.insert(at).second)
        r.Malformed("the directory at offset " + std::to_string(at) + " is used twice");
    uint32_t count = (uint32_t)ReadU16(r.Section, at + 12) + ReadU16(r.Section, at + 14);
    if ((r.Entries += count) > RES_MAX_ENTRIES)
        r.Malformed("more than " + std::to_string(RES_MAX_ENTRIES) + " entries");
    for (uint32_t i = 0; i < count; i++) {
        size_t entry = at + 16 + 8 * i;
        visit(ReadEntryName(r, ReadU32(r.Section, entry)), ReadU32(r.Section, entry + 4));
    }
}

uint32_t Subdirectory(const Reader& r, uint32_t field)
{
    if (!(field & 0x80000000u))
        r.Malformed("a data entry where a directory belongs");
    return field & 0x7FFFFFFFu;
}

ResLanguages ReadLanguages(Reader& r, uint32_t at)
{
    ResLanguages languages;
    ForEachEntry(r, at, [&](const ResId& lang, uint32_t field) {
        if (lang.IsName || (field & 0x80000000u))
            r.Malformed("a language level that is not a list of ids and data");
        languages[lang.Id] = ReadDataEntry(r, field);
    });
    return languages;
}

ResourceTree ReadTree(Reader& r)
{
    ResourceTree tree;
    ForEachEntry(r, 0, [&](const ResId& type, uint32_t typeField) {
        ResNames& names = tree[type];
        ForEachEntry(r, Subdirectory(r, typeField), [&](const ResId& name, uint32_t nameField) {
            names[name] = ReadLanguages(r, Subdirectory(r, nameField));
        });
    });
    return tree;
}

} // namespace

ResId ResId::FromId(uint16_t id)
{
    ResId r;
    r.Id = id;
    return r;
}

ResId ResId::FromName(const std::u16string& name)
{
    ResId r;
    r.IsName = true;
    r.Name = name;
    return r;
}

bool ResId::operator<(const ResId& other) const
{
    if (IsName != other.IsName)
        return IsName;
    if (!IsName)
        return Id < other.Id;
    std::u16string a = Upper(Name), b = Upper(other.Name);
    return a != b ? a < b : Name < other.Name;
}

bool ResId::operator==(const ResId& other) const
{
    return IsName == other.IsName && Id == other.Id && Name == other.Name;
}

std::string ResId::ToString() const
{
    if (!IsName)
        return std::to_string(Id);
    std::string text = "\"";
    for (char16_t c : Name)
        text.push_back(c < 128 ? (char)c : '?');
    return text + "\"";
}

ResourceTree ReadResourceTree(const PeImage& image)
{
    DataDirectory dir = GetDataDirectory(image, DIR_RESOURCE);
    int index = dir.Size ? FindSectionByRva(image, dir.Rva) : -1;
    if (index < 0)
        throw BuildError(image.Path, 0, "the executable has no resources");
    const PeSection& s = image.Sections[index];
    uint32_t offset = dir.Rva - s.VirtualAddress;
    if (offset >= s.RawSize)
        throw BuildError(image.Path, 0, "the resource directory lies outside its section's data");
    uint32_t available = s.RawSize - offset;
    Reader reader{image, ReadRva(image, dir.Rva, available), dir.Rva, {}, 0, 0};
    try {
        return ReadTree(reader);
    } catch (const std::out_of_range&) {
        reader.Malformed("an offset past the section's end");
    }
}

namespace {

// Offsets of every part of the section, computed before anything is written.
struct Plan {
    std::vector<uint32_t> TypeDirs;     // per type
    std::vector<uint32_t> NameDirs;     // per (type, name), in tree order
    uint32_t DataEntries = 0;           // first data entry; one per (type, name, language)
    std::map<std::u16string, uint32_t> Strings; // name -> offset
    uint32_t DataStart = 0;
};

uint32_t DirectorySize(size_t entries)
{
    return 16 + 8 * (uint32_t)entries;
}

Plan PlanLayout(const ResourceTree& tree)
{
    Plan plan;
    uint32_t at = DirectorySize(tree.size());
    for (const auto& type : tree) {
        plan.TypeDirs.push_back(at);
        at += DirectorySize(type.second.size());
    }
    uint32_t leaves = 0;
    for (const auto& type : tree)
        for (const auto& name : type.second) {
            plan.NameDirs.push_back(at);
            at += DirectorySize(name.second.size());
            leaves += (uint32_t)name.second.size();
        }
    plan.DataEntries = at;
    at += 16 * leaves;
    for (const auto& type : tree) {
        if (type.first.IsName && !plan.Strings.count(type.first.Name))
            plan.Strings[type.first.Name] = at, at += 2 + 2 * (uint32_t)type.first.Name.size();
        for (const auto& name : type.second)
            if (name.first.IsName && !plan.Strings.count(name.first.Name))
                plan.Strings[name.first.Name] = at, at += 2 + 2 * (uint32_t)name.first.Name.size();
    }
    plan.DataStart = AlignUp(at, 8);
    return plan;
}

void WriteDirectoryHeader(Bytes& out, uint32_t at, const std::vector<ResId>& ids)
{
    size_t named = std::count_if(ids.begin(), ids.end(), [](const ResId& id) { return id.IsName; });
    WriteU16(out, at + 12, (uint16_t)named);
    WriteU16(out, at + 14, (uint16_t)(ids.size() - named));
}

void WriteEntry(Bytes& out, uint32_t at, const Plan& plan, const ResId& id, uint32_t target)
{
    WriteU32(out, at, id.IsName ? 0x80000000u | plan.Strings.at(id.Name) : id.Id);
    WriteU32(out, at + 4, target);
}

template <typename Map> std::vector<ResId> Keys(const Map& map)
{
    std::vector<ResId> keys;
    for (const auto& item : map)
        keys.push_back(item.first);
    return keys;
}

void WriteStrings(Bytes& out, const Plan& plan)
{
    for (const auto& item : plan.Strings) {
        WriteU16(out, item.second, (uint16_t)item.first.size());
        for (size_t i = 0; i < item.first.size(); i++)
            WriteU16(out, item.second + 2 + 2 * i, item.first[i]);
    }
}

} // namespace

Bytes WriteResourceTree(const ResourceTree& tree, uint32_t sectionRva)
{
    Plan plan = PlanLayout(tree);
    Bytes out(plan.DataStart, 0);
    WriteDirectoryHeader(out, 0, Keys(tree));
    WriteStrings(out, plan);
    size_t t = 0, n = 0;
    uint32_t leaf = plan.DataEntries;
    for (const auto& type : tree) {
        WriteEntry(out, 16 + 8 * (uint32_t)t, plan, type.first, 0x80000000u | plan.TypeDirs[t]);
        WriteDirectoryHeader(out, plan.TypeDirs[t], Keys(type.second));
        size_t i = 0;
        for (const auto& name : type.second) {
            uint32_t dir = plan.NameDirs[n++];
            WriteEntry(out, plan.TypeDirs[t] + 16 + 8 * (uint32_t)i++, plan, name.first,
                       0x80000000u | dir);
            std::vector<ResId> langs;
            for (const auto& lang : name.second)
                langs.push_back(ResId::FromId(lang.first));
            WriteDirectoryHeader(out, dir, langs);
            size_t l = 0;
            for (const auto& lang : name.second) {
                WriteEntry(out, dir + 16 + 8 * (uint32_t)l, plan, langs[l], leaf);
                l++;
                PadTo(out, 8);
                WriteU32(out, leaf, sectionRva + (uint32_t)out.size());
                WriteU32(out, leaf + 4, (uint32_t)lang.second.Data.size());
                WriteU32(out, leaf + 8, lang.second.CodePage);
                out.insert(out.end(), lang.second.Data.begin(), lang.second.Data.end());
                leaf += 16;
            }
        }
        t++;
    }
    return out;
}

uint16_t ExistingLanguage(const ResourceTree& tree, const ResId& type, const ResId& name,
                          uint16_t fallback)
{
    auto t = tree.find(type);
    if (t == tree.end())
        return fallback;
    auto n = t->second.find(name);
    if (n == t->second.end() || n->second.size() != 1)
        return fallback;
    return n->second.begin()->first;
}

void SetResource(ResourceTree& tree, uint16_t type, const ResId& name, Bytes data)
{
    ResId typeId = ResId::FromId(type);
    uint16_t lang = ExistingLanguage(tree, typeId, name, LANG_EN_US);
    ResLanguages& languages = tree[typeId][name];
    ResData& entry = languages[lang];
    entry.Data = std::move(data);
    if (languages.size() > 1) { // other languages of the same entry would shadow the new data
        ResData kept = entry;
        languages.clear();
        languages[lang] = kept;
    }
}

const Bytes* FindResource(const ResourceTree& tree, uint16_t type, const ResId& name)
{
    auto t = tree.find(ResId::FromId(type));
    if (t == tree.end())
        return nullptr;
    auto n = t->second.find(name);
    if (n == t->second.end() || n->second.empty())
        return nullptr;
    auto l = n->second.find(LANG_EN_US);
    return &(l != n->second.end() ? l : n->second.begin())->second.Data;
}
