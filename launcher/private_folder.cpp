#include "private_folder.h"

#include "format.h"
#include "machine_text.h"
#include "report.h"

#include <aclapi.h>
#include <sddl.h>
#include <string.h>

// Rights that change a folder, its contents or who may do so.
static const DWORD WriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                 FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                 GENERIC_ALL;

// Accounts a private folder may belong to or be written by, besides the user: SYSTEM, Administrators.
static bool IsTrustedSid(PSID sid, PSID user)
{
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// True when the entry grants write to no one outside the trusted accounts. Entries that only pass on
// to children and denying entries grant nothing here; entry kinds a folder should not carry fail.
static bool IsTrustedEntry(const ACE_HEADER* header, PSID user)
{
    if (header->AceFlags & INHERIT_ONLY_ACE)
        return true;
    switch (header->AceType) {
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        return true;
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        const ACCESS_ALLOWED_ACE* allowed = (const ACCESS_ALLOWED_ACE*)header;
        return (allowed->Mask & WriteRights) == 0 || IsTrustedSid((PSID)&allowed->SidStart, user);
    }
    default:
        return false;
    }
}

bool IsPrivateSecurity(PSECURITY_DESCRIPTOR sd, PSID user)
{
    PSID owner = NULL;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || owner == NULL || !IsTrustedSid(owner, user) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || dacl == NULL)
        return false;  // no DACL at all lets everyone in
    for (DWORD index = 0; index < dacl->AceCount; index++) {
        void* header = NULL;
        if (!GetAce(dacl, index, &header) || !IsTrustedEntry((const ACE_HEADER*)header, user))
            return false;
    }
    return true;
}

bool GetServiceAccountFolder(PSID user, const char* programData, char* folder, size_t size)
{
    static const struct { WELL_KNOWN_SID_TYPE Type; const char* Name; } accounts[] = {
        {WinLocalSystemSid, "SYSTEM"},
        {WinLocalServiceSid, "LocalService"},
        {WinNetworkServiceSid, "NetworkService"},
    };
    for (const auto& account : accounts)
        if (IsWellKnownSid(user, account.Type))
            return FormatText(folder, size, "%s\\Kestrun-%s", programData, account.Name);
    return false;
}

PSID GetUserSid(BYTE* buffer, DWORD size)
{
    HANDLE token = NULL;
    DWORD needed = 0;
    bool ok = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, buffer, size, &needed);
    if (token != NULL)
        CloseHandle(token);
    return ok ? ((TOKEN_USER*)buffer)->User.Sid : NULL;
}

// Creates folder with a DACL of its own (nothing inherited) for the user, SYSTEM and Administrators.
// Failure is not reported: the check that follows, or the first write into it, says what is wrong.
static void CreatePrivateFolder(const char* folder, PSID user)
{
    char* userText = NULL;
    char sddl[256];  // holds the longest SID's text; a SID that did not fit would create nothing
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (ConvertSidToStringSidA(user, &userText) &&
        FormatText(sddl, sizeof(sddl), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)", userText) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, NULL))
        CreateDirectoryA(folder, &attributes);
    LocalFree(attributes.lpSecurityDescriptor);
    LocalFree(userText);
}

// True for a folder that is no link or junction (INVALID_FILE_ATTRIBUTES has every bit set: false).
static bool IsPlainFolder(DWORD attributes)
{
    return (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_DIRECTORY;
}

// Opens folder itself (never what a link names) when it is a private folder of the user; NULL
// otherwise, with *missing set when there is nothing at that path. The path's attributes are read as
// well as the handle's: Wine shows a link as one only in the former.
static HANDLE OpenIfPrivate(const char* folder, PSID user, bool* missing)
{
    DWORD attributes = GetFileAttributesA(folder);
    DWORD error = GetLastError();
    *missing = attributes == INVALID_FILE_ATTRIBUTES &&
               (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
    if (!IsPlainFolder(attributes))
        return NULL;
    // No delete sharing: while this handle is open the folder cannot be renamed or replaced.
    HANDLE handle = CreateFileA(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE)
        return NULL;
    BY_HANDLE_FILE_INFORMATION information;
    PSECURITY_DESCRIPTOR sd = NULL;
    bool private_ = GetFileInformationByHandle(handle, &information) && IsPlainFolder(information.dwFileAttributes) &&
                    GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                    NULL, NULL, NULL, NULL, &sd) == ERROR_SUCCESS &&
                    IsPrivateSecurity(sd, user);
    LocalFree(sd);
    if (!private_) {
        CloseHandle(handle);
        return NULL;
    }
    return handle;
}

bool UsePrivateFolder(char* folder, bool create, const char* fileAccessFormat, HANDLE* held)
{
    BYTE userBuffer[USER_SID_BUFFER_SIZE];
    PSID user = GetUserSid(userBuffer, sizeof(userBuffer));
    char candidate[MAX_PATH];
    for (int attempt = 0; user != NULL && attempt < 10; attempt++) {
        // A candidate that does not fit is skipped: a cut path names some other folder.
        if (!FormatText(candidate, sizeof(candidate), attempt == 0 ? "%s" : "%s-%d", folder, attempt))
            continue;
        if (create)
            CreatePrivateFolder(candidate, user);
        bool missing = false;
        *held = OpenIfPrivate(candidate, user, &missing);
        if (*held != NULL || missing) {
            // A missing folder is no one else's either: writing into it fails and is reported.
            FormatText(folder, MAX_PATH, "%s", candidate);
            return *held != NULL || create;
        }
    }
    SetLastError(user == NULL ? GetLastError() : ERROR_ACCESS_DENIED);
    if (fileAccessFormat != NULL)
        ShowErrorWithReason(fileAccessFormat, folder);
    return false;
}

// The temporary directory, in the ANSI code page, with a closing backslash.
static bool GetTempBase(char* base, const char* fileAccessFormat)
{
    WCHAR wideTemp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, wideTemp);
    if (length == 0 || length > MAX_PATH) {
        // A longer temporary path (the call then returns the size it needs) is not used cut.
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason(fileAccessFormat, "TEMP_PATH");
        return false;
    }
    // The folder's path goes on the class path, which the runtime reads in the ANSI code page.
    return MakeAnsiPathOrReport(wideTemp, base, MAX_PATH + 1);
}

// The service account's own folder under %ProgramData%, made private if missing; see GetPrivateBase.
static bool GetServiceBase(PSID user, char* base, const char* fileAccessFormat)
{
    WCHAR wideData[MAX_PATH];
    char programData[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"ProgramData", wideData, MAX_PATH);
    // A longer ProgramData (the call then returns the size it needs) is not used cut.
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(length == 0 ? ERROR_ENVVAR_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason(fileAccessFormat, "ProgramData");
        return false;
    }
    if (!MakeAnsiPathOrReport(wideData, programData, sizeof(programData)))
        return false;
    if (!GetServiceAccountFolder(user, programData, base, MAX_PATH - 1)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason(fileAccessFormat, programData);
        return false;
    }
    // Held until the process ends, so that the folder stays the one checked.
    HANDLE held = NULL;
    if (!UsePrivateFolder(base, true, fileAccessFormat, &held))
        return false;
    size_t end = strlen(base);
    base[end] = '\\';  // fits: base holds MAX_PATH + 1 bytes, the folder at most MAX_PATH - 1
    base[end + 1] = '\0';
    return true;
}

bool GetPrivateBase(char* base, const char* fileAccessFormat)
{
    BYTE userBuffer[USER_SID_BUFFER_SIZE];
    PSID user = GetUserSid(userBuffer, sizeof(userBuffer));
    char unused[MAX_PATH];
    // A service account never falls back on the temporary directory (C:\Windows\Temp for these
    // accounts, which every local user can write).
    if (user != NULL && GetServiceAccountFolder(user, "", unused, sizeof(unused)))
        return GetServiceBase(user, base, fileAccessFormat);
    return GetTempBase(base, fileAccessFormat);
}
