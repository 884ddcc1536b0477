// JPEG pictures for the splash: baseline and extended sequential Huffman JPEG, 8 bits, grey or YCbCr,
// read by the builder's own decoder.
#pragma once

#include "png.h"

// True when the bytes begin with a JPEG start-of-image marker and another marker.
bool IsJpeg(const Bytes& data);
// Decodes a JPEG into opaque pixels. Throws BuildError naming path when the frame is over the PNG
// limits, when the picture is progressive, arithmetic-coded, lossless, 12-bit or CMYK (saying to save
// it as a baseline JPEG, PNG or GIF), and when the file is damaged or cut short.
Picture DecodeJpeg(const Bytes& jpeg, const std::string& path);
