// The embedded-file archive (RCDATA 16000): a packed little-endian sequence of a 32-bit entry count,
// then per entry a NUL-terminated name, a FILETIME (low word, high word), a 32-bit size and the
// bytes. Written by the builder, read by the launcher. Portable: no Windows headers, no exceptions.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Longest entry name the launcher accepts, in bytes without the NUL (its name buffer holds 272).
#define ARCHIVE_MAX_NAME 255

// One entry as found in the archive; Name and Data point into the archive's bytes.
struct ArchiveEntry {
    const char* Name;          // NUL-terminated, inside the archive
    uint32_t TimeLow;          // FILETIME, low 32 bits
    uint32_t TimeHigh;         // FILETIME, high 32 bits
    uint32_t Size;             // data size in bytes
    const unsigned char* Data; // Size bytes, inside the archive
};

// Walks an archive entry by entry; every length is checked against the archive's end.
struct ArchiveReader {
    const unsigned char* Pos; // next entry
    const unsigned char* End; // one past the archive's last byte
    uint32_t Remaining;       // entries not yet read
};

// Starts reading; *count gets the entry count. False for an archive of at most one byte (no files)
// or one too short to hold its count; the reader then yields nothing.
bool OpenArchive(ArchiveReader* reader, const void* data, size_t size, uint32_t* count);
// What reading the next entry found.
enum ArchiveStatus {
    ARCHIVE_ENTRY,     // an entry, in *entry
    ARCHIVE_END,       // all entries of the count were read
    ARCHIVE_TRUNCATED, // the entry's name, fields or data run past the archive's end
    ARCHIVE_BAD_NAME,  // the entry's name is not a valid entry name (see IsArchiveEntryName)
};

// Reads the next entry. After anything but ARCHIVE_ENTRY the reader stays where the entry began
// and yields nothing more.
ArchiveStatus ReadArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry);
// ReadArchiveEntry as a flag: false at the end and for a damaged entry alike.
bool NextArchiveEntry(ArchiveReader* reader, ArchiveEntry* entry);
// Bytes one entry takes: name, NUL, FILETIME, size, data.
size_t ArchiveEntrySize(size_t nameLength, uint32_t dataSize);
// Writes the 4-byte count at out (outSize bytes). Bytes written, or 0 when it does not fit.
size_t WriteArchiveCount(unsigned char* out, size_t outSize, uint32_t count);
// Writes one entry at out (outSize bytes). Bytes written, or 0 when it does not fit or the name is
// not a valid entry name (see NextArchiveEntry).
size_t WriteArchiveEntry(unsigned char* out, size_t outSize, const char* name, uint32_t timeLow,
                         uint32_t timeHigh, const void* data, uint32_t size);
// Why name cannot be an entry name, or null when it can: a plain file name that stays inside the
// folder it is joined to and names a file there: 1 to ARCHIVE_MAX_NAME bytes, no "..", no control
// character, none of / \ : * ? " < > |, not ending in '.' or ' ' (Windows would drop those, naming
// another file), and not a device name with or without extension (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, CONIN$, CONOUT$, in any case), which Windows opens in place of a file.
const char* ArchiveNameProblem(const char* name, size_t length);
// True when ArchiveNameProblem finds nothing.
bool IsArchiveEntryName(const char* name, size_t length);
