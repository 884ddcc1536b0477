// PNG pictures for the icon and the splash: reading (any colour type, bit depth and interlacing),
// scaling and writing, through the stb single-header libraries.
#pragma once

#include "bytes.h"

#include <string>

// A picture of 8-bit red, green, blue and alpha values, rows top-down.
struct Picture {
    uint32_t Width = 0, Height = 0;
    Bytes Rgba; // Width * Height * 4 bytes
};

// The largest picture read: a side, and all its pixels (a 4K screen has 8.3 million).
const uint32_t PNG_MAX_SIDE = 8192;
const uint32_t PNG_MAX_PIXELS = 1u << 23;

// True when the bytes begin with the PNG signature.
bool IsPng(const Bytes& data);
// Width and height from the PNG's header chunk; false when it is cut short or not a PNG.
bool ReadPngSize(const Bytes& png, uint32_t& width, uint32_t& height);
// Decodes a PNG; throws BuildError naming path, before decoding anything, when the header gives a
// size over the limits, and when the picture is damaged or needs more memory than the decoder may use.
Picture DecodePng(const Bytes& png, const std::string& path);
// The picture scaled to width x height (in linear light, weighted by alpha).
Picture ScalePicture(const Picture& picture, uint32_t width, uint32_t height);
// The picture as a PNG file (8-bit RGBA, not interlaced).
Bytes EncodePng(const Picture& picture);
