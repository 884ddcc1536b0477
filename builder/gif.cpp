#include "gif.h"

#include <cstring>
#include <memory>

namespace {

const uint32_t LZW_CODES = 4096; // codes of at most 12 bits

// The file being read: every byte is taken through Next, which refuses reading past the end.
struct GifReader {
    const Bytes& Data;
    const std::string& Path;
    size_t At;
};

[[noreturn]] void Damaged(const GifReader& r, const std::string& why)
{
    throw BuildError(r.Path, 0, "damaged GIF picture (" + why + ")");
}

uint8_t Next(GifReader& r)
{
    if (r.At >= r.Data.size())
        Damaged(r, "cut short");
    return r.Data[r.At++];
}

uint16_t NextU16(GifReader& r)
{
    uint8_t low = Next(r);
    return (uint16_t)(low | Next(r) << 8);
}

// A colour table of 2^(bits + 1) entries, red, green and blue each.
Bytes ReadColourTable(GifReader& r, uint8_t flags)
{
    Bytes table;
    if (flags & 0x80)
        for (uint32_t i = 0; i < 3u << ((flags & 7) + 1); i++)
            table.push_back(Next(r));
    return table;
}

// The data sub-blocks that follow, joined: each a length byte and that many bytes, to a zero length.
Bytes ReadSubBlocks(GifReader& r)
{
    Bytes joined;
    for (uint8_t length = Next(r); length != 0; length = Next(r)) {
        if (length > r.Data.size() - r.At)
            Damaged(r, "cut short");
        joined.insert(joined.end(), r.Data.begin() + r.At, r.Data.begin() + r.At + length);
        r.At += length;
    }
    return joined;
}

void CheckSize(const std::string& path, const char* what, uint32_t width, uint32_t height)
{
    if (width > PNG_MAX_SIDE || height > PNG_MAX_SIDE || (uint64_t)width * height > PNG_MAX_PIXELS)
        throw BuildError(path, 0, std::string("the GIF picture's ") + what + ", " + std::to_string(width) +
                                      " x " + std::to_string(height) + ", is over the limit of " +
                                      std::to_string(PNG_MAX_SIDE) + " pixels a side and " +
                                      std::to_string(PNG_MAX_PIXELS) + " pixels");
}

// The image's place on the screen, its colours and where its decoded pixels go.
struct GifImage {
    uint32_t Left, Top, Width, Height;
    bool Interlaced;
    Bytes Colours;
    int Transparent; // the transparent colour index, or -1
    std::vector<uint32_t> Rows; // the screen row of each row in the order the data gives them
    uint64_t Done;              // pixels placed so far
};

// The order of an interlaced image's rows: every 8th from 0, every 8th from 4, every 4th from 2,
// then every 2nd from 1.
void OrderRows(GifImage& image)
{
    static const uint32_t starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < (image.Interlaced ? 4 : 1); pass++)
        for (uint32_t y = starts[pass]; y < image.Height; y += image.Interlaced ? steps[pass] : 1)
            image.Rows.push_back(y);
}

// Puts the next pixel of the image on the screen; pixels past the image's last, or off the screen,
// are dropped. A colour past the colour table's end shows black, as a table padded with zeros would.
void PlacePixel(GifImage& image, Picture& screen, uint8_t index)
{
    if (image.Done >= (uint64_t)image.Width * image.Height)
        return;
    uint64_t x = image.Left + image.Done % image.Width, y = image.Top + image.Rows[image.Done / image.Width];
    image.Done++;
    if (x >= screen.Width || y >= screen.Height || index == image.Transparent)
        return;
    uint8_t* px = &screen.Rgba[(y * screen.Width + x) * 4];
    for (int c = 0; c < 3; c++)
        px[c] = 3u * index + c < image.Colours.size() ? image.Colours[3u * index + c] : 0;
    px[3] = 255;
}

// The LZW decoder's table: each code is a shorter code's string (Prefix) and one more byte (Suffix).
struct LzwTable {
    uint16_t Prefix[LZW_CODES];
    uint8_t Suffix[LZW_CODES];
    uint8_t Stack[LZW_CODES]; // a code's string, last byte first
};

// Places code's string and returns its first byte; every prefix is a smaller code, so the walk ends
// within the table's size.
uint8_t PlaceString(LzwTable& t, uint32_t code, uint32_t clear, GifImage& image, Picture& screen)
{
    uint32_t length = 0;
    for (; code >= clear; code = t.Prefix[code])
        t.Stack[length++] = t.Suffix[code];
    t.Stack[length++] = (uint8_t)code;
    for (uint32_t i = length; i-- > 0;)
        PlacePixel(image, screen, t.Stack[i]);
    return (uint8_t)code;
}

// The next code of size bits, packed from the low bit of each byte; false at the data's end.
bool ReadCode(const Bytes& data, uint64_t& bit, uint32_t size, uint32_t& code)
{
    if (bit + size > (uint64_t)data.size() * 8)
        return false;
    code = 0;
    for (uint32_t i = 0; i < size; i++, bit++)
        code |= (uint32_t)(data[bit / 8] >> (bit % 8) & 1) << i;
    return true;
}

// Decodes the image's LZW data onto the screen; a code the table does not hold yet (past the next one,
// or any but a colour after a clear code), or data ending before the image's last pixel, is refused.
void DecodeLzw(GifReader& r, uint8_t minimum, const Bytes& data, GifImage& image, Picture& screen)
{
    if (minimum < 1 || minimum > 8)
        Damaged(r, "LZW code size " + std::to_string(minimum));
    std::unique_ptr<LzwTable> t(new LzwTable());
    const uint32_t clear = 1u << minimum, end = clear + 1;
    uint32_t size = minimum + 1, next = clear + 2, previous = LZW_CODES;
    uint64_t bit = 0;
    uint8_t first = 0; // the first byte of the previous code's string
    for (uint32_t code; ReadCode(data, bit, size, code);) {
        if (code == clear) {
            size = minimum + 1, next = clear + 2, previous = LZW_CODES;
            continue;
        }
        if (code == end)
            break;
        if (code > next || (code >= clear && previous == LZW_CODES))
            Damaged(r, "LZW code " + std::to_string(code) + " out of range");
        if (code == next) { // the previous string and its own first byte, not in the table yet
            PlaceString(*t, previous, clear, image, screen);
            PlacePixel(image, screen, first);
        } else {
            first = PlaceString(*t, code, clear, image, screen);
        }
        if (previous != LZW_CODES && next < LZW_CODES) {
            t->Prefix[next] = (uint16_t)previous, t->Suffix[next] = first;
            if (++next == 1u << size && size < 12)
                size++;
        }
        previous = code;
    }
    if (image.Done < (uint64_t)image.Width * image.Height)
        Damaged(r, "the image data ends before its last pixel");
}

// Reads the image descriptor, its colour table and data, and places it on the screen.
void ReadImage(GifReader& r, const Bytes& global, int transparent, Picture& screen)
{
    GifImage image{};
    image.Left = NextU16(r), image.Top = NextU16(r), image.Width = NextU16(r), image.Height = NextU16(r);
    uint8_t flags = Next(r);
    CheckSize(r.Path, "image", image.Width, image.Height);
    image.Interlaced = (flags & 0x40) != 0, image.Transparent = transparent;
    image.Colours = flags & 0x80 ? ReadColourTable(r, flags) : global;
    if (image.Colours.empty())
        Damaged(r, "the image has no colour table");
    OrderRows(image);
    uint8_t minimum = Next(r);
    DecodeLzw(r, minimum, ReadSubBlocks(r), image, screen);
}

} // namespace

bool IsGif(const Bytes& data)
{
    return data.size() >= 6 && (memcmp(data.data(), "GIF87a", 6) == 0 || memcmp(data.data(), "GIF89a", 6) == 0);
}

// The blocks up to the first image: extensions are skipped, except that the last graphic control
// extension before the image gives its transparent colour.
Picture DecodeGif(const Bytes& gif, const std::string& path)
{
    if (!IsGif(gif))
        throw BuildError(path, 0, "not a GIF picture");
    GifReader r{gif, path, 6};
    Picture screen;
    screen.Width = NextU16(r), screen.Height = NextU16(r);
    uint8_t flags = Next(r);
    r.At += 2; // the background colour and the aspect ratio: the screen shows white
    if (screen.Width == 0 || screen.Height == 0)
        throw BuildError(path, 0, "the GIF picture has no pixels");
    CheckSize(path, "size", screen.Width, screen.Height);
    Bytes global = ReadColourTable(r, flags);
    screen.Rgba.assign((size_t)screen.Width * screen.Height * 4, 0);
    for (int transparent = -1;;) {
        uint8_t block = Next(r);
        if (block == 0x2C) {
            ReadImage(r, global, transparent, screen);
            return screen;
        }
        if (block != 0x21)
            Damaged(r, block == 0x3B ? std::string("no image") : "unknown block " + std::to_string(block));
        uint8_t label = Next(r);
        Bytes body = ReadSubBlocks(r);
        if (label == 0xF9 && body.size() >= 4) // flags, delay (2 bytes), transparent colour index
            transparent = body[0] & 1 ? body[3] : -1;
    }
}
