// Reading a PE image's headers (PE32 and PE32+) and replacing its resource section while keeping
// every other byte of the image as it was.
#pragma once

#include "bytes.h"

#include <string>
#include <vector>

// Data directory indexes used here.
enum { DIR_SECURITY = 4, DIR_RESOURCE = 2, DIR_BASERELOC = 5, DIR_DEBUG = 6 };

struct PeSection {
    std::string Name;        // up to 8 characters
    uint32_t VirtualSize;    // size in memory
    uint32_t VirtualAddress; // RVA of the first byte
    uint32_t RawSize;        // size in the file, a multiple of the file alignment
    uint32_t RawPointer;     // file offset of the first byte
    size_t HeaderOffset;     // file offset of this section's header
};

struct PeImage {
    std::string Path;          // for messages
    Bytes Data;                // the whole file
    bool Is64 = false;         // PE32+ (x64) rather than PE32 (x86)
    uint16_t Machine = 0;      // 0x14C (x86) or 0x8664 (x64)
    size_t FileHeader = 0;     // offset of the COFF file header
    size_t OptionalHeader = 0; // offset of the optional header
    size_t DirectoryTable = 0; // offset of data directory 0
    uint32_t DirectoryCount = 0;
    uint32_t FileAlignment = 0;
    uint32_t SectionAlignment = 0;
    std::vector<PeSection> Sections;
};

struct DataDirectory {
    uint32_t Rva;
    uint32_t Size;
};

// Parses the headers of a PE file; throws BuildError (naming path) when it is not a PE image.
PeImage ParsePeImage(Bytes data, const std::string& path);
// Data directory index, or {0, 0} when the image has fewer directories.
DataDirectory GetDataDirectory(const PeImage& image, int index);
// Index of the section holding rva, or -1.
int FindSectionByRva(const PeImage& image, uint32_t rva);
// Copies size bytes at rva out of the image; throws BuildError when they are not all in the file.
Bytes ReadRva(const PeImage& image, uint32_t rva, uint32_t size);
// The image with its resource section's contents replaced by content (laid out for the section's
// unchanged RVA). Sections that follow the resource section are moved when they hold only the base
// relocations; anything else that follows it is refused. Sizes, directories and checksum are fixed.
Bytes ReplaceResourceSection(const PeImage& image, const Bytes& content);
// The PE checksum of a file whose checksum field is at checksumOffset.
uint32_t ComputePeChecksum(const Bytes& file, size_t checksumOffset);
// Offset of the optional header's CheckSum field.
size_t ChecksumOffset(const PeImage& image);

// The optional header's Subsystem values a launcher can have.
enum { SUBSYSTEM_WINDOWS_GUI = 2, SUBSYSTEM_WINDOWS_CUI = 3 };
// The image's Subsystem field.
uint16_t GetPeSubsystem(const PeImage& image);
// Writes the Subsystem field of file, laid out with image's headers, and makes its checksum right again.
void SetPeSubsystem(Bytes& file, const PeImage& image, uint16_t subsystem);
