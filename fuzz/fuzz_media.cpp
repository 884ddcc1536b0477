// The builder's readers of BMP, GIF, JPEG and ICO files and of the resources `kestrun show` describes: a
// bitmap resource made must describe itself, a GIF read has its screen's size within the limits, a JPEG
// read is opaque and within them, an icon group made must list its icons (or a BuildError).
#include "gif.h"
#include "jpeg.h"
#include "resources.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes bytes(data, data + size);
    int32_t width, height;
    uint16_t bits;
    IconGroupIds(bytes);
    ReadVersionStrings(bytes);
    DescribeBitmap(bytes, width, height, bits);
    try {
        FAULT_IF(!DescribeBitmap(MakeBitmapResource(bytes, "splash.bmp"), width, height, bits));
    } catch (const BuildError&) {}
    try {
        Picture gif = DecodeGif(bytes, "splash.gif");
        FAULT_IF(gif.Width != (uint32_t)(bytes[6] | bytes[7] << 8) || gif.Height != (uint32_t)(bytes[8] | bytes[9] << 8) ||
                 (uint64_t)gif.Width * gif.Height > PNG_MAX_PIXELS || gif.Rgba.size() != (size_t)gif.Width * gif.Height * 4);
    } catch (const BuildError&) {}
    try {
        Picture jpeg = DecodeJpeg(bytes, "splash.jpg");
        FAULT_IF((uint64_t)jpeg.Width * jpeg.Height > PNG_MAX_PIXELS || jpeg.Rgba.size() != (size_t)jpeg.Width * jpeg.Height * 4 ||
                 jpeg.Rgba[3] != 255);
    } catch (const BuildError&) {}
    try {
        std::vector<IconImage> images = ReadIconFile(bytes, "app.ico");
        std::vector<uint16_t> ids(images.size());
        for (size_t i = 0; i < ids.size(); i++)
            ids[i] = (uint16_t)(i + 1);
        FAULT_IF(IconGroupIds(MakeIconGroup(images, ids)) != ids);
    } catch (const BuildError&) {}
    return 0;
}
