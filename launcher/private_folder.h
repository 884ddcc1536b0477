// Folders that only the current user (with SYSTEM and Administrators) can write: where embedded files
// are extracted, checked before use so that a folder planted by someone else, or a link in its place,
// is never written through or deleted from.
#pragma once

#include <windows.h>

#include <stddef.h>

/* private_folder.cpp */

// Bytes of a TOKEN_USER with the longest SID.
#define USER_SID_BUFFER_SIZE (SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER))

// The process's user SID, in buffer (size bytes, at least USER_SID_BUFFER_SIZE); null when it cannot be read.
PSID GetUserSid(BYTE* buffer, DWORD size);

// True when sd's owner is user, SYSTEM or Administrators and its DACL lets no one else write.
bool IsPrivateSecurity(PSECURITY_DESCRIPTOR sd, PSID user);
// Puts programData\Kestrun-ACCOUNT into folder for LocalSystem, LocalService and NetworkService;
// false for any other account, or when it does not fit size bytes.
bool GetServiceAccountFolder(PSID user, const char* programData, char* folder, size_t size);
// Puts the folder that holds extraction folders, with a closing backslash, into base (MAX_PATH + 1
// bytes): the temporary directory, or for a service account a private folder under %ProgramData%.
// False after reporting fileAccessFormat with "TEMP_PATH" or the folder.
bool GetPrivateBase(char* base, const char* fileAccessFormat);
// Turns folder (MAX_PATH bytes) into the first of folder, folder-1 ... folder-9 that is a private
// folder, not a link: an existing one is checked, a missing one is created private when create is set.
// *held keeps it open so that it cannot be renamed or replaced (NULL for a folder that could not be
// made: writing into it then fails). False when there is none (create unset), or when every candidate
// is someone else's, reported with fileAccessFormat unless that is NULL.
bool UsePrivateFolder(char* folder, bool create, const char* fileAccessFormat, HANDLE* held);
