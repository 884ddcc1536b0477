#include "find_java.h"

#ifdef _WIN32

#include "jre.h"
#include "pe_image.h"
#include "platform.h"
#include "search_order.h"
#include "settings.h"

#include <windows.h>

namespace {

// Where the candidates of the running search are printed.
std::ostream* ReportStream = nullptr;

void PrintCandidate(const RuntimeCandidateReport* report)
{
    std::ostream& out = *ReportStream;
    out << "[" << report->Method << "] " << report->Source;
    if (report->Home[0] != 0)
        out << "\n      home " << report->Home;
    if (report->Version[0] != 0)
        out << "\n      version " << report->Version;
    if (report->Jvm[0] != 0)
        out << "\n      jvm.dll " << report->Jvm;
    out << "\n    " << report->Verdict << "\n";
}

// The launcher's full path and its folder; false when they do not fit the launcher's buffers.
bool LauncherPaths(const std::string& path, char* full, char* folder)
{
    char* namePart = nullptr;
    DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, &namePart);
    if (length == 0 || length >= MAX_PATH || namePart == nullptr || namePart == full)
        return false;
    std::string folderText(full, (size_t)(namePart - full - 1));
    if (folderText.size() >= MAX_PATH)
        return false;
    folderText.copy(folder, folderText.size());
    folder[folderText.size()] = 0;
    return true;
}

} // namespace

int FindJavaForLauncher(const std::string& launcherPath, std::ostream& out)
{
    PeImage image = ParsePeImage(ReadWholeFile(launcherPath), launcherPath);
    char full[MAX_PATH], folder[MAX_PATH];
    if (!LauncherPaths(launcherPath, full, folder)) {
        out << "kestrun: the path of " << launcherPath << " is too long for a launcher\n";
        return 2;
    }
    HMODULE module = LoadLibraryExA(full, NULL, LOAD_LIBRARY_AS_DATAFILE);
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
    std::string(folder).copy(LauncherFolder, sizeof(LauncherFolder) - 1);
    // Relative JvmPath entries are relative to the launcher's folder, its current directory.
    SetCurrentDirectoryA(folder);
    out << "; runtime search of " << full << " (" << (image.Is64 ? "x64" : "x86") << " launcher), order \""
        << LauncherSettings.JreSearchOrder << "\"\n";
    out << "; methods 1 to 4 read the " << (image.Is64 ? "64" : "32") << "-bit registry view, as this launcher does\n";
    for (const std::string& line : DescribeSearchOrder(LauncherSettings.JreSearchOrder))
        out << ";   " << line << "\n";
    ReportStream = &out;
    RuntimeSearchReporter = PrintCandidate;
    char result[MAX_PATH];
    bool found = FindJavaRuntime(result, sizeof(result));
    RuntimeSearchReporter = nullptr;
    if (!found) {
        out << "not found: " << LauncherSettings.MsgNoJre << "\n";
        return 1;
    }
    char chosen[MAX_PATH];
    DWORD length = GetFullPathNameA(result, sizeof(chosen), chosen, NULL);
    out << "found: " << (length > 0 && length < sizeof(chosen) ? chosen : result) << "\n";
    if (FoundJavaHome[0] != 0)
        out << "%JAVA_HOME% in the options: " << FoundJavaHome << "\n";
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
