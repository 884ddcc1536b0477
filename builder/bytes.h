// Little-endian byte access and the builder's one error type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A failure to report as one line, "file:line: message" (or "file: message" without a line).
struct BuildError : std::runtime_error {
    BuildError(const std::string& file, int line, const std::string& message);
};

// Reads a 16-bit little-endian value at offset; throws std::out_of_range past the end.
uint16_t ReadU16(const Bytes& bytes, size_t offset);
// Reads a 32-bit little-endian value at offset; throws std::out_of_range past the end.
uint32_t ReadU32(const Bytes& bytes, size_t offset);
// Writes a 16-bit little-endian value at offset (which must be inside bytes).
void WriteU16(Bytes& bytes, size_t offset, uint16_t value);
// Writes a 32-bit little-endian value at offset (which must be inside bytes).
void WriteU32(Bytes& bytes, size_t offset, uint32_t value);
// Appends a 16-bit little-endian value.
void AppendU16(Bytes& bytes, uint16_t value);
// Appends a 32-bit little-endian value.
void AppendU32(Bytes& bytes, uint32_t value);
// Appends zero bytes until the size is a multiple of alignment.
void PadTo(Bytes& bytes, size_t alignment);
// Rounds value up to a multiple of alignment (alignment > 0).
uint32_t AlignUp(uint32_t value, uint32_t alignment);
// The most bytes a resource, a section or a whole image can have: the PE format's sizes are 32 bits.
const uint64_t PE_MAX_BYTES = 0xFFFFFFFF;
// The size of a file; throws BuildError (naming the file) when it cannot be found.
uint64_t FileSize(const std::string& path);
// Reads a whole file; throws BuildError (naming the file) when it cannot be read or is larger than
// PE_MAX_BYTES (checked before reading any of it).
Bytes ReadWholeFile(const std::string& path);
