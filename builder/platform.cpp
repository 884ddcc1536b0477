#include "platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

uint64_t FileWriteTime(const std::string& path)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(fs::u8path(path).c_str(), GetFileExInfoStandard, &data))
        throw BuildError(path, 0, "cannot read the file's time");
    return (uint64_t)data.ftLastWriteTime.dwHighDateTime << 32 | data.ftLastWriteTime.dwLowDateTime;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        throw BuildError(path, 0, "cannot read the file's time");
    const uint64_t unixEpoch = 116444736000000000ull; // 1970-01-01 as a FILETIME
    return unixEpoch + (uint64_t)info.st_mtim.tv_sec * 10000000u + info.st_mtim.tv_nsec / 100;
#endif
}

std::string BuilderFolder(const char* argv0)
{
    std::error_code error;
#ifdef _WIN32
    wchar_t buffer[32768];
    DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length > 0 && length < 32768) // the length equals the size when the name was cut
        return fs::path(buffer).parent_path().u8string();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        return self.parent_path().u8string();
#endif
    return fs::absolute(fs::u8path(argv0), error).parent_path().u8string();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    std::vector<std::string> arguments(argv, argv + argc);
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count && i < argc; i++)
        arguments[i] = fs::path(wide[i]).u8string();
    LocalFree(wide);
    // The console's code page is the user's: it is given back when the builder ends.
    static UINT consolePage = GetConsoleOutputCP();
    if (consolePage != 0 && SetConsoleOutputCP(CP_UTF8))
        atexit([] { SetConsoleOutputCP(consolePage); });
#endif
    return arguments;
}

bool MatchWildcard(const std::string& pattern, const std::string& name)
{
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n]))
            p++, n++;
        else if (p < pattern.size() && pattern[p] == '*')
            star = p++, resume = n;
        else if (star != std::string::npos)
            p = star + 1, n = ++resume;
        else
            return false;
    }
    while (p < pattern.size() && pattern[p] == '*')
        p++;
    return p == pattern.size();
}

std::vector<std::string> ExpandPattern(const std::string& pattern, const std::string& configPath,
                                       int line)
{
    fs::path path = fs::u8path(pattern);
    std::string last = path.filename().u8string();
    if (path.parent_path().u8string().find_first_of("*?") != std::string::npos)
        throw BuildError(configPath, line, "wildcards are allowed only in the file name: " + pattern);
    std::error_code error;
    if (last.find_first_of("*?") == std::string::npos) {
        if (!fs::is_regular_file(path, error))
            throw BuildError(configPath, line, "file not found: " + pattern);
        return {pattern};
    }
    std::vector<std::string> found;
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error) && MatchWildcard(last, it->path().filename().u8string()))
            found.push_back((path.parent_path() / it->path().filename()).u8string());
    if (found.empty())
        throw BuildError(configPath, line, "no file matches " + pattern);
    std::sort(found.begin(), found.end());
    return found;
}

namespace {

bool WriteAll(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    out.close();
    return !out.fail();
}

bool RenameOver(const fs::path& from, const fs::path& to)
{
#ifdef _WIN32
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

void WriteFileAtomically(const std::string& path, const Bytes& bytes)
{
    fs::path target = fs::u8path(path);
#ifdef _WIN32
    unsigned long id = GetCurrentProcessId();
#else
    unsigned long id = (unsigned long)getpid();
#endif
    fs::path temporary = target;
    temporary += ".tmp" + std::to_string(id);
    if (!WriteAll(temporary, bytes) || !RenameOver(temporary, target)) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw BuildError(path, 0, "cannot write the output file");
    }
}
