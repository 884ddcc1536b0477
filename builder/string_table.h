// String-table blocks: 16 strings, each stored as a 16-bit length and that many UTF-16 units.
// Setting id lives in block id / 16 + 1 at position id % 16.
#pragma once

#include "bytes.h"

#include <array>
#include <string>

using StringBlock = std::array<std::u16string, 16>;

// Longest string a string-table entry can hold, in UTF-16 units.
const size_t STRING_MAX_UNITS = 65535;

// Resource name (block number) of the block holding string id.
inline uint16_t StringBlockId(int id) { return (uint16_t)(id / 16 + 1); }
// The bytes of a block (every string must be at most STRING_MAX_UNITS long).
Bytes EncodeStringBlock(const StringBlock& block);
// Reads a block; false when the data ends inside a string.
bool DecodeStringBlock(const Bytes& data, StringBlock& block);
