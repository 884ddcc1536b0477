#include "find_java.h"

#ifdef _WIN32

#include "format.h"
#include "jre.h"
#include "machine_text.h"
#include "pe_image.h"
#include "platform.h"
#include "report.h"
#include "search_order.h"
#include "settings.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {

// Where the candidates of the running search are printed.
std::ostream* ReportStream = nullptr;

// A text of the search (ANSI code page) as UTF-8; a path by its long name, which the search gives by
// its short name where the code page lacks a character.
std::string Printable(const char* text, bool isPath = true)
{
    std::wstring wide(strlen(text) + 1, L'\0');
    wide.resize((size_t)std::max(0, MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], (int)wide.size()) - 1));
    std::wstring longPath(32768, L'\0');
    DWORD length = isPath ? GetLongPathNameW(wide.c_str(), &longPath[0], 32768) : 0;
    if (length > 0 && length < 32768)
        wide = longPath.substr(0, length);
    return std::filesystem::path(wide).u8string();
}

void PrintCandidate(const RuntimeCandidateReport* report)
{
    std::ostream& out = *ReportStream;
    out << "[" << report->Method << "] " << Printable(report->Source, false);
    if (report->Home[0] != 0)
        out << "\n      home " << Printable(report->Home);
    if (report->Version[0] != 0)
        out << "\n      version " << report->Version;
    if (report->Jvm[0] != 0)
        out << "\n      jvm.dll " << Printable(report->Jvm);
    out << "\n    " << report->Verdict << "\n";
}

} // namespace

int FindJavaForLauncher(const std::string& launcherPath, std::ostream& out)
{
    PeImage image = ParsePeImage(ReadWholeFile(launcherPath), launcherPath);
    // The launcher's path is UTF-8; its folder is given to the search as the launcher gives it.
    wchar_t full[MAX_PATH];
    wchar_t* namePart = nullptr;
    DWORD length = GetFullPathNameW(std::filesystem::u8path(launcherPath).c_str(), MAX_PATH, full, &namePart);
    if (length == 0 || length >= MAX_PATH || namePart == nullptr || namePart == full) {
        out << "kestrun: the path of " << launcherPath << " is too long for a launcher\n";
        return 2;
    }
    HMODULE module = LoadLibraryExW(full, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL) {
        out << "kestrun: cannot open " << launcherPath << " (error " << GetLastError() << ")\n";
        return 2;
    }
    LoadSettingsRecord(module);
    FreeLibrary(module);
    RuntimeMachine = image.Is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    // The old methods read the launcher's own view of HKEY_LOCAL_MACHINE, which for a 32-bit launcher
    // on 64-bit Windows is the 32-bit one (a 32-bit system has only that one).
    RuntimeRegistryView = image.Is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    namePart[-1] = 0;
    char* folder = MakeAnsiPath(full);
    bool fits = folder != nullptr && CopyText(LauncherFolder, sizeof(LauncherFolder), folder);
    free(folder);
    if (!fits) {
        out << "kestrun: the folder of " << launcherPath << " has no name in the ANSI code page\n";
        return 2;
    }
    // Relative JvmPath entries are relative to the launcher's folder, its current directory.
    SetCurrentDirectoryW(full);
    out << "; runtime search of " << std::filesystem::path(full).u8string() << "\\"
        << std::filesystem::path(namePart).u8string() << " (" << (image.Is64 ? "x64" : "x86")
        << " launcher), order \"" << LauncherSettings.JreSearchOrder << "\"\n";
    out << "; methods 1 to 4 read the " << (image.Is64 ? "64" : "32") << "-bit registry view, as this launcher does\n";
    for (const std::string& line : DescribeSearchOrder(LauncherSettings.JreSearchOrder))
        out << ";   " << line << "\n";
    ReportStream = &out;
    RuntimeSearchReporter = PrintCandidate;
    char result[MAX_PATH];
    bool found = FindJavaRuntime(result, sizeof(result));
    RuntimeSearchReporter = nullptr;
    if (!found) {
        // The launcher's own message, as its report shows it.
        char needed[128], message[REPORT_TEXT_SIZE]; // texts too long for them are shown cut
        DescribeNeededJava(needed, sizeof(needed));
        FormatText(message, sizeof(message), LauncherSettings.MsgNoJre, needed);
        WCHAR* wide = WidenReport(message);
        out << "not found: " << (wide != nullptr ? std::filesystem::path(wide).u8string() : message) << "\n";
        free(wide);
        return 1;
    }
    char chosen[MAX_PATH];
    length = GetFullPathNameA(result, sizeof(chosen), chosen, NULL);
    out << "found: " << Printable(length > 0 && length < sizeof(chosen) ? chosen : result) << "\n";
    if (FoundJavaHome[0] != 0)
        out << "%JAVA_HOME% in the options: " << Printable(FoundJavaHome, false) << "\n";
    return 0;
}

#else

int FindJavaForLauncher(const std::string& launcherPath, std::ostream& out)
{
    out << "kestrun: the runtime search of " << launcherPath
        << " needs Windows: run kestrun.exe find-java on the machine in question\n";
    return 2;
}

#endif
