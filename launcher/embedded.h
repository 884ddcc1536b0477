// Files embedded in the executable (resource RCDATA 16000): extracted at start into a private folder
// (private_folder.h) under the user's temporary directory, or a service account's folder under
// %ProgramData%, and put on the class path; removed later by a cleanup child.
#pragma once

#include <windows.h>

// String-table identifier of the main class as stored, which names the extraction folder.
#define SETTING_ID_MAIN_CLASS 1184

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
// Puts the extraction folder for the stored main class into folder (MAX_PATH bytes), before the
// private-folder check (which may add a suffix); false after reporting fileAccessFormat with
// "TEMP_PATH" or "ProgramData" (or with the folder when it is too long).
bool GetExtractionFolder(char* folder, const char* scrambledMainClass, const char* fileAccessFormat);
// Starts a hidden copy of the executable that removes the extracted files once this process has ended.
void StartCleanupChild();
// The cleanup child's work: waits up to 5 s for the process parentId to end, then removes the files.
void RunCleanupChild(unsigned long parentId);
