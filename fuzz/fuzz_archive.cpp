// The archive reader on any bytes (libFuzzer's copy is exactly as long, so AddressSanitizer sees a read past
// it): every entry lies inside the archive with a valid name; the entries, written again, are the input's bytes.
#include "archive.h"
#include "fuzz.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ArchiveReader reader;
    ArchiveEntry entry;
    uint32_t count = 0, read = 0;
    OpenArchive(&reader, data, size, &count);
    std::vector<unsigned char> again(size + 4);
    size_t at = WriteArchiveCount(again.data(), again.size(), 0);
    for (; NextArchiveEntry(&reader, &entry); read++) {
        FAULT_IF((const uint8_t*)entry.Name < data || entry.Data < data || entry.Data + entry.Size > data + size ||
                 read >= count || !IsArchiveEntryName(entry.Name, strlen(entry.Name)));
        at += WriteArchiveEntry(again.data() + at, again.size() - at, entry.Name, entry.TimeLow, entry.TimeHigh,
                                entry.Data, entry.Size);
    }
    FAULT_IF(read > 0 && memcmp(again.data() + 4, data + 4, at - 4) != 0);
    return 0;
}
