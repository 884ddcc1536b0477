// The archive reader on any bytes: every entry it yields lies inside the archive, and a written
// archive of the entries read back gives the same entries.
#include "archive.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly size bytes, so that AddressSanitizer sees any read past the end.
    unsigned char* copy = (unsigned char*)malloc(size ? size : 1);
    if (copy == NULL)
        return 0;
    memcpy(copy, data, size);
    ArchiveReader reader;
    uint32_t count = 0;
    OpenArchive(&reader, copy, size, &count);
    ArchiveEntry entry;
    uint32_t read = 0;
    unsigned char* rewritten = (unsigned char*)malloc(size + 4);
    size_t at = rewritten ? WriteArchiveCount(rewritten, size + 4, 0) : 0;
    while (NextArchiveEntry(&reader, &entry)) {
        const unsigned char* name = (const unsigned char*)entry.Name;
        if (name < copy || entry.Data < copy || entry.Data + entry.Size > copy + size || read >= count)
            abort();
        if (!IsArchiveEntryName(entry.Name, strlen(entry.Name)))
            abort();
        size_t written = WriteArchiveEntry(rewritten + at, size + 4 - at, entry.Name, entry.TimeLow,
                                           entry.TimeHigh, entry.Data, entry.Size);
        if (written != ArchiveEntrySize(strlen(entry.Name), entry.Size))
            abort();
        at += written;
        read++;
    }
    // The entries read, written again, are the same bytes as in the input.
    if (read > 0 && memcmp(rewritten + 4, copy + 4, at - 4) != 0)
        abort();
    free(rewritten);
    free(copy);
    return 0;
}
