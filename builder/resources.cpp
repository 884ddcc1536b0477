#include "resources.h"

#include "archive.h"
#include "gif.h"
#include "jpeg.h"
#include "png.h"
#include "text.h"

#include <algorithm>

namespace {

[[noreturn]] void Reject(const std::string& path, const std::string& why)
{
    throw BuildError(path, 0, why);
}

bool StartsWith(const Bytes& data, const char* magic, size_t length)
{
    return data.size() >= length && std::equal(data.begin(), data.begin() + length, magic,
                                               [](uint8_t a, char b) { return a == (uint8_t)b; });
}

} // namespace

Bytes MakeArchive(const std::vector<EmbeddedFile>& files)
{
    if (files.empty())
        return Bytes(1, 0);
    size_t total = 4;
    for (const EmbeddedFile& f : files)
        total += ArchiveEntrySize(f.Name.size(), (uint32_t)f.Data.size());
    Bytes out(total);
    size_t at = WriteArchiveCount(out.data(), out.size(), (uint32_t)files.size());
    for (const EmbeddedFile& f : files) {
        size_t written = WriteArchiveEntry(out.data() + at, out.size() - at, f.Name.c_str(),
                                           (uint32_t)f.FileTime, (uint32_t)(f.FileTime >> 32),
                                           f.Data.data(), (uint32_t)f.Data.size());
        if (written == 0)
            throw BuildError(f.Name, 0, "cannot be stored in the archive (name or size)");
        at += written;
    }
    return out;
}

// Bitmaps.
namespace {

struct BitmapLayout {
    uint32_t HeaderSize, Compression, Colors, EntrySize, Masks;
    int32_t Width, Height;
    uint16_t Planes, Bits;
    uint32_t PixelSize;
};

void ReadBitmapHeader(const Bytes& bmp, const std::string& path, BitmapLayout& b)
{
    b.HeaderSize = ReadU32(bmp, 14);
    if (b.HeaderSize == 12) {
        b.Width = ReadU16(bmp, 18), b.Height = ReadU16(bmp, 20);
        b.Planes = ReadU16(bmp, 22), b.Bits = ReadU16(bmp, 24);
        b.Compression = 0, b.EntrySize = 3, b.Masks = 0;
        b.Colors = b.Bits <= 8 ? 1u << b.Bits : 0;
        return;
    }
    if (b.HeaderSize != 40 && b.HeaderSize != 52 && b.HeaderSize != 56 && b.HeaderSize != 108 &&
        b.HeaderSize != 124)
        Reject(path, "unknown BMP header of " + std::to_string(b.HeaderSize) + " bytes");
    b.Width = (int32_t)ReadU32(bmp, 18), b.Height = (int32_t)ReadU32(bmp, 22);
    b.Planes = ReadU16(bmp, 26), b.Bits = ReadU16(bmp, 28);
    b.Compression = ReadU32(bmp, 30);
    uint32_t used = ReadU32(bmp, 46);
    b.Colors = used ? used : (b.Bits <= 8 ? 1u << b.Bits : 0);
    b.EntrySize = 4;
    b.Masks = b.HeaderSize == 40 && b.Compression == 3 ? 12 : 0;
}

void CheckBitmapFormat(const std::string& path, BitmapLayout& b, const Bytes& bmp)
{
    if (b.Compression == 4 || b.Compression == 5)
        Reject(path, std::string("the bitmap holds a ") + (b.Compression == 4 ? "JPEG" : "PNG") +
                         " picture; the splash must be a PNG, GIF or JPEG file or an uncompressed (or RLE) BMP");
    bool bitsOk = b.Bits == 1 || b.Bits == 4 || b.Bits == 8 || b.Bits == 16 || b.Bits == 24 ||
                  b.Bits == 32;
    bool pairOk = b.Compression == 0 || (b.Compression == 1 && b.Bits == 8) ||
                  (b.Compression == 2 && b.Bits == 4) ||
                  (b.Compression == 3 && (b.Bits == 16 || b.Bits == 32));
    if (!bitsOk || !pairOk || b.Planes != 1)
        Reject(path, "unsupported BMP format (" + std::to_string(b.Bits) + " bits per pixel, " +
                         "compression " + std::to_string(b.Compression) + ")");
    if (b.Width <= 0 || b.Height == 0 || b.Width > 32767 || b.Height > 32767 || b.Height < -32767)
        Reject(path, "the bitmap has no usable size");
    if (b.Colors > 256)
        Reject(path, "the bitmap's colour table is too large");
    uint32_t rows = (uint32_t)(b.Height < 0 ? -b.Height : b.Height);
    uint64_t stride = ((uint64_t)b.Width * b.Bits + 31) / 32 * 4;
    b.PixelSize = b.Compression == 1 || b.Compression == 2 ? ReadU32(bmp, 34) : (uint32_t)(stride * rows);
}

// A PNG, GIF or JPEG splash has no transparency on the screen: it is composited onto white and stored as a
// 24-bit bottom-up bitmap.
Bytes BitmapFromPicture(const Picture& p)
{
    uint32_t stride = (p.Width * 3 + 3) / 4 * 4;
    Bytes out;
    for (uint32_t value :
         {40u, p.Width, p.Height, 0x180001u, 0u, stride * p.Height, 2835u, 2835u, 0u, 0u})
        AppendU32(out, value); // the 0x180001: one plane, 24 bits per pixel
    for (uint32_t y = p.Height; y-- > 0;) {
        size_t row = out.size();
        for (uint32_t x = 0; x < p.Width; x++) {
            const uint8_t* px = &p.Rgba[((size_t)y * p.Width + x) * 4];
            for (int c = 2; c >= 0; c--) // blue, green, red
                out.push_back((uint8_t)((px[c] * px[3] + 255 * (255 - px[3]) + 127) / 255));
        }
        out.resize(row + stride, 0);
    }
    return out;
}

} // namespace

Bytes MakeBitmapResource(const Bytes& bmp, const std::string& path)
{
    if (IsPng(bmp))
        return BitmapFromPicture(DecodePng(bmp, path));
    if (IsGif(bmp))
        return BitmapFromPicture(DecodeGif(bmp, path));
    if (IsJpeg(bmp))
        return BitmapFromPicture(DecodeJpeg(bmp, path));
    if (!StartsWith(bmp, "BM", 2) || bmp.size() < 30)
        Reject(path, "neither a BMP, a PNG, a GIF nor a JPEG file");
    BitmapLayout b;
    try {
        ReadBitmapHeader(bmp, path, b);
        CheckBitmapFormat(path, b, bmp);
    } catch (const std::out_of_range&) {
        Reject(path, "the BMP file is cut short");
    }
    uint64_t tableEnd = 14ull + b.HeaderSize + b.Masks + (uint64_t)b.Colors * b.EntrySize;
    uint64_t pixels = ReadU32(bmp, 10);
    if (tableEnd > pixels || pixels + b.PixelSize > bmp.size())
        Reject(path, "the BMP file is cut short or its pixel offset is wrong");
    Bytes out(bmp.begin() + 14, bmp.begin() + (size_t)tableEnd);
    out.insert(out.end(), bmp.begin() + (size_t)pixels, bmp.begin() + (size_t)(pixels + b.PixelSize));
    return out;
}

bool DescribeBitmap(const Bytes& resource, int32_t& width, int32_t& height, uint16_t& bits)
{
    if (resource.size() < 16)
        return false;
    if (ReadU32(resource, 0) == 12) {
        width = ReadU16(resource, 4), height = ReadU16(resource, 6), bits = ReadU16(resource, 10);
        return true;
    }
    width = (int32_t)ReadU32(resource, 4), height = (int32_t)ReadU32(resource, 8);
    bits = ReadU16(resource, 14);
    return true;
}

// Icons.
namespace {

IconImage ReadIconEntry(const Bytes& ico, const std::string& path, size_t at)
{
    IconImage image{ico.at(at), ico.at(at + 1), ico.at(at + 2), ReadU16(ico, at + 4),
                    ReadU16(ico, at + 6), {}};
    uint32_t size = ReadU32(ico, at + 8), offset = ReadU32(ico, at + 12);
    if (size < 8 || (uint64_t)offset + size > ico.size())
        Reject(path, "an icon image lies outside the file");
    image.Data.assign(ico.begin() + offset, ico.begin() + offset + size);
    bool png = StartsWith(image.Data, "\x89PNG\r\n\x1A\n", 8);
    if (!png && ReadU32(image.Data, 0) != 40)
        Reject(path, "an icon image is neither PNG nor a bitmap");
    if (image.BitCount == 0) // many icon files leave these to the image itself
        image.Planes = 1, image.BitCount = png ? 32 : ReadU16(image.Data, 14);
    return image;
}

// A 32-bit icon bitmap: the header (of twice the height), the colours bottom-up, then the AND mask
// that older systems draw with (a set bit: transparent).
Bytes IconBitmap(const Picture& p)
{
    Bytes out;
    for (uint32_t value : {40u, p.Width, p.Height * 2, 0x200001u, 0u, 0u, 0u, 0u, 0u, 0u})
        AppendU32(out, value); // the 0x200001: one plane, 32 bits per pixel
    for (uint32_t y = p.Height; y-- > 0;)
        for (uint32_t x = 0; x < p.Width; x++) {
            const uint8_t* px = &p.Rgba[((size_t)y * p.Width + x) * 4];
            out.insert(out.end(), {px[2], px[1], px[0], px[3]});
        }
    uint32_t stride = (p.Width + 31) / 32 * 4;
    for (uint32_t y = p.Height; y-- > 0;) {
        size_t row = out.size();
        out.resize(row + stride, 0);
        for (uint32_t x = 0; x < p.Width; x++)
            if (p.Rgba[((size_t)y * p.Width + x) * 4 + 3] < 128)
                out[row + x / 8] |= (uint8_t)(0x80 >> (x % 8));
    }
    return out;
}

// The picture centred on a transparent square of the given side (which it fits in).
Picture Centred(const Picture& p, uint32_t side)
{
    uint32_t left = (side - p.Width) / 2, top = (side - p.Height) / 2;
    Picture square;
    square.Width = square.Height = side;
    square.Rgba.assign((size_t)side * side * 4, 0);
    for (uint32_t y = 0; y < p.Height; y++)
        std::copy_n(&p.Rgba[(size_t)y * p.Width * 4], p.Width * 4,
                    &square.Rgba[((size_t)(top + y) * side + left) * 4]);
    return square;
}

// The icon sizes 16, 32, 48 (bitmaps) and 256 (PNG) up to the picture's longer side (a small
// picture is not blown up); a picture of another shape is scaled to fit and centred.
std::vector<IconImage> IconImagesFromPng(const Bytes& png, const std::string& path)
{
    Picture picture = DecodePng(png, path);
    uint32_t side = std::max(picture.Width, picture.Height);
    if (side < 16)
        Reject(path, "the PNG picture is smaller than 16 x 16 pixels, the smallest icon");
    std::vector<IconImage> images;
    for (uint32_t size : {16u, 32u, 48u, 256u}) {
        if (size > side)
            break;
        uint32_t width = std::max(1u, (uint32_t)((uint64_t)picture.Width * size / side));
        uint32_t height = std::max(1u, (uint32_t)((uint64_t)picture.Height * size / side));
        Picture scaled = Centred(size == side ? picture : ScalePicture(picture, width, height), size);
        Bytes data = size == 256 ? EncodePng(scaled) : IconBitmap(scaled);
        images.push_back({(uint8_t)size, (uint8_t)size, 0, 1, 32, data}); // 256 is written 0
    }
    return images;
}

} // namespace

std::vector<IconImage> ReadIconFile(const Bytes& ico, const std::string& path)
{
    if (IsPng(ico))
        return IconImagesFromPng(ico, path);
    if (ico.size() < 6 || ReadU16(ico, 0) != 0 || ReadU16(ico, 2) != 1)
        Reject(path, "neither an icon (.ico) nor a PNG file");
    uint16_t count = ReadU16(ico, 4);
    if (count > ICON_MAX_IMAGES)
        Reject(path, "the icon file lists " + std::to_string(count) + " images, more than " +
                         std::to_string(ICON_MAX_IMAGES));
    if (count == 0 || 6u + 16u * count > ico.size())
        Reject(path, "the icon file lists no images or is cut short");
    std::vector<std::pair<uint32_t, uint32_t>> spans{{0, 6u + 16u * count}}; // the directory, then each image
    for (uint16_t i = 0; i < count; i++)
        spans.push_back({ReadU32(ico, 6 + 16u * i + 12), ReadU32(ico, 6 + 16u * i + 8)});
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); i++)
        if (spans[i].first - spans[i - 1].first < spans[i - 1].second)
            Reject(path, "two icon images overlap, or an image overlaps the icon directory");
    std::vector<IconImage> images;
    try {
        for (uint16_t i = 0; i < count; i++)
            images.push_back(ReadIconEntry(ico, path, 6 + 16u * i));
    } catch (const std::out_of_range&) {
        Reject(path, "the icon file is cut short");
    }
    return images;
}

Bytes MakeIconGroup(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids)
{
    Bytes out;
    AppendU16(out, 0);
    AppendU16(out, 1);
    AppendU16(out, (uint16_t)images.size());
    for (size_t i = 0; i < images.size(); i++) {
        const IconImage& image = images[i];
        out.insert(out.end(), {image.Width, image.Height, image.Colors, 0});
        AppendU16(out, image.Planes);
        AppendU16(out, image.BitCount);
        AppendU32(out, (uint32_t)image.Data.size());
        AppendU16(out, ids[i]);
    }
    return out;
}

std::vector<uint16_t> IconGroupIds(const Bytes& group)
{
    std::vector<uint16_t> ids;
    if (group.size() < 6)
        return ids;
    uint16_t count = ReadU16(group, 4);
    for (uint16_t i = 0; i < count && 6u + 14u * (i + 1) <= group.size(); i++)
        ids.push_back(ReadU16(group, 6 + 14u * i + 12));
    return ids;
}

// Version information: a tree of nodes, each a length, a value length, a type (1 text, 0 binary),
// a UTF-16 key, padding to 4 bytes, the value, padding, and its children.
namespace {

void AppendText(Bytes& out, const std::u16string& text)
{
    for (char16_t c : text)
        AppendU16(out, c);
    AppendU16(out, 0);
}

Bytes VersionNode(const std::u16string& key, const Bytes& value, uint16_t valueLength, uint16_t type,
                  const std::vector<Bytes>& children)
{
    Bytes out(6, 0);
    AppendText(out, key);
    PadTo(out, 4);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo(out, 4);
        out.insert(out.end(), child.begin(), child.end());
    }
    WriteU16(out, 0, (uint16_t)out.size());
    WriteU16(out, 2, valueLength);
    WriteU16(out, 4, type);
    return out;
}

Bytes FixedFileInfo(const uint16_t file[4], const uint16_t product[4])
{
    Bytes out;
    for (uint32_t word : {0xFEEF04BDu, 0x00010000u, (uint32_t)file[0] << 16 | file[1],
                          (uint32_t)file[2] << 16 | file[3], (uint32_t)product[0] << 16 | product[1],
                          (uint32_t)product[2] << 16 | product[3], 0x3Fu, 0u, 0x40004u, 1u, 0u, 0u,
                          0u})
        AppendU32(out, word);
    return out;
}

std::u16string Ascii(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

} // namespace

Bytes MakeVersionInfo(const uint16_t fileVersion[4], const uint16_t productVersion[4],
                      const std::vector<std::pair<std::string, std::u16string>>& strings)
{
    std::vector<Bytes> entries;
    for (const auto& item : strings) {
        Bytes value;
        AppendText(value, item.second);
        entries.push_back(VersionNode(Ascii(item.first), value, (uint16_t)(item.second.size() + 1), 1, {}));
    }
    Bytes table = VersionNode(u"040904B0", {}, 0, 1, entries);
    Bytes stringInfo = VersionNode(u"StringFileInfo", {}, 0, 1, {table});
    Bytes translation;
    AppendU16(translation, 0x0409);
    AppendU16(translation, 1200);
    Bytes var = VersionNode(u"Translation", translation, 4, 0, {});
    Bytes varInfo = VersionNode(u"VarFileInfo", {}, 0, 1, {var});
    return VersionNode(u"VS_VERSION_INFO", FixedFileInfo(fileVersion, productVersion), 52, 0,
                       {stringInfo, varInfo});
}

namespace {

struct VersionNodeView {
    std::u16string Key;
    size_t Value, ValueBytes, Children, End;
};

bool ParseVersionNode(const Bytes& d, size_t at, size_t limit, VersionNodeView& n)
{
    if (at + 6 > limit)
        return false;
    size_t length = ReadU16(d, at), valueLength = ReadU16(d, at + 2), type = ReadU16(d, at + 4);
    n.End = at + length;
    if (length < 6 || n.End > limit)
        return false;
    size_t p = at + 6;
    n.Key.clear();
    for (; p + 2 <= n.End && ReadU16(d, p) != 0; p += 2)
        n.Key.push_back((char16_t)ReadU16(d, p));
    n.Value = AlignUp((uint32_t)(p + 2), 4);
    n.ValueBytes = type == 1 ? 2 * valueLength : valueLength;
    n.Children = AlignUp((uint32_t)(n.Value + n.ValueBytes), 4);
    return n.Value + n.ValueBytes <= n.End;
}

// Calls visit for each child node of parent.
template <typename Visit> void ForEachChild(const Bytes& d, const VersionNodeView& parent, Visit visit)
{
    VersionNodeView child;
    for (size_t at = parent.Children; at < parent.End && ParseVersionNode(d, at, parent.End, child);
         at = AlignUp((uint32_t)child.End, 4))
        visit(child);
}

} // namespace

std::vector<std::pair<std::string, std::string>> ReadVersionStrings(const Bytes& resource)
{
    std::vector<std::pair<std::string, std::string>> strings;
    VersionNodeView root;
    if (!ParseVersionNode(resource, 0, resource.size(), root))
        return strings;
    ForEachChild(resource, root, [&](const VersionNodeView& info) {
        if (info.Key != u"StringFileInfo")
            return;
        ForEachChild(resource, info, [&](const VersionNodeView& table) {
            ForEachChild(resource, table, [&](const VersionNodeView& item) {
                std::u16string value;
                for (size_t p = item.Value; p + 2 <= item.Value + item.ValueBytes; p += 2)
                    if (uint16_t c = ReadU16(resource, p))
                        value.push_back((char16_t)c);
                    else
                        break;
                strings.push_back({Utf16ToUtf8(item.Key), Utf16ToUtf8(value)});
            });
        });
    });
    return strings;
}

Bytes MakeManifest(const std::string& execution, const std::string& dpiAwareness)
{
    std::string dpiAware = dpiAwareness == "none" ? "false" : dpiAwareness == "system" ? "true"
                                                              : "true/pm";
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
        "    <security><requestedPrivileges>\r\n"
        "      <requestedExecutionLevel level=\"" + execution + "\" uiAccess=\"false\"/>\r\n"
        "    </requestedPrivileges></security>\r\n"
        "  </trustInfo>\r\n"
        "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>\r\n"
        "    <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\r\n"
        "    <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\r\n"
        "    <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\r\n"
        "    <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\r\n"
        "  </application></compatibility>\r\n"
        "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>\r\n"
        "    <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">" + dpiAware +
        "</dpiAware>\r\n" +
        (dpiAwareness == "permonitorv2"
             ? "    <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
               "PerMonitorV2, PerMonitor</dpiAwareness>\r\n"
             : std::string()) +
        "  </windowsSettings></application>\r\n"
        "</assembly>\r\n";
    return Bytes(text.begin(), text.end());
}
