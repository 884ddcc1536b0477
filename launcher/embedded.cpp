#include "embedded.h"

#include "report.h"
#include "resource_ids.h"

#include <windows.h>

int ExtractedFileCount = 0;

// Size of the embedded archive resource; 0 when there is none.
static DWORD EmbeddedArchiveSize()
{
    HRSRC resource = FindResourceA(NULL, MAKEINTRESOURCEA(IDR_EMBEDDED_FILES), (LPCSTR)RT_RCDATA);
    return resource == NULL ? 0 : SizeofResource(NULL, resource);
}

void ExtractEmbeddedFiles()
{
    // A resource of at most one byte (the shipped single zero byte) carries no files.
    if (EmbeddedArchiveSize() <= 1)
        return;
    ShowError("Extracting embedded files is not available in this build of the launcher.");
}

void StartCleanupChild()
{
}

void RunCleanupChild(unsigned long parentId)
{
    (void)parentId;
    ShowError("Removing extracted files is not available in this build of the launcher.");
}
