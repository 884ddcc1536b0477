// The search methods for the runtimes of today: the Java 9+ and vendor registry keys in both views and
// both hives, JAVA_HOME and a runtime beside the executable. Each method takes the newest candidate
// that passes the version limits and whose jvm.dll the launcher can load.
#include "jre.h"

#include "format.h"
#include "java_version.h"
#include "machine_text.h"
#include "settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN64
WORD RuntimeMachine = IMAGE_FILE_MACHINE_AMD64;
#else
WORD RuntimeMachine = IMAGE_FILE_MACHINE_I386;
#endif
char LauncherFolder[260];

// The newest acceptable candidate of the running method.
static struct {
    bool Found;
    JavaVersionNumber Version;
    char Jvm[260];
    char Home[260];
    char VersionText[64];
    char Source[400];
} Best;

// Where a jvm.dll lies below a home folder, in the order they are tried.
static const char* const HomeJvmPaths[] = {
    "bin\\server\\jvm.dll",     "bin\\client\\jvm.dll", "jre\\bin\\server\\jvm.dll",
    "jre\\bin\\client\\jvm.dll", "bin\\j9vm\\jvm.dll",   "jre\\bin\\j9vm\\jvm.dll",
};

// The registry hives and views searched. HKCU\Software is one key for both views.
struct RegistryView {
    HKEY Root;
    REGSAM View;
    const char* Name;
};
static const RegistryView RegistryViews[] = {
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM64"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM32"},
    {HKEY_CURRENT_USER, 0, "HKCU"},
};

// HOME_VALUES: KEY\<version> holds "JavaHome" and maybe "RuntimeLib".
// MSI_PATH: KEY\<MSI version>\<jvm>\MSI holds "Path", the home.
enum RegistryLayout { LAYOUT_HOME_VALUES, LAYOUT_MSI_PATH };

struct RegistryFamily {
    char Method;
    const char* Key;
    RegistryLayout Layout;
};
static const RegistryFamily RegistryFamilies[] = {
    {'J', "Software\\JavaSoft\\JDK", LAYOUT_HOME_VALUES},
    {'J', "Software\\JavaSoft\\JRE", LAYOUT_HOME_VALUES},
    {'J', "Software\\JavaSoft\\Java Development Kit", LAYOUT_HOME_VALUES},
    {'J', "Software\\JavaSoft\\Java Runtime Environment", LAYOUT_HOME_VALUES},
    {'V', "Software\\Eclipse Adoptium\\JDK", LAYOUT_MSI_PATH},
    {'V', "Software\\Eclipse Adoptium\\JRE", LAYOUT_MSI_PATH},
    {'V', "Software\\Eclipse Foundation\\JDK", LAYOUT_MSI_PATH},
    {'V', "Software\\Eclipse Foundation\\JRE", LAYOUT_MSI_PATH},
    {'V', "Software\\AdoptOpenJDK\\JDK", LAYOUT_MSI_PATH},
    {'V', "Software\\AdoptOpenJDK\\JRE", LAYOUT_MSI_PATH},
    {'V', "Software\\Semeru\\JDK", LAYOUT_MSI_PATH},
    {'V', "Software\\Semeru\\JRE", LAYOUT_MSI_PATH},
    {'V', "Software\\Microsoft\\JDK", LAYOUT_MSI_PATH},
    {'V', "Software\\SapMachine\\JDK", LAYOUT_HOME_VALUES},
    {'V', "Software\\SapMachine\\JRE", LAYOUT_HOME_VALUES},
};

struct MachineName {
    WORD Machine;
    const char* Name;
};
static const MachineName MachineNames[] = {
    {IMAGE_FILE_MACHINE_I386, "x86"},
    {IMAGE_FILE_MACHINE_AMD64, "x64"},
    {0xAA64, "ARM64"},
};

static const char* NameOfMachine(WORD machine)
{
    for (const MachineName& entry : MachineNames)
        if (entry.Machine == machine)
            return entry.Name;
    return "unknown machine";
}

// The machine type in the PE header of the file at path; false when the file is no PE image.
static bool ReadPeMachine(const char* path, WORD* machine)
{
    FILE* file = fopen(path, "rb");
    if (file == NULL)
        return false;
    unsigned char dos[64];
    unsigned char nt[6];
    bool ok = fread(dos, 1, sizeof(dos), file) == sizeof(dos) && dos[0] == 'M' && dos[1] == 'Z';
    long offset = (long)(dos[60] | dos[61] << 8 | dos[62] << 16 | (unsigned)(dos[63] & 0x7F) << 24);
    ok = ok && fseek(file, offset, SEEK_SET) == 0 && fread(nt, 1, sizeof(nt), file) == sizeof(nt) &&
         memcmp(nt, "PE\0\0", 4) == 0;
    fclose(file);
    if (ok)
        *machine = (WORD)(nt[4] | nt[5] << 8);
    return ok;
}

// The JAVA_VERSION of home\release into text; false when there is no such file or value.
static bool ReadReleaseVersion(const char* home, char* text, size_t size)
{
    char path[260];
    static char content[16384];
    if (!FormatText(path, sizeof(path), "%s\\release", home))
        return false;
    FILE* file = fopen(path, "rb");
    if (file == NULL)
        return false;
    size_t length = fread(content, 1, sizeof(content) - 1, file);
    fclose(file);
    content[length] = 0;
    return FindReleaseVersion(content, text, size);
}

// The version a candidate is judged by: its release file's, else its name's. False when neither parses.
static bool CandidateVersion(const char* home, const char* name, char* text, size_t size, JavaVersionNumber* version)
{
    if (ReadReleaseVersion(home, text, size) && ParseJavaVersion(text, version))
        return true;
    return name != NULL && CopyText(text, size, name) && ParseJavaVersion(text, version);
}

// A Java version as people name it: "17", "11.0.2", "8" for 1.8, "1.4" (the "1." was part of the
// name before Java 5); parts past the first that are 0 at the end are left out.
static void NameJavaVersion(const JavaVersionNumber* version, char* text, size_t size)
{
    int count = version->Count;
    while (count > 1 && version->Parts[count - 1] == 0)
        count--;
    size_t used = 0;
    text[0] = 0;
    // A name too long for the buffer is shown cut.
    for (int i = 0; i < count && used < size; i++) {
        const char* format = i > 0 ? ".%u" : version->Parts[0] < 5 ? "1.%u" : "%u";
        FormatText(text + used, size - used, format, version->Parts[i]);
        used += strlen(text + used);
    }
}

// The minimum JavaVersion sets, as people name it.
static void MinimumVersionName(char* text, size_t size)
{
    JavaVersionNumber minimum;
    ReadMinimumJavaVersion(&minimum);
    NameJavaVersion(&minimum, text, size);
}

void DescribeNeededJava(char* text, size_t size)
{
    char minimum[80], maximum[80]; // six numbers of at most ten digits fit
    MinimumVersionName(minimum, sizeof(minimum));
    JavaVersionNumber limit;
    // A text too long for the buffer is shown cut.
    if (LauncherSettings.JavaMaxVersion != NULL && ReadJavaVersionSetting(LauncherSettings.JavaMaxVersion, &limit)) {
        NameJavaVersion(&limit, maximum, sizeof(maximum));
        FormatText(text, size, "Java %s to %s", minimum, maximum);
    } else {
        FormatText(text, size, "Java %s or later", minimum);
    }
}

const char* TooOldVerdict(const char* version, char* verdict, size_t size)
{
    char minimum[80]; // six numbers of at most ten digits fit
    MinimumVersionName(minimum, sizeof(minimum));
    FormatText(verdict, size, "Java %s is older than the Java %s this application needs", version, minimum);
    return verdict;
}

// Null when version (named text) lies within JavaVersion and JavaMaxVersion, else why not (in verdict).
static const char* VersionVerdict(const JavaVersionNumber* version, const char* text, char* verdict, size_t size)
{
    JavaVersionNumber limit;
    ReadMinimumJavaVersion(&limit);
    if (CompareJavaVersions(version, &limit) < 0)
        return TooOldVerdict(text, verdict, size);
    const char* maximum = LauncherSettings.JavaMaxVersion;
    // A maximum that does not parse sets no limit (the builder refuses one).
    if (maximum == NULL || !ReadJavaVersionSetting(maximum, &limit) || JavaVersionWithinMaximum(version, &limit))
        return NULL;
    FormatText(verdict, size, "Java %s is newer than Java %s, the newest this application takes", text, maximum);
    return verdict;
}

// Null when path is a jvm.dll of RuntimeMachine, else why not (in verdict, size bytes).
static const char* JvmVerdict(const char* path, char* verdict, size_t size)
{
    WORD machine;
    if (!ReadPeMachine(path, &machine))
        return "jvm.dll is no Windows DLL";
    if (machine == RuntimeMachine)
        return NULL;
    FormatText(verdict, size, "jvm.dll is %s, the launcher %s", NameOfMachine(machine), NameOfMachine(RuntimeMachine));
    return verdict;
}

// The loadable jvm.dll of a home: runtimeLib when given, then the layouts below the home. False with
// why not in verdict; jvm then names the first file found, or is empty.
static bool LocateJvm(const char* home, const char* runtimeLib, char* jvm, char* verdict, size_t size)
{
    const char* firstWhy = NULL;
    char candidate[260];
    for (int i = -1; i < (int)(sizeof(HomeJvmPaths) / sizeof(HomeJvmPaths[0])); ++i) {
        bool fits = i < 0 ? runtimeLib != NULL && runtimeLib[0] != 0 && CopyText(candidate, sizeof(candidate), runtimeLib)
                          : FormatText(candidate, sizeof(candidate), "%s\\%s", home, HomeJvmPaths[i]);
        if (!fits || !FileExists(candidate))
            continue;
        char why[96];
        const char* problem = JvmVerdict(candidate, why, sizeof(why));
        if (problem == NULL)
            return CopyText(jvm, 260, candidate);
        if (firstWhy == NULL) {
            CopyText(jvm, 260, candidate);
            CopyText(verdict, size, problem);
            firstWhy = verdict;
        }
    }
    if (firstWhy == NULL) {
        jvm[0] = 0;
        CopyText(verdict, size, "no jvm.dll in bin\\server, bin\\client, jre\\bin\\server, jre\\bin\\client or j9vm");
    }
    return false;
}

// Judges one runtime: its version, its jvm.dll, and whether it is newer than the best so far.
// name is the version to fall back on when the home has no release file.
static void ConsiderCandidate(char method, const char* source, const char* rawHome, const char* name,
                              const char* runtimeLib)
{
    char home[260], versionText[64], jvm[260] = "", verdict[200];
    JavaVersionNumber version;
    versionText[0] = 0;
    if (!CopyText(home, sizeof(home), rawHome))
        return ReportCandidate(method, source, rawHome, "", "", "home path too long");
    size_t length = strlen(home);
    // Installers write MSI folders with a trailing backslash; "C:\" keeps its own.
    if (length > 3 && home[length - 1] == '\\')
        home[length - 1] = 0;
    if (!CandidateVersion(home, name, versionText, sizeof(versionText), &version))
        return ReportCandidate(method, source, home, versionText, "", "no version: no release file, no version in its name");
    const char* why = VersionVerdict(&version, versionText, verdict, sizeof(verdict));
    if (why != NULL)
        return ReportCandidate(method, source, home, versionText, "", why);
    if (!LocateJvm(home, runtimeLib, jvm, verdict, sizeof(verdict)))
        return ReportCandidate(method, source, home, versionText, jvm, verdict);
    if (Best.Found && CompareJavaVersions(&version, &Best.Version) <= 0)
        return ReportCandidate(method, source, home, versionText, jvm, "acceptable, but not newer than an earlier one");
    // Each candidate is reported once: the best so far when another passes it, the last one as taken.
    if (Best.Found)
        ReportCandidate(method, Best.Source, Best.Home, Best.VersionText, Best.Jvm,
                        "acceptable, but a newer one was found");
    Best.Found = CopyText(Best.Jvm, sizeof(Best.Jvm), jvm) && CopyText(Best.Home, sizeof(Best.Home), home);
    Best.Version = version;
    CopyText(Best.VersionText, sizeof(Best.VersionText), versionText);
    CopyText(Best.Source, sizeof(Best.Source), source);
}

// The name of subkey index of key into name (size bytes). False at the end of the enumeration; a name
// too long for the buffer comes back empty.
static bool SubkeyName(HKEY key, DWORD index, char* name, DWORD size)
{
    DWORD length = size;
    LONG status = RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL);
    if (status == ERROR_MORE_DATA) {
        name[0] = 0;
        return true;
    }
    return status == ERROR_SUCCESS;
}

// KEY\<version> with "JavaHome" and maybe "RuntimeLib" (JavaSoft, SapMachine).
static void CollectHomeValues(char method, HKEY key, const char* where)
{
    char name[257], home[260], runtimeLib[260], source[400];
    for (DWORD index = 0; SubkeyName(key, index, name, sizeof(name)); ++index) {
        if (name[0] == 0 || !FormatText(source, sizeof(source), "%s\\%s", where, name))
            continue;
        if (RegistryReadString(key, name, "JavaHome", home, sizeof(home)) != 0) {
            ReportCandidate(method, source, "", name, "", "no JavaHome text (or one too long)");
            continue;
        }
        if (RegistryReadString(key, name, "RuntimeLib", runtimeLib, sizeof(runtimeLib)) != 0)
            runtimeLib[0] = 0;
        ConsiderCandidate(method, source, home, name, runtimeLib);
    }
}

// KEY\<MSI version>\<jvm>\MSI with "Path" (the Adoptium installer's layout).
static void CollectMsiPaths(char method, HKEY key, const char* where)
{
    char version[257], jvm[257], msiKey[520], home[260], source[400];
    for (DWORD index = 0; SubkeyName(key, index, version, sizeof(version)); ++index) {
        HKEY versionKey;
        if (version[0] == 0 || RegOpenKeyExA(key, version, 0, KEY_READ, &versionKey) != ERROR_SUCCESS)
            continue;
        for (DWORD inner = 0; SubkeyName(versionKey, inner, jvm, sizeof(jvm)); ++inner) {
            if (jvm[0] == 0 || !FormatText(msiKey, sizeof(msiKey), "%s\\MSI", jvm) ||
                !FormatText(source, sizeof(source), "%s\\%s\\%s", where, version, msiKey))
                continue;
            if (RegistryReadString(versionKey, msiKey, "Path", home, sizeof(home)) == 0)
                ConsiderCandidate(method, source, home, version, "");
            else
                ReportCandidate(method, source, "", version, "", "no Path text (or one too long)");
        }
        RegCloseKey(versionKey);
    }
}

// Methods 'J' and 'V': every family of the method, in every hive and view.
static void CollectRegistry(char method)
{
    char where[300];
    for (const RegistryFamily& family : RegistryFamilies) {
        if (family.Method != method)
            continue;
        for (const RegistryView& view : RegistryViews) {
            HKEY key;
            if (RegOpenKeyExA(view.Root, family.Key, 0, KEY_READ | view.View, &key) != ERROR_SUCCESS)
                continue;
            if (FormatText(where, sizeof(where), "%s\\%s", view.Name, family.Key)) {
                if (family.Layout == LAYOUT_HOME_VALUES)
                    CollectHomeValues(method, key, where);
                else
                    CollectMsiPaths(method, key, where);
            }
            RegCloseKey(key);
        }
    }
}

// The last part of a folder path.
static const char* FolderName(const char* path)
{
    const char* slash = strrchr(path, '\\');
    return slash != NULL ? slash + 1 : path;
}

// Method 'E': the folder the environment variable JAVA_HOME names.
static void CollectJavaHomeVariable(char method)
{
    WCHAR wideHome[260];
    char home[260];
    DWORD length = GetEnvironmentVariableW(L"JAVA_HOME", wideHome, 260);
    if (length == 0)
        return ReportCandidate(method, "JAVA_HOME", "", "", "", "not set");
    // GetEnvironmentVariableW returns the size it needs when the value does not fit.
    if (length >= 260)
        return ReportCandidate(method, "JAVA_HOME", "", "", "", "value too long");
    char described[1024]; // a path too long for it is shown cut
    DescribeWideText(wideHome, described, sizeof(described));
    if (GetFileAttributesW(wideHome) == INVALID_FILE_ATTRIBUTES)
        return ReportCandidate(method, "JAVA_HOME", described, "", "", "the folder does not exist");
    // The home reaches the runtime's option strings: by its short name when the code page lacks a character.
    char* narrow = MakeAnsiPath(wideHome);
    bool fits = narrow != NULL && CopyText(home, sizeof(home), narrow);
    free(narrow);
    if (!fits)
        return ReportCandidate(method, "JAVA_HOME", described, "", "", "not in the ANSI code page, and no short name");
    char trimmed[260];
    CopyText(trimmed, sizeof(trimmed), home);
    size_t end = strlen(trimmed);
    if (end > 3 && trimmed[end - 1] == '\\')
        trimmed[end - 1] = 0;
    ConsiderCandidate(method, "JAVA_HOME", home, VersionInFolderName(FolderName(trimmed)), "");
}

// Fills LauncherFolder from the executable's path unless it is set; false when it cannot be.
static bool KnowLauncherFolder()
{
    if (LauncherFolder[0] != 0)
        return true;
    WCHAR path[260];
    DWORD length = GetModuleFileNameW(NULL, path, 260);
    // GetModuleFileNameW returns the buffer size when it cut the path.
    if (length == 0 || length >= 260)
        return false;
    WCHAR* slash = wcsrchr(path, '\\');
    if (slash == NULL)
        return false;
    *slash = 0;
    // A bundled runtime's paths reach the runtime's option strings: the folder by its short name
    // when the code page lacks a character of it.
    char* narrow = MakeAnsiPath(path);
    bool fits = narrow != NULL && CopyText(LauncherFolder, sizeof(LauncherFolder), narrow);
    free(narrow);
    return fits;
}

// Method 'B': the folder BundledRuntime names, relative to the executable's folder.
static void CollectBundled(char method)
{
    const char* folder = LauncherSettings.BundledRuntime;
    char home[260];
    if (folder == NULL || folder[0] == 0)
        return ReportCandidate(method, "BundledRuntime", "", "", "", "not set");
    if (!KnowLauncherFolder() || !FormatText(home, sizeof(home), "%s\\%s", LauncherFolder, folder))
        return ReportCandidate(method, "BundledRuntime", folder, "", "", "path too long");
    ConsiderCandidate(method, "BundledRuntime", home, VersionInFolderName(FolderName(folder)), "");
}

struct ModernMethod {
    char Character;
    void (*Collect)(char method);
};
static const ModernMethod ModernMethods[] = {
    {'B', CollectBundled},
    {'E', CollectJavaHomeVariable},
    {'J', CollectRegistry},
    {'V', CollectRegistry},
};

bool FindModernRuntime(char method, char* result, size_t size)
{
    for (const ModernMethod& entry : ModernMethods) {
        if (entry.Character != method)
            continue;
        Best.Found = false;
        entry.Collect(method);
        if (Best.Found && !CopyText(result, size, Best.Jvm)) {
            ReportCandidate(method, Best.Source, Best.Home, Best.VersionText, Best.Jvm, "jvm.dll path too long");
            return false;
        }
        if (!Best.Found)
            return false;
        CopyText(FoundJavaHome, sizeof(FoundJavaHome), Best.Home);
        ReportCandidate(method, Best.Source, Best.Home, Best.VersionText, Best.Jvm, "taken");
        return true;
    }
    return false;
}
