#include "bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>

static std::string Locate(const std::string& file, int line)
{
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

BuildError::BuildError(const std::string& file, int line, const std::string& message)
    : std::runtime_error(Locate(file, line) + ": " + message)
{
}

uint16_t ReadU16(const Bytes& bytes, size_t offset)
{
    if (offset > bytes.size() || bytes.size() - offset < 2)
        throw std::out_of_range("read past the end");
    return (uint16_t)(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t ReadU32(const Bytes& bytes, size_t offset)
{
    return ReadU16(bytes, offset) | ((uint32_t)ReadU16(bytes, offset + 2) << 16);
}

void WriteU16(Bytes& bytes, size_t offset, uint16_t value)
{
    bytes.at(offset) = (uint8_t)value;
    bytes.at(offset + 1) = (uint8_t)(value >> 8);
}

void WriteU32(Bytes& bytes, size_t offset, uint32_t value)
{
    WriteU16(bytes, offset, (uint16_t)value);
    WriteU16(bytes, offset + 2, (uint16_t)(value >> 16));
}

void AppendU16(Bytes& bytes, uint16_t value)
{
    bytes.push_back((uint8_t)value);
    bytes.push_back((uint8_t)(value >> 8));
}

void AppendU32(Bytes& bytes, uint32_t value)
{
    AppendU16(bytes, (uint16_t)value);
    AppendU16(bytes, (uint16_t)(value >> 16));
}

void PadTo(Bytes& bytes, size_t alignment)
{
    while (bytes.size() % alignment != 0)
        bytes.push_back(0);
}

uint32_t AlignUp(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

uint64_t FileSize(const std::string& path)
{
    std::error_code error;
    uint64_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    if (error)
        throw BuildError(path, 0, "cannot open the file");
    return size;
}

Bytes ReadWholeFile(const std::string& path)
{
    std::error_code error; // a pipe has no size and is read as it comes
    if (std::filesystem::file_size(std::filesystem::u8path(path), error) > PE_MAX_BYTES && !error)
        throw BuildError(path, 0, "the file is larger than the " + std::to_string(PE_MAX_BYTES) +
                                      " bytes a Windows executable's 32-bit sizes can hold");
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        throw BuildError(path, 0, "cannot open the file");
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw BuildError(path, 0, "cannot read the file");
    return bytes;
}
