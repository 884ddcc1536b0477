// The class path: directories hold "com/acme/App.script" files; archives (.jar, .zip) are text files of
// sections "== com/acme/App" (see README.md). Entries are made absolute against the directory that was
// current when the VM was created, as the application class loader does.
#include "jvm_double.h"

#include <fstream>
#include <sstream>

std::vector<std::string> ClassPathEntries;  // written once by JNI_CreateJavaVM

static std::string Absolute(const std::string& entry) {
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(entry.c_str(), sizeof full, full, nullptr);
    return (n == 0 || n >= sizeof full) ? entry : std::string(full, n);  // too long: kept as written
}

void SetClassPath(const std::string& value) {
    ClassPathEntries.clear();
    std::string entry;
    std::istringstream parts(value);
    while (std::getline(parts, entry, ';'))
        if (!entry.empty()) ClassPathEntries.push_back(Absolute(entry));
}

static bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

static bool IsArchive(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return tail == ".jar" || tail == ".zip";
}

// The lines of section "== name" of an archive, or false when it has none.
static bool FindSection(const std::string& archive, const std::string& name, std::string& text) {
    std::istringstream lines(archive);
    std::string line;
    bool inside = false, found = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 3, "== ") == 0) {
            inside = line.substr(3) == name;
            found = found || inside;
        } else if (inside) {
            text += line + "\n";
        }
    }
    return found;
}

bool FindClassScript(const std::string& name, std::string& text, std::string& origin) {
    for (const std::string& entry : ClassPathEntries) {
        DWORD attributes = GetFileAttributesA(entry.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // missing entries are skipped
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            std::string path = entry + "\\" + name + ".script";
            for (char& c : path)
                if (c == '/') c = '\\';
            if (ReadWholeFile(path, text)) {
                origin = path;
                return true;
            }
        } else if (IsArchive(entry)) {
            std::string archive;
            if (ReadWholeFile(entry, archive) && FindSection(archive, name, text)) {
                origin = entry;
                return true;
            }
        }
    }
    return false;
}
