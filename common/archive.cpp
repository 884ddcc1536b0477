#include "archive.h"

#include <string.h>

static uint32_t ReadU32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void WriteU32(unsigned char* p, uint32_t value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

// True when the name up to its first dot, blanks after it dropped, is a device Windows opens in
// every folder ("nul", "Com1.jar", "CON .txt"), in any case.
static bool IsDeviceName(const char* name, size_t length)
{
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "COM#", "LPT#"};
    const char* dot = (const char*)memchr(name, '.', length);
    size_t base = dot != nullptr ? (size_t)(dot - name) : length;
    while (base > 0 && name[base - 1] == ' ')
        base--;
    for (const char* device : devices) {
        size_t i = 0;
        for (; i < base && device[i] != '\0'; i++) {
            char c = name[i] >= 'a' && name[i] <= 'z' ? (char)(name[i] - 32) : name[i];
            if (device[i] == '#' ? c < '1' || c > '9' : c != device[i])
                break;
        }
        if (i == base && device[i] == '\0')
            return true;
    }
    return false;
}

const char* ArchiveNameProblem(const char* name, size_t length)
{
    if (length == 0 || length > ARCHIVE_MAX_NAME)
        return "is empty or longer than 255 bytes";
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || strchr("/\\:*?\"<>|", c) != nullptr)
            return "holds a control character or one of / \\ : * ? \" < > |";
        if (c == '.' && i + 1 < length && name[i + 1] == '.')
            return "holds \"..\"";
    }
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return "ends in a dot or blank, which Windows drops";
    if (IsDeviceName(name, length))
        return "is a Windows device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$)";
    return nullptr;
}

bool IsArchiveEntryName(const char* name, size_t length)
{
    return ArchiveNameProblem(name, length) == nullptr;
}

bool OpenArchive(ArchiveReader* reader, const void* data, size_t size, uint32_t* count)
{
    reader->Pos = (const unsigned char*)data;
    reader->End = reader->Pos + size;
    reader->Remaining = 0;
    *count = 0;
    if (data == nullptr || size < 4)
        return false;
    *count = ReadU32(reader->Pos);
    reader->Remaining = *count;
    reader->Pos += 4;
    return true;
}

ArchiveStatus ReadArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry)
{
    uint32_t remaining = reader->Remaining;
    if (remaining == 0)
        return ARCHIVE_END;
    reader->Remaining = 0; // a damaged entry ends the reading
    size_t left = (size_t)(reader->End - reader->Pos);
    const unsigned char* nul = (const unsigned char*)memchr(reader->Pos, 0, left);
    if (nul == nullptr)
        return ARCHIVE_TRUNCATED;
    size_t nameLength = (size_t)(nul - reader->Pos);
    if (!IsArchiveEntryName((const char*)reader->Pos, nameLength))
        return ARCHIVE_BAD_NAME;
    if (left - nameLength - 1 < 12)
        return ARCHIVE_TRUNCATED;
    const unsigned char* fields = nul + 1;
    uint32_t size = ReadU32(fields + 8);
    if ((size_t)(reader->End - (fields + 12)) < size)
        return ARCHIVE_TRUNCATED;
    entry->Name = (const char*)reader->Pos;
    entry->TimeLow = ReadU32(fields);
    entry->TimeHigh = ReadU32(fields + 4);
    entry->Size = size;
    entry->Data = fields + 12;
    reader->Pos = fields + 12 + size;
    reader->Remaining = remaining - 1;
    return ARCHIVE_ENTRY;
}

bool NextArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry)
{
    return ReadArchiveEntry(reader, entry) == ARCHIVE_ENTRY;
}

size_t ArchiveEntrySize(size_t nameLength, uint32_t dataSize)
{
    return nameLength + 1 + 12 + (size_t)dataSize;
}

size_t WriteArchiveCount(unsigned char* out, size_t outSize, uint32_t count)
{
    if (outSize < 4)
        return 0;
    WriteU32(out, count);
    return 4;
}

size_t WriteArchiveEntry(unsigned char* out, size_t outSize, const char* name, uint32_t timeLow,
                         uint32_t timeHigh, const void* data, uint32_t size)
{
    size_t nameLength = strlen(name);
    size_t total = ArchiveEntrySize(nameLength, size);
    if (!IsArchiveEntryName(name, nameLength) || outSize < total)
        return 0;
    memcpy(out, name, nameLength + 1);
    unsigned char* fields = out + nameLength + 1;
    WriteU32(fields, timeLow);
    WriteU32(fields + 4, timeHigh);
    WriteU32(fields + 8, size);
    if (size > 0)
        memcpy(fields + 12, data, size);
    return total;
}
