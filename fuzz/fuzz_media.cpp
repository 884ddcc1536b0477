// The builder's readers of the files a config names: BMP (splash), ICO (icon); and the readers of
// the resources `kestrun show` describes. A BuildError is the expected answer to a bad file.
#include "bytes.h"
#include "resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes bytes(data, data + size);
    try {
        Bytes resource = MakeBitmapResource(bytes, "splash.bmp");
        int32_t width, height;
        uint16_t bits;
        if (!DescribeBitmap(resource, width, height, bits))
            abort();
    } catch (const BuildError&) {
    }
    try {
        std::vector<IconImage> images = ReadIconFile(bytes, "app.ico");
        std::vector<uint16_t> ids;
        for (size_t i = 0; i < images.size(); i++)
            ids.push_back((uint16_t)(i + 1));
        if (IconGroupIds(MakeIconGroup(images, ids)) != ids)
            abort();
    } catch (const BuildError&) {
    }
    IconGroupIds(bytes);
    ReadVersionStrings(bytes);
    int32_t width, height;
    uint16_t bits;
    DescribeBitmap(bytes, width, height, bits);
    return 0;
}
