// Files embedded in the executable (resource RCDATA 16000): extracted at start into a private folder
// (private_folder.h) named by the application's identity, under the user's temporary directory or a
// service account's folder under %ProgramData%, and put on the class path; removed later by a cleanup
// child.
#pragma once

#include <windows.h>

// String-table identifier of the main class as stored, which names the extraction folder.
#define SETTING_ID_MAIN_CLASS 1184
// Length of an application identity: 16 hex digits, 64 bits of the builder's hash.
#define APPLICATION_ID_LENGTH 16

/* embedded.cpp */

// Number of entries of the embedded archive; 0 until an archive has been found intact.
extern int ExtractedFileCount;
// The extracted files' paths, each followed by ';', for the class path; null until extracted.
extern char* ExtractedClassPath;

// Extracts the embedded files, skipping unchanged ones, and lists them in ExtractedClassPath.
void ExtractEmbeddedFiles();
// ExtractEmbeddedFiles for an archive of size bytes at data (at most one byte: no files). Every entry
// is checked before anything is written; false after a reported failure, ExtractedClassPath then unchanged.
bool ExtractArchiveFiles(const void* data, DWORD size);
// The name of the application's extraction folder and single-instance mutex, into name (size bytes):
// "kestrun-" and the identity id when it is one, else fallback (a launcher built without an identity
// keeps the main class's names). False when it does not fit.
bool MakeApplicationName(char* name, size_t size, const char* id, const char* fallback);
// Puts the extraction folder, the private base (temporary directory or service account's folder) and
// the application's name (the identity id, else the stored main class), into folder (MAX_PATH bytes),
// before the private-folder check (which may add a suffix); false after reporting fileAccessFormat
// with "TEMP_PATH" or "ProgramData" (or with the folder when it is too long).
bool GetExtractionFolder(char* folder, const char* id, const char* scrambledMainClass,
                         const char* fileAccessFormat);
// When files were extracted and RemoveExtractedFiles is on, starts (once a process) a hidden copy of
// the executable that removes them once this process has ended.
void StartCleanupChild();
// The cleanup child's work: waits up to 5 s for the process parentId to end, then removes the files.
void RunCleanupChild(unsigned long parentId);
