#include "jar.h"

#include "config.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

const char ManifestName[] = "META-INF/MANIFEST.MF";

struct ZipReader {
    const Bytes& Data;
    const std::string& Path;

    [[noreturn]] void Fail(const std::string& message) const { throw BuildError(Path, 0, message); }
    // Bounds-checked little-endian reads: a field past the end is a damaged zip.
    uint64_t Read(uint64_t at, int size) const
    {
        if (at > Data.size() || Data.size() - at < (uint64_t)size)
            Fail("damaged zip: a record runs past the end of the file");
        uint64_t value = 0;
        for (int i = size - 1; i >= 0; i--)
            value = value << 8 | Data[at + i];
        return value;
    }
};

struct CentralDirectory {
    uint64_t Offset = 0, Count = 0;
};

// The end-of-central-directory record is in the last 65 557 bytes (22 bytes and a comment of up to
// 65 535), searched from the end.
CentralDirectory FindCentralDirectory(const ZipReader& zip)
{
    const Bytes& d = zip.Data;
    if (d.size() < 22)
        zip.Fail("not a jar: the file is not a zip archive");
    size_t lowest = d.size() > 65557 ? d.size() - 65557 : 0;
    for (size_t at = d.size() - 22 + 1; at-- > lowest;) {
        if (zip.Read(at, 4) != 0x06054b50)
            continue;
        CentralDirectory cd{zip.Read(at + 16, 4), zip.Read(at + 10, 2)};
        // ZIP64: the locator just before points at the 64-bit record, which holds the real values.
        if ((cd.Offset == 0xFFFFFFFF || cd.Count == 0xFFFF) && at >= 20 && zip.Read(at - 20, 4) == 0x07064b50) {
            uint64_t record = zip.Read(at - 12, 8);
            if (zip.Read(record, 4) != 0x06064b50)
                zip.Fail("damaged zip: the ZIP64 directory record is missing");
            cd = {zip.Read(record + 48, 8), zip.Read(record + 32, 8)};
        }
        return cd;
    }
    zip.Fail("not a jar: the file is not a zip archive");
}

// A stored field of 0xFFFFFFFF is in the entry's ZIP64 extra field (id 1), in the order
// uncompressed size, compressed size, local header offset, each present only when its field is full.
void ReadZip64Extra(const ZipReader& zip, uint64_t extra, uint64_t end, uint64_t* fields[3])
{
    while (extra + 4 <= end) {
        uint64_t id = zip.Read(extra, 2), size = zip.Read(extra + 2, 2), at = extra + 4;
        if (id == 1)
            for (int i = 0; i < 3; i++)
                if (*fields[i] == 0xFFFFFFFF && at + 8 <= extra + 4 + size)
                    *fields[i] = zip.Read(at, 8), at += 8;
        extra += 4 + size;
    }
}

struct ZipEntry {
    bool Found = false;
    uint64_t Method = 0, Flags = 0, Crc = 0, Packed = 0, Size = 0, Local = 0;
};

// The directory entry named wanted (ASCII case ignored when anyCase); every name goes to names when given.
ZipEntry FindEntry(const ZipReader& zip, const CentralDirectory& cd, const std::string& wanted, bool anyCase,
                   std::vector<std::string>* names = nullptr)
{
    ZipEntry entry;
    uint64_t at = cd.Offset;
    for (uint64_t i = 0; i < cd.Count; i++) {
        if (zip.Read(at, 4) != 0x02014b50)
            zip.Fail("damaged zip: entry " + std::to_string(i + 1) + " of the directory is not where it should be");
        uint64_t nameLength = zip.Read(at + 28, 2), extra = zip.Read(at + 30, 2), comment = zip.Read(at + 32, 2);
        if (at + 46 + nameLength > zip.Data.size())
            zip.Fail("damaged zip: a name runs past the end of the file");
        const char* name = (const char*)&zip.Data[at + 46];
        if (names != nullptr)
            names->emplace_back(name, nameLength);
        int order = anyCase ? strncasecmp(name, wanted.c_str(), nameLength) : strncmp(name, wanted.c_str(), nameLength);
        bool same = nameLength == wanted.size() && order == 0;
        if (!entry.Found && same) {
            entry = {true, zip.Read(at + 10, 2), zip.Read(at + 8, 2), zip.Read(at + 16, 4), zip.Read(at + 20, 4),
                     zip.Read(at + 24, 4), zip.Read(at + 42, 4)};
            uint64_t* fields[3] = {&entry.Size, &entry.Packed, &entry.Local};
            ReadZip64Extra(zip, at + 46 + nameLength, at + 46 + nameLength + extra, fields);
        }
        at += 46 + nameLength + extra + comment;
    }
    return entry;
}

// Inflates raw deflate data, stopping with a failure as soon as more than limit bytes come out.
std::string Inflate(const ZipReader& zip, const uint8_t* packed, uint64_t packedSize, const std::string& what,
                    size_t limit)
{
    z_stream stream = {};
    if (inflateInit2(&stream, -15) != Z_OK)
        zip.Fail("cannot start the inflater");
    std::string out(limit + 1, '\0');
    stream.next_in = const_cast<uint8_t*>(packed);
    stream.avail_in = (uInt)std::min<uint64_t>(packedSize, 0x7FFFFFFF);
    stream.next_out = (Bytef*)&out[0];
    stream.avail_out = (uInt)out.size();
    int status = inflate(&stream, Z_FINISH);
    size_t produced = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (produced > limit)
        zip.Fail(what + " inflates to more than " + std::to_string(limit) + " bytes");
    if (status != Z_STREAM_END)
        zip.Fail("damaged zip: " + what + "'s compressed data is broken");
    out.resize(produced);
    return out;
}

// The data of an entry found, stored or deflated, checked against its checksum; what names it in failures.
std::string ReadEntryData(const ZipReader& zip, const ZipEntry& entry, const std::string& what, size_t limit)
{
    const Bytes& jar = zip.Data;
    if (entry.Flags & 1)
        zip.Fail(what + " is encrypted");
    if (zip.Read(entry.Local, 4) != 0x04034b50)
        zip.Fail("damaged zip: " + what + "'s local header is missing");
    uint64_t data = entry.Local + 30 + zip.Read(entry.Local + 26, 2) + zip.Read(entry.Local + 28, 2);
    if (data > jar.size() || jar.size() - data < entry.Packed)
        zip.Fail("damaged zip: " + what + "'s data runs past the end of the file");
    std::string text;
    if (entry.Method == 0 && entry.Packed <= limit)
        text.assign((const char*)&jar[data], entry.Packed);
    else if (entry.Method == 0)
        zip.Fail(what + " is larger than " + std::to_string(limit) + " bytes");
    else if (entry.Method == 8)
        text = Inflate(zip, &jar[data], entry.Packed, what, limit);
    else
        zip.Fail(what + " is compressed with method " + std::to_string(entry.Method) +
                 "; only stored and deflate are read");
    if (crc32(0, (const Bytef*)text.data(), (uInt)text.size()) != entry.Crc)
        zip.Fail("damaged zip: " + what + "'s checksum does not match");
    return text;
}

} // namespace

std::string ReadJarManifest(const Bytes& jar, const std::string& path)
{
    ZipReader zip{jar, path};
    ZipEntry entry = FindEntry(zip, FindCentralDirectory(zip), ManifestName, true);
    // A jar without a manifest says nothing, as an empty one.
    return entry.Found ? ReadEntryData(zip, entry, "the manifest", MANIFEST_MAX_BYTES) : "";
}

std::vector<std::string> ReadJarEntryNames(const Bytes& jar, const std::string& path)
{
    ZipReader zip{jar, path};
    std::vector<std::string> names;
    FindEntry(zip, FindCentralDirectory(zip), "", false, &names);
    return names;
}

std::string ReadJarEntry(const Bytes& jar, const std::string& path, const std::string& name, size_t limit)
{
    ZipReader zip{jar, path};
    ZipEntry entry = FindEntry(zip, FindCentralDirectory(zip), name, false);
    if (!entry.Found)
        zip.Fail("the jar holds no " + name);
    return ReadEntryData(zip, entry, name, limit);
}

namespace {

bool IsNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The lines of the main section (up to the first empty line), with CRLF, LF or CR as line ends.
std::vector<std::string> MainSectionLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.empty())
            break;
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

std::vector<std::pair<std::string, std::string>> ParseManifest(const std::string& text, const std::string& path)
{
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::string> lines = MainSectionLines(text);
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string& line = lines[i];
        std::string where = "manifest line " + std::to_string(i + 1) + ": ";
        if (line.find('\0') != std::string::npos)
            throw BuildError(path, 0, where + "a NUL byte");
        if (line[0] == ' ') { // a continuation: the line folded at 72 bytes goes on here
            if (attributes.empty())
                throw BuildError(path, 0, where + "a continuation line without an attribute before it");
            attributes.back().second += line.substr(1);
            continue;
        }
        size_t colon = line.find(": ");
        size_t nameLength = colon == std::string::npos ? 0 : colon;
        bool nameOk = nameLength > 0 && nameLength <= 70;
        for (size_t k = 0; nameOk && k < nameLength; k++)
            nameOk = IsNameChar(line[k]);
        if (!nameOk)
            throw BuildError(path, 0, where + "not 'Name: value'");
        attributes.push_back({line.substr(0, colon), line.substr(colon + 2)});
    }
    return attributes;
}

std::string ManifestValue(const std::vector<std::pair<std::string, std::string>>& attributes, const char* name)
{
    std::string value;
    for (const auto& item : attributes)
        if (strcasecmp(item.first.c_str(), name) == 0)
            value = item.second;
    return value;
}

namespace {

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// Refuses a control character in a value that goes into the config, where a line break would end the
// value's line and start a setting of its own (Class-Path: a.jar%0AJvmOptions%20=%20...). The
// character is named, not shown.
void RefuseControls(const std::string& value, const std::string& what, const std::string& path)
{
    auto bad = std::find_if(value.begin(), value.end(), [](unsigned char c) { return c < 32 || c == 127; });
    if (bad == value.end())
        return;
    char code[8];
    snprintf(code, sizeof(code), "0x%02X", (unsigned char)*bad); // "0x" and two digits always fit
    throw BuildError(path, 0, what + " holds the control character " + code + ", which no launcher setting can");
}

// A Class-Path entry (a relative URL) as a launcher class-path entry: %XX decoded, '/' made '\',
// "/C:/x" made "C:\x". URLs with a scheme are refused: the launcher's class path names files.
std::string LauncherEntry(const std::string& url, const std::string& path)
{
    size_t scheme = url.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+.-");
    if (scheme != std::string::npos && scheme > 1 && url[scheme] == ':' && std::isalpha((unsigned char)url[0]))
        throw BuildError(path, 0, "Class-Path entry '" + url + "' is a URL; the launcher's class path names "
                                  "files: write a config ('kestrun init') with the ClassPath you need");
    std::string entry;
    for (size_t i = 0; i < url.size(); i++) {
        if (url[i] == '%' && i + 2 < url.size() && std::isxdigit((unsigned char)url[i + 1]) &&
            std::isxdigit((unsigned char)url[i + 2])) {
            entry += (char)std::stoi(url.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else
            entry += url[i] == '/' ? '\\' : url[i];
    }
    if (entry.size() >= 3 && entry[0] == '\\' && entry[2] == ':')
        entry.erase(0, 1);
    RefuseControls(entry, "Class-Path entry '" + url + "'", path);
    if (entry.find(';') != std::string::npos)
        throw BuildError(path, 0, "Class-Path entry '" + url + "' holds a ';', which a class path cannot");
    return entry;
}

// Add-Opens and Add-Exports: blank-separated module/package entries, each an option for the unnamed
// module, as `java -jar` reads them.
std::string ModuleOptionsOf(const std::vector<std::pair<std::string, std::string>>& attributes, const std::string& path)
{
    std::string options;
    for (const char* name : {"Add-Opens", "Add-Exports"}) {
        std::string list = ManifestValue(attributes, name) + " ";
        std::string option = name[4] == 'O' ? "--add-opens=" : "--add-exports=";
        for (size_t at = 0, blank; (blank = list.find(' ', at)) != std::string::npos; at = blank + 1) {
            std::string entry = list.substr(at, blank - at);
            size_t slash = entry.find('/');
            if (!entry.empty() && (slash == 0 || slash == std::string::npos || slash + 1 == entry.size() ||
                                   entry.find_first_of("/=\"", slash + 1) != std::string::npos))
                throw BuildError(path, 0, std::string(name) + " entry '" + entry +
                                              "' is not module/package (java.base/java.lang)");
            if (!entry.empty())
                options += (options.empty() ? "" : " ") + option + entry + "=ALL-UNNAMED";
        }
    }
    return options;
}

// What the launcher's splash cannot show of a picture: it shows BMP, and PNG, GIF and JPEG the builder converts.
std::string SplashProblem(const std::string& picture)
{
    bool jpeg = picture.compare(0, 3, "\xFF\xD8\xFF") == 0;
    bool png = picture.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0, bmp = picture.compare(0, 2, "BM") == 0;
    bool gif = picture.compare(0, 6, "GIF87a") == 0 || picture.compare(0, 6, "GIF89a") == 0;
    return png || bmp || gif || jpeg ? "" : "neither a BMP, a PNG, a GIF nor a JPEG picture";
}

// The attributes a launcher turns into options or a splash, or refuses.
void ReadRuntimeAttributes(JarFacts& facts, const Bytes& jar,
                           const std::vector<std::pair<std::string, std::string>>& attributes, const std::string& path)
{
    facts.ModuleOptions = ModuleOptionsOf(attributes, path);
    std::string agent = Trim(ManifestValue(attributes, "Launcher-Agent-Class"));
    if (!agent.empty())
        throw BuildError(path, 0, "Launcher-Agent-Class '" + agent + "': the launcher starts no agent from the "
                                  "application's jar; give the agent a jar of its own with Premain-Class and name it "
                                  "in JvmOptions (-javaagent:agent.jar), then remove the attribute");
    std::string native = Trim(ManifestValue(attributes, "Enable-Native-Access"));
    if (!native.empty() && native != "ALL-UNNAMED")
        throw BuildError(path, 0, "Enable-Native-Access '" + native +
                                  "' is not ALL-UNNAMED, the one value a jar's manifest takes");
    facts.NativeAccess = !native.empty();
    facts.SplashImage = Trim(ManifestValue(attributes, "SplashScreen-Image"));
    if (!facts.SplashImage.empty())
        facts.SplashProblem = SplashProblem(ReadJarEntry(jar, path, facts.SplashImage, SPLASH_MAX_BYTES).substr(0, 8));
}

} // namespace

JarFacts JarFactsOf(const Bytes& jar, const std::string& path)
{
    auto attributes = ParseManifest(ReadJarManifest(jar, path), path);
    for (const char* name : {"Main-Class", "Class-Path", "Implementation-Title", "Implementation-Version", "Add-Opens",
                             "Add-Exports", "SplashScreen-Image"})
        RefuseControls(Trim(ManifestValue(attributes, name)), name, path);
    JarFacts facts;
    facts.MainClass = Trim(ManifestValue(attributes, "Main-Class"));
    std::string problem = ClassNameProblem(facts.MainClass);
    if (!facts.MainClass.empty() && !problem.empty())
        throw BuildError(path, 0, "Main-Class '" + facts.MainClass + "' " + problem);
    std::string classPath = ManifestValue(attributes, "Class-Path") + " ";
    for (size_t at = 0, blank; (blank = classPath.find(' ', at)) != std::string::npos; at = blank + 1)
        if (blank > at)
            facts.ClassPath.push_back(LauncherEntry(classPath.substr(at, blank - at), path));
    facts.Title = Trim(ManifestValue(attributes, "Implementation-Title"));
    facts.Version = Trim(ManifestValue(attributes, "Implementation-Version"));
    ReadRuntimeAttributes(facts, jar, attributes, path);
    return facts;
}

JarFacts ReadJarFacts(const std::string& path)
{
    return JarFactsOf(ReadWholeFile(path), path);
}
