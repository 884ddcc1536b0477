#include "png.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

// The decoder takes its memory from a budget, so that a small file whose compressed data expands
// without end (the decoder grows its output for data past the picture's end) fails instead.
namespace {

const size_t DECODE_BUDGET = 256u << 20; // bytes the decoder may hold at once
const size_t BLOCK_HEADER = 16;          // the block's size, keeping the block 16-byte aligned
size_t DecodeHeld = 0;                   // bytes the decoder holds now

void* BudgetMalloc(size_t size)
{
    if (size > DECODE_BUDGET - DecodeHeld)
        return nullptr;
    char* block = (char*)malloc(size + BLOCK_HEADER);
    if (block == nullptr)
        return nullptr;
    memcpy(block, &size, sizeof(size));
    DecodeHeld += size;
    return block + BLOCK_HEADER;
}

size_t BlockSize(void* p)
{
    size_t size;
    memcpy(&size, (char*)p - BLOCK_HEADER, sizeof(size));
    return size;
}

void BudgetFree(void* p)
{
    if (p == nullptr)
        return;
    DecodeHeld -= BlockSize(p);
    free((char*)p - BLOCK_HEADER);
}

// Old and new blocks are both held while the data moves, as the budget counts them.
void* BudgetRealloc(void* p, size_t size)
{
    if (p == nullptr)
        return BudgetMalloc(size);
    void* larger = BudgetMalloc(size);
    if (larger == nullptr)
        return nullptr;
    memcpy(larger, p, std::min(size, BlockSize(p)));
    BudgetFree(p);
    return larger;
}

} // namespace

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS PNG_MAX_SIDE
#define STBI_MALLOC(size) BudgetMalloc(size)
#define STBI_REALLOC(p, size) BudgetRealloc(p, size)
#define STBI_FREE(p) BudgetFree(p)
#include <stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

uint32_t BigEndian(const Bytes& data, size_t at)
{
    return (uint32_t)data[at] << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
}

// The decoder copies the first data chunk to its buffer before it has one, a null pointer when that
// chunk is empty; empty data chunks carry nothing and are left out, also one whose CRC is cut off. The
// rest of a damaged file (a chunk cut short is the last) is kept as it is, for the decoder to refuse.
Bytes WithoutEmptyDataChunks(const Bytes& png)
{
    Bytes out(png.begin(), png.begin() + 8);
    size_t at = 8;
    for (uint64_t end; at + 8 <= png.size(); at = (size_t)end) {
        end = std::min<uint64_t>(at + 12ull + BigEndian(png, at), png.size());
        if (BigEndian(png, at) != 0 || memcmp(&png[at + 4], "IDAT", 4) != 0)
            out.insert(out.end(), png.begin() + at, png.begin() + (size_t)end);
    }
    out.insert(out.end(), png.begin() + at, png.end());
    return out;
}

} // namespace

bool IsPng(const Bytes& data)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() >= 8 && std::equal(signature, signature + 8, data.begin());
}

bool ReadPngSize(const Bytes& png, uint32_t& width, uint32_t& height)
{
    // The signature, then the first chunk: length, "IHDR", width and height (big-endian).
    if (!IsPng(png) || png.size() < 24 || memcmp(png.data() + 12, "IHDR", 4) != 0)
        return false;
    width = BigEndian(png, 16), height = BigEndian(png, 20);
    return true;
}

Picture DecodePng(const Bytes& png, const std::string& path)
{
    uint32_t width, height;
    if (!ReadPngSize(png, width, height) || png.size() > (size_t)INT32_MAX)
        throw BuildError(path, 0, "not a PNG picture, or its header is cut short");
    if (width == 0 || height == 0)
        throw BuildError(path, 0, "the PNG picture has no pixels");
    if (width > PNG_MAX_SIDE || height > PNG_MAX_SIDE || (uint64_t)width * height > PNG_MAX_PIXELS)
        throw BuildError(path, 0, "the PNG picture's size, " + std::to_string(width) + " x " +
                                      std::to_string(height) + ", is over the limit of " +
                                      std::to_string(PNG_MAX_SIDE) + " pixels a side and " +
                                      std::to_string(PNG_MAX_PIXELS) + " pixels");
    Bytes chunks = WithoutEmptyDataChunks(png);
    int x = 0, y = 0, channels = 0;
    uint8_t* pixels = stbi_load_from_memory(chunks.data(), (int)chunks.size(), &x, &y, &channels, 4);
    if (pixels == nullptr && strcmp(stbi_failure_reason(), "outofmem") == 0)
        throw BuildError(path, 0, "the PNG picture's data expands to more than the " +
                                      std::to_string(DECODE_BUDGET >> 20) + " MB a picture may take");
    if (pixels == nullptr)
        throw BuildError(path, 0, std::string("damaged PNG picture (") + stbi_failure_reason() + ")");
    Picture picture;
    picture.Width = (uint32_t)x, picture.Height = (uint32_t)y;
    picture.Rgba.assign(pixels, pixels + (size_t)x * y * 4);
    stbi_image_free(pixels);
    return picture;
}

Picture ScalePicture(const Picture& picture, uint32_t width, uint32_t height)
{
    Picture scaled;
    scaled.Width = width, scaled.Height = height;
    scaled.Rgba.resize((size_t)width * height * 4);
    if (!stbir_resize_uint8_srgb(picture.Rgba.data(), (int)picture.Width, (int)picture.Height, 0,
                                 scaled.Rgba.data(), (int)width, (int)height, 0, 4, 3, 0))
        throw std::bad_alloc(); // its only failure: no memory for its work
    return scaled;
}

Bytes EncodePng(const Picture& picture)
{
    Bytes out;
    int written = stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            ((Bytes*)context)->insert(((Bytes*)context)->end(), (uint8_t*)data, (uint8_t*)data + size);
        },
        &out, (int)picture.Width, (int)picture.Height, 4, picture.Rgba.data(), (int)picture.Width * 4);
    if (!written)
        throw std::bad_alloc(); // as above
    return out;
}
