// The archive reader on any bytes: every entry it yields lies inside the archive with a valid name,
// and the entries read, written again, are the same bytes as in the input.
#include "archive.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unsigned char* copy = (unsigned char*)malloc(size + !size); // exactly sized for AddressSanitizer
    memcpy(copy, data, size);
    ArchiveReader reader;
    ArchiveEntry entry;
    uint32_t count = 0, read = 0;
    OpenArchive(&reader, copy, size, &count);
    std::vector<unsigned char> again(size + 4);
    size_t at = WriteArchiveCount(again.data(), again.size(), 0);
    for (; NextArchiveEntry(&reader, &entry); read++) {
        if ((uint8_t*)entry.Name < copy || entry.Data < copy || entry.Data + entry.Size > copy + size ||
            read >= count || !IsArchiveEntryName(entry.Name, strlen(entry.Name)))
            abort();
        at += WriteArchiveEntry(again.data() + at, again.size() - at, entry.Name, entry.TimeLow, entry.TimeHigh,
                                entry.Data, entry.Size);
    }
    if (read > 0 && memcmp(again.data() + 4, copy + 4, at - 4) != 0)
        abort();
    free(copy);
    return 0;
}
