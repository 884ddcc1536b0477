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

bool IsArchiveEntryName(const char* name, size_t length)
{
    if (length == 0 || length > ARCHIVE_MAX_NAME)
        return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || strchr("/\\:*?\"<>|", c) != nullptr)
            return false;
        if (c == '.' && i + 1 < length && name[i + 1] == '.')
            return false;
    }
    return name[length - 1] != '.' && name[length - 1] != ' ';
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
