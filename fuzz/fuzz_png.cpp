// The PNG reader: a picture read has the size its header gives, within the limits, and written back
// and read again gives the same pixels; anything else is a BuildError.
#include "png.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes bytes(data, data + size);
    Picture picture;
    try {
        picture = DecodePng(bytes, "picture.png");
    } catch (const BuildError&) {
        return 0;
    }
    uint32_t width, height;
    FAULT_IF(!ReadPngSize(bytes, width, height) || picture.Width != width || picture.Height != height ||
             (uint64_t)width * height > PNG_MAX_PIXELS || picture.Rgba.size() != (size_t)width * height * 4);
    Picture again = DecodePng(EncodePng(picture), "again.png");
    FAULT_IF(again.Width != width || again.Height != height || again.Rgba != picture.Rgba);
    return 0;
}
