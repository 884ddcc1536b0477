// Files embedded in the executable (resource RCDATA 16000): extracted at start into a folder under
// the user's temporary directory and put on the class path; removed later by a cleanup child.
#pragma once

/* embedded.cpp */

// Number of entries of the embedded archive; 0 until an archive is found.
extern int ExtractedFileCount;

// Extracts the embedded files, skipping unchanged ones, and extends ClassPath with them.
void ExtractEmbeddedFiles();
// Starts a hidden copy of the executable that removes the extracted files once this process has ended.
void StartCleanupChild();
// The cleanup child's work: waits up to 5 s for the process parentId to end, then removes the files.
void RunCleanupChild(unsigned long parentId);
