#include "pe_image.h"

#include <algorithm>

namespace {

const uint16_t OPTIONAL_MAGIC_PE32 = 0x10B;
const uint16_t OPTIONAL_MAGIC_PE32PLUS = 0x20B;
const uint32_t SCN_INITIALIZED_DATA = 0x40;

[[noreturn]] void Refuse(const PeImage& image, const std::string& why)
{
    throw BuildError(image.Path, 0, why);
}

void ParseSections(PeImage& image, size_t table, uint16_t count)
{
    // The whole table must be in the file: a name is read as 8 bytes at once.
    if (table + 40ull * count > image.Data.size())
        Refuse(image, "the section table runs past the end of the file");
    for (uint16_t i = 0; i < count; i++) {
        size_t at = table + 40u * i;
        PeSection s;
        s.Name.assign((const char*)&image.Data.at(at), 8);
        s.Name = s.Name.c_str();
        s.VirtualSize = ReadU32(image.Data, at + 8);
        s.VirtualAddress = ReadU32(image.Data, at + 12);
        s.RawSize = ReadU32(image.Data, at + 16);
        s.RawPointer = ReadU32(image.Data, at + 20);
        s.HeaderOffset = at;
        if (s.RawSize > 0 && (uint64_t)s.RawPointer + s.RawSize > image.Data.size())
            Refuse(image, "section " + s.Name + " runs past the end of the file");
        image.Sections.push_back(s);
    }
}

// True for a power of two that is at most limit.
bool IsAlignment(uint32_t value, uint32_t limit)
{
    return value != 0 && (value & (value - 1)) == 0 && value <= limit;
}

void ParseHeaders(PeImage& image)
{
    const Bytes& d = image.Data;
    if (d.size() < 64 || d[0] != 'M' || d[1] != 'Z')
        Refuse(image, "not a Windows executable (no MZ header)");
    size_t pe = ReadU32(d, 0x3C);
    if (pe > d.size() - 4 || ReadU32(d, pe) != 0x00004550)
        Refuse(image, "not a PE image (no PE signature)");
    image.FileHeader = pe + 4;
    image.Machine = ReadU16(d, image.FileHeader);
    uint16_t sectionCount = ReadU16(d, image.FileHeader + 2);
    uint16_t optionalSize = ReadU16(d, image.FileHeader + 16);
    image.OptionalHeader = image.FileHeader + 20;
    uint16_t magic = ReadU16(d, image.OptionalHeader);
    if (magic != OPTIONAL_MAGIC_PE32 && magic != OPTIONAL_MAGIC_PE32PLUS)
        Refuse(image, "unknown optional header (neither PE32 nor PE32+)");
    image.Is64 = magic == OPTIONAL_MAGIC_PE32PLUS;
    image.SectionAlignment = ReadU32(d, image.OptionalHeader + 32);
    image.FileAlignment = ReadU32(d, image.OptionalHeader + 36);
    size_t countField = image.OptionalHeader + (image.Is64 ? 108 : 92);
    image.DirectoryCount = ReadU32(d, countField);
    image.DirectoryTable = countField + 4;
    if (image.DirectoryTable + 8ull * image.DirectoryCount > image.OptionalHeader + optionalSize)
        Refuse(image, "data directories run past the optional header");
    // Powers of two, the file's at most 64 KB and the sections' at least that: padding a section to
    // an alignment of gigabytes would run out of memory rather than fail.
    if (!IsAlignment(image.FileAlignment, 0x10000) || !IsAlignment(image.SectionAlignment, 0x1000000) ||
        image.SectionAlignment < image.FileAlignment)
        Refuse(image, "unusable section or file alignment");
    ParseSections(image, image.OptionalHeader + optionalSize, sectionCount);
}

uint32_t SectionSpan(const PeSection& s, uint32_t alignment)
{
    return AlignUp(s.VirtualSize ? s.VirtualSize : s.RawSize, alignment);
}

bool InSection(const PeSection& s, uint32_t rva)
{
    return rva >= s.VirtualAddress && rva - s.VirtualAddress < std::max(s.VirtualSize, s.RawSize);
}

} // namespace

PeImage ParsePeImage(Bytes data, const std::string& path)
{
    PeImage image;
    image.Path = path;
    image.Data = std::move(data);
    try {
        ParseHeaders(image);
    } catch (const std::out_of_range&) {
        Refuse(image, "not a PE image (headers cut short)");
    }
    return image;
}

DataDirectory GetDataDirectory(const PeImage& image, int index)
{
    if ((uint32_t)index >= image.DirectoryCount)
        return {0, 0};
    size_t at = image.DirectoryTable + 8u * index;
    return {ReadU32(image.Data, at), ReadU32(image.Data, at + 4)};
}

int FindSectionByRva(const PeImage& image, uint32_t rva)
{
    for (size_t i = 0; i < image.Sections.size(); i++)
        if (InSection(image.Sections[i], rva))
            return (int)i;
    return -1;
}

Bytes ReadRva(const PeImage& image, uint32_t rva, uint32_t size)
{
    int index = FindSectionByRva(image, rva);
    if (index < 0)
        Refuse(image, "resource data outside every section");
    const PeSection& s = image.Sections[index];
    uint32_t offset = rva - s.VirtualAddress;
    if ((uint64_t)offset + size > s.RawSize)
        Refuse(image, "resource data runs past its section's file data");
    auto first = image.Data.begin() + s.RawPointer + offset;
    return Bytes(first, first + size);
}

// Replacing the resource section.
namespace {

struct Layout {
    int Resource;                   // index of the resource section
    uint32_t OldEnd;                // end of the last section's file data in the original
    std::vector<PeSection> Moved;   // the sections as they will be
};

bool RangeTouches(const PeSection& s, uint32_t rva, uint32_t size)
{
    return size > 0 && InSection(s, rva);
}

void CheckDebugEntries(const PeImage& image, const PeSection& s)
{
    DataDirectory debug = GetDataDirectory(image, DIR_DEBUG);
    if (debug.Size == 0 || FindSectionByRva(image, debug.Rva) < 0)
        return;
    Bytes entries = ReadRva(image, debug.Rva, debug.Size);
    for (size_t at = 0; at + 28 <= entries.size(); at += 28) {
        uint32_t rva = ReadU32(entries, at + 20), pointer = ReadU32(entries, at + 24);
        if (InSection(s, rva) || (pointer >= s.RawPointer && pointer < s.RawPointer + s.RawSize))
            Refuse(image, "debug data in section " + s.Name + " after the resources; cannot move it");
    }
}

// A section after the resources may move only when nothing but the base relocation directory
// points into it: its contents are RVAs of other sections, so it stays valid wherever it lies.
void CheckMovable(const PeImage& image, const PeSection& s)
{
    for (uint32_t i = 0; i < image.DirectoryCount; i++) {
        DataDirectory dir = GetDataDirectory(image, (int)i);
        if (i != DIR_BASERELOC && i != DIR_SECURITY && RangeTouches(s, dir.Rva, dir.Size))
            Refuse(image, "section " + s.Name + " follows the resources and holds data that cannot "
                          "be moved");
    }
    if (GetDataDirectory(image, DIR_BASERELOC).Size == 0 ||
        !InSection(s, GetDataDirectory(image, DIR_BASERELOC).Rva))
        Refuse(image, "section " + s.Name + " follows the resources and is not the relocation "
                      "section; cannot move it");
    CheckDebugEntries(image, s);
}

Layout CheckLayout(const PeImage& image)
{
    DataDirectory dir = GetDataDirectory(image, DIR_RESOURCE);
    int r = dir.Size ? FindSectionByRva(image, dir.Rva) : -1;
    if (r < 0)
        Refuse(image, "the executable has no resources");
    if (image.Sections[r].VirtualAddress != dir.Rva)
        Refuse(image, "the resource directory does not start its section; cannot rebuild it");
    if (GetDataDirectory(image, DIR_SECURITY).Size != 0)
        Refuse(image, "the executable is signed; sign the built launcher instead");
    Layout layout{r, 0, image.Sections};
    for (size_t i = 0; i < image.Sections.size(); i++) {
        const PeSection& s = image.Sections[i];
        layout.OldEnd = std::max(layout.OldEnd, s.RawPointer + s.RawSize);
        bool after = (int)i > r;
        bool ordered = after ? s.VirtualAddress > dir.Rva && (s.RawSize == 0 ||
                                   s.RawPointer >= image.Sections[r].RawPointer)
                             : s.VirtualAddress < dir.Rva && (s.RawSize == 0 ||
                                   s.RawPointer < image.Sections[r].RawPointer);
        if ((int)i != r && !ordered)
            Refuse(image, "sections are not in address order; cannot rebuild the resources");
        if (after)
            CheckMovable(image, s);
    }
    return layout;
}

void AppendSectionData(Bytes& out, const Bytes& data, uint32_t alignment)
{
    out.insert(out.end(), data.begin(), data.end());
    PadTo(out, alignment);
}

// Every size and offset in a PE file is 32 bits: the image with its new resources must end below 4 GB,
// in memory and in the file. Each section from the resources on grows at most by one alignment.
void CheckSizesFit(const PeImage& image, const Layout& layout, const Bytes& content)
{
    uint64_t imageEnd = image.Sections[layout.Resource].VirtualAddress + content.size() + image.SectionAlignment;
    for (size_t i = layout.Resource + 1; i < image.Sections.size(); i++)
        imageEnd += image.SectionAlignment + (uint64_t)SectionSpan(image.Sections[i], 1);
    uint64_t fileEnd = image.Data.size() + content.size() + (uint64_t)image.FileAlignment * image.Sections.size();
    if (imageEnd > PE_MAX_BYTES || fileEnd > PE_MAX_BYTES)
        Refuse(image, "with its resources the launcher would outgrow the " + std::to_string(PE_MAX_BYTES) +
                          " bytes a Windows executable's 32-bit sizes can hold");
}

Bytes LayOut(const PeImage& image, Layout& layout, const Bytes& content)
{
    const PeSection& res = image.Sections[layout.Resource];
    Bytes out(image.Data.begin(), image.Data.begin() + res.RawPointer);
    AppendSectionData(out, content, image.FileAlignment);
    PeSection& newRes = layout.Moved[layout.Resource];
    newRes.VirtualSize = (uint32_t)content.size();
    newRes.RawSize = (uint32_t)(out.size() - res.RawPointer);
    uint32_t nextVa = res.VirtualAddress + SectionSpan(newRes, image.SectionAlignment);
    for (size_t i = layout.Resource + 1; i < image.Sections.size(); i++) {
        const PeSection& old = image.Sections[i];
        PeSection& moved = layout.Moved[i];
        moved.VirtualAddress = nextVa;
        if (old.RawSize > 0) {
            moved.RawPointer = (uint32_t)out.size();
            auto first = image.Data.begin() + old.RawPointer;
            AppendSectionData(out, Bytes(first, first + old.RawSize), image.FileAlignment);
        }
        nextVa += SectionSpan(moved, image.SectionAlignment);
    }
    if (layout.OldEnd < image.Data.size()) // data after the sections (a symbol table) stays last
        out.insert(out.end(), image.Data.begin() + layout.OldEnd, image.Data.end());
    return out;
}

void WriteSectionHeaders(Bytes& out, const Layout& layout)
{
    for (const PeSection& s : layout.Moved) {
        WriteU32(out, s.HeaderOffset + 8, s.VirtualSize);
        WriteU32(out, s.HeaderOffset + 12, s.VirtualAddress);
        WriteU32(out, s.HeaderOffset + 16, s.RawSize);
        WriteU32(out, s.HeaderOffset + 20, s.RawPointer);
    }
}

void FixDirectories(const PeImage& image, Bytes& out, const Layout& layout, uint32_t contentSize)
{
    WriteU32(out, image.DirectoryTable + 8 * DIR_RESOURCE + 4, contentSize);
    DataDirectory relocs = GetDataDirectory(image, DIR_BASERELOC);
    int index = relocs.Size ? FindSectionByRva(image, relocs.Rva) : -1;
    if (index > layout.Resource) {
        uint32_t rva = relocs.Rva - image.Sections[index].VirtualAddress +
                       layout.Moved[index].VirtualAddress;
        WriteU32(out, image.DirectoryTable + 8 * DIR_BASERELOC, rva);
    }
}

void FixSizes(const PeImage& image, Bytes& out, const Layout& layout)
{
    const PeSection& last = layout.Moved.back();
    uint32_t imageSize = last.VirtualAddress + SectionSpan(last, image.SectionAlignment);
    WriteU32(out, image.OptionalHeader + 56, imageSize);
    uint32_t initialized = 0;
    for (const PeSection& s : layout.Moved)
        if (ReadU32(image.Data, s.HeaderOffset + 36) & SCN_INITIALIZED_DATA)
            initialized += s.RawSize;
    WriteU32(out, image.OptionalHeader + 8, initialized);
    uint32_t symbols = ReadU32(image.Data, image.FileHeader + 8);
    if (symbols >= layout.OldEnd)
        WriteU32(out, image.FileHeader + 8, symbols + (uint32_t)out.size() -
                                                (uint32_t)image.Data.size());
}

} // namespace

size_t ChecksumOffset(const PeImage& image)
{
    return image.OptionalHeader + 64;
}

// The Subsystem field follows the checksum in PE32 and PE32+ alike.
uint16_t GetPeSubsystem(const PeImage& image)
{
    return ReadU16(image.Data, image.OptionalHeader + 68);
}

void SetPeSubsystem(Bytes& file, const PeImage& image, uint16_t subsystem)
{
    WriteU16(file, image.OptionalHeader + 68, subsystem);
    WriteU32(file, ChecksumOffset(image), ComputePeChecksum(file, ChecksumOffset(image)));
}

uint32_t ComputePeChecksum(const Bytes& file, size_t checksumOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2)
            continue;
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + file.size());
}

Bytes ReplaceResourceSection(const PeImage& image, const Bytes& content)
{
    Layout layout = CheckLayout(image);
    CheckSizesFit(image, layout, content);
    Bytes out = LayOut(image, layout, content);
    WriteSectionHeaders(out, layout);
    FixDirectories(image, out, layout, (uint32_t)content.size());
    FixSizes(image, out, layout);
    WriteU32(out, ChecksumOffset(image), ComputePeChecksum(out, ChecksumOffset(image)));
    return out;
}
