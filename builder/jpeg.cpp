#include "jpeg.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Where the k-th coefficient of the zig-zag order sits in a block's rows.
const uint8_t ZIGZAG[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                            41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                            30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A Huffman table: the codes of each length are consecutive from First, their symbols from Index on.
struct Huffman {
    bool Defined;
    uint16_t First[17], Count[17], Index[17];
    uint8_t Symbols[256];
};

struct Component {
    uint8_t Id, H, V, Table; // Table: the quantisation table
    uint8_t Dc, Ac;          // the Huffman tables of the scan being read
    uint32_t BlocksWide, BlocksHigh; // the blocks its plane holds (whole MCUs)
    bool Scanned;
    int Predictor; // the previous block's DC value
    Bytes Plane;   // BlocksWide * 8 by BlocksHigh * 8 samples
};

// The file and what its markers have set so far. Every byte is taken through Next, which refuses
// reading past Limit (the end of the segment being read, or of the file).
struct JpegReader {
    const Bytes& Data;
    const std::string& Path;
    size_t At, Limit;
    uint16_t Quant[4][64]; // in zig-zag order
    bool QuantDefined[4];
    Huffman Dc[4], Ac[4];
    uint32_t Restart; // MCUs between restart markers, or 0
    uint32_t Width, Height, McusWide, McusHigh;
    uint8_t Hmax, Vmax;
    std::vector<Component> Components;
    uint32_t BitBuffer, BitCount; // the scan data's bits not used yet, from the high one
};

[[noreturn]] void Damaged(const JpegReader& r, const std::string& why)
{
    throw BuildError(r.Path, 0, "damaged JPEG picture (" + why + ")");
}

// what: the kind of picture, "a progressive JPEG picture".
[[noreturn]] void Unsupported(const JpegReader& r, const std::string& what)
{
    throw BuildError(r.Path, 0, what + ", which the splash cannot show; save it as a baseline JPEG, PNG or GIF");
}

uint8_t Next(JpegReader& r)
{
    if (r.At >= r.Limit)
        Damaged(r, "cut short");
    return r.Data[r.At++];
}

uint16_t NextU16(JpegReader& r)
{
    uint8_t high = Next(r);
    return (uint16_t)(high << 8 | Next(r));
}

// DQT: tables of 64 values, 8 or 16 bits each.
void ReadQuantisation(JpegReader& r)
{
    while (r.At < r.Limit) {
        uint8_t pq = Next(r);
        if (pq >> 4 > 1 || (pq & 15) > 3)
            Damaged(r, "quantisation table " + std::to_string(pq));
        for (int k = 0; k < 64; k++)
            r.Quant[pq & 3][k] = pq >> 4 ? NextU16(r) : Next(r);
        r.QuantDefined[pq & 3] = true;
    }
}

// DHT: tables of code counts for each length 1 to 16 and their symbols; a count the codes of its
// length cannot hold is refused.
void ReadHuffman(JpegReader& r)
{
    while (r.At < r.Limit) {
        uint8_t tc = Next(r);
        if (tc >> 4 > 1 || (tc & 15) > 3)
            Damaged(r, "Huffman table " + std::to_string(tc));
        Huffman& h = tc >> 4 ? r.Ac[tc & 3] : r.Dc[tc & 3];
        uint32_t code = 0, total = 0;
        for (int length = 1; length <= 16; length++) {
            h.Count[length] = Next(r), h.First[length] = (uint16_t)code, h.Index[length] = (uint16_t)total;
            code += h.Count[length], total += h.Count[length];
            if (code > 1u << length || total > 256)
                Damaged(r, "Huffman code lengths");
            code <<= 1;
        }
        for (uint32_t i = 0; i < total; i++)
            h.Symbols[i] = Next(r);
        h.Defined = true;
    }
}

// SOF0 or SOF1: 8-bit samples, one grey or three YCbCr components, sampling factors of 1 or 2.
void ReadFrame(JpegReader& r)
{
    if (!r.Components.empty())
        Damaged(r, "a second frame");
    if (Next(r) != 8)
        Unsupported(r, "a 12-bit JPEG picture");
    r.Height = NextU16(r), r.Width = NextU16(r);
    uint8_t count = Next(r);
    if (count == 4)
        Unsupported(r, "a CMYK JPEG picture");
    if (count != 1 && count != 3)
        Damaged(r, std::to_string(count) + " components");
    if (r.Width == 0 || r.Height == 0)
        Damaged(r, "no pixels");
    if (r.Width > PNG_MAX_SIDE || r.Height > PNG_MAX_SIDE || (uint64_t)r.Width * r.Height > PNG_MAX_PIXELS)
        throw BuildError(r.Path, 0, "the JPEG picture's size, " + std::to_string(r.Width) + " x " +
                                        std::to_string(r.Height) + ", is over the limit of " +
                                        std::to_string(PNG_MAX_SIDE) + " pixels a side and " +
                                        std::to_string(PNG_MAX_PIXELS) + " pixels");
    r.Hmax = r.Vmax = 1;
    for (uint8_t i = 0; i < count; i++) {
        Component c{};
        c.Id = Next(r);
        uint8_t sampling = Next(r);
        c.H = count == 1 ? 1 : sampling >> 4, c.V = count == 1 ? 1 : sampling & 15, c.Table = Next(r);
        if (c.H < 1 || c.H > 2 || c.V < 1 || c.V > 2)
            Unsupported(r, "a JPEG picture sampled " + std::to_string(sampling >> 4) + " x " + std::to_string(sampling & 15));
        if (c.Table > 3)
            Damaged(r, "quantisation table " + std::to_string(c.Table));
        r.Hmax = std::max(r.Hmax, c.H), r.Vmax = std::max(r.Vmax, c.V);
        r.Components.push_back(c);
    }
    r.McusWide = (r.Width + 8 * r.Hmax - 1) / (8 * r.Hmax), r.McusHigh = (r.Height + 8 * r.Vmax - 1) / (8 * r.Vmax);
    for (Component& c : r.Components) {
        c.BlocksWide = r.McusWide * c.H, c.BlocksHigh = r.McusHigh * c.V;
        c.Plane.assign((size_t)c.BlocksWide * c.BlocksHigh * 64, 0);
    }
}

// The next bit of the scan data; a 0xFF byte is followed by a stuffed zero, and reaching any marker
// inside a block is refused.
uint32_t NextBit(JpegReader& r)
{
    if (r.BitCount == 0) {
        uint8_t byte = Next(r);
        if (byte == 0xFF && Next(r) != 0)
            Damaged(r, "the scan data ends inside a block");
        r.BitBuffer = byte, r.BitCount = 8;
    }
    return r.BitBuffer >> --r.BitCount & 1;
}

uint8_t DecodeSymbol(JpegReader& r, const Huffman& h)
{
    uint32_t code = 0;
    for (int length = 1; length <= 16; length++) {
        code = code << 1 | NextBit(r);
        if (code - h.First[length] < h.Count[length])
            return h.Symbols[h.Index[length] + code - h.First[length]];
    }
    Damaged(r, "bad Huffman code");
}

// A value of size bits: those starting with 0 are negative.
int ReceiveExtend(JpegReader& r, uint32_t size)
{
    int value = 0;
    for (uint32_t i = 0; i < size; i++)
        value = value << 1 | (int)NextBit(r);
    return size && value < 1 << (size - 1) ? value - (1 << size) + 1 : value;
}

// The inverse DCT of a block, level-shifted and clamped, into the component's plane.
void InverseDct(const float coefficients[64], Component& c, uint32_t bx, uint32_t by)
{
    static float basis[8][8]; // basis[x][u]: C(u) / 2 * cos((2x + 1) u pi / 16)
    if (basis[0][0] == 0)
        for (int x = 0; x < 8; x++)
            for (int u = 0; u < 8; u++)
                basis[x][u] = (float)((u == 0 ? std::sqrt(0.5) : 1.0) / 2 * std::cos((2 * x + 1) * u * 3.14159265358979323846 / 16));
    float rows[64]; // the inverse along each row
    for (int v = 0; v < 8; v++)
        for (int x = 0; x < 8; x++) {
            float sum = 0;
            for (int u = 0; u < 8; u++)
                sum += basis[x][u] * coefficients[v * 8 + u];
            rows[v * 8 + x] = sum;
        }
    size_t stride = (size_t)c.BlocksWide * 8;
    for (int x = 0; x < 8; x++)
        for (int y = 0; y < 8; y++) {
            float sum = 128;
            for (int v = 0; v < 8; v++)
                sum += basis[y][v] * rows[v * 8 + x];
            long sample = std::lround(sum);
            c.Plane[((size_t)by * 8 + y) * stride + bx * 8 + x] = (uint8_t)(sample < 0 ? 0 : sample > 255 ? 255 : sample);
        }
}

void DecodeBlock(JpegReader& r, Component& c, uint32_t bx, uint32_t by)
{
    float coefficients[64] = {};
    const uint16_t* q = r.Quant[c.Table];
    uint8_t size = DecodeSymbol(r, r.Dc[c.Dc]);
    if (size > 11)
        Damaged(r, "DC difference of " + std::to_string(size) + " bits");
    c.Predictor += ReceiveExtend(r, size);
    coefficients[0] = (float)c.Predictor * q[0];
    for (int k = 1; k < 64;) {
        uint8_t rs = DecodeSymbol(r, r.Ac[c.Ac]);
        if ((rs & 15) == 0) {
            if (rs != 0xF0)
                break;
            k += 16;
            continue;
        }
        k += rs >> 4;
        if (k > 63 || (rs & 15) > 10)
            Damaged(r, "AC coefficient out of the block");
        coefficients[ZIGZAG[k]] = (float)ReceiveExtend(r, rs & 15) * q[k];
        k++;
    }
    InverseDct(coefficients, c, bx, by);
}

// Between restart intervals: the bits left are padding, the RSTn marker follows and the DC
// predictions start again from zero.
void ReadRestart(JpegReader& r, uint32_t number)
{
    r.BitCount = 0;
    if (r.Limit - r.At < 2 || r.Data[r.At] != 0xFF || r.Data[r.At + 1] != 0xD0 + number % 8)
        Damaged(r, "restart marker missing");
    r.At += 2;
    for (Component& c : r.Components)
        c.Predictor = 0;
}

// The MCUs of a scan: of every component's H x V blocks when it holds several, of one block each of
// the component's (Hmax / H by Vmax / V pixels of the picture) when it holds one.
void DecodeScan(JpegReader& r, const std::vector<Component*>& scan)
{
    bool single = scan.size() == 1;
    const Component& first = *scan[0];
    uint32_t wide = single ? ((r.Width * first.H + r.Hmax - 1) / r.Hmax + 7) / 8 : r.McusWide;
    uint32_t high = single ? ((r.Height * first.V + r.Vmax - 1) / r.Vmax + 7) / 8 : r.McusHigh;
    r.BitCount = 0;
    for (Component* c : scan)
        c->Predictor = 0, c->Scanned = true;
    for (uint32_t mcu = 0; mcu < wide * high; mcu++) {
        if (r.Restart && mcu && mcu % r.Restart == 0)
            ReadRestart(r, mcu / r.Restart - 1);
        uint32_t mx = mcu % wide, my = mcu / wide;
        for (Component* c : scan)
            for (uint32_t v = 0; v < (single ? 1u : c->V); v++)
                for (uint32_t h = 0; h < (single ? 1u : c->H); h++)
                    DecodeBlock(r, *c, single ? mx : mx * c->H + h, single ? my : my * c->V + v);
    }
}

// SOS: the components of the scan and their tables, then the entropy-coded data up to the next marker.
void ReadScan(JpegReader& r, size_t segmentEnd)
{
    if (r.Components.empty())
        Damaged(r, "a scan before the frame");
    uint8_t count = Next(r);
    if (count < 1 || count > r.Components.size())
        Damaged(r, std::to_string(count) + " components in a scan");
    std::vector<Component*> scan;
    for (uint8_t i = 0; i < count; i++) {
        uint8_t id = Next(r), tables = Next(r);
        Component* found = nullptr;
        for (Component& c : r.Components)
            found = c.Id == id ? &c : found;
        if (!found || tables >> 4 > 3 || (tables & 15) > 3 || !r.Dc[tables >> 4].Defined ||
            !r.Ac[tables & 15].Defined || !r.QuantDefined[found->Table])
            Damaged(r, "scan component " + std::to_string(id) + " or its tables");
        found->Dc = tables >> 4, found->Ac = tables & 15;
        scan.push_back(found);
    }
    if (Next(r) != 0 || Next(r) != 63 || Next(r) != 0)
        Damaged(r, "not a sequential scan");
    r.At = segmentEnd, r.Limit = r.Data.size();
    DecodeScan(r, scan);
}

// A marker: 0xFF, fill bytes of 0xFF, then its code.
uint8_t NextMarker(JpegReader& r)
{
    if (Next(r) != 0xFF)
        Damaged(r, "a marker expected at byte " + std::to_string(r.At - 1));
    uint8_t code = 0xFF;
    while (code == 0xFF)
        code = Next(r);
    return code;
}

// Reads the segment of marker within its length; returns false at the end of the picture.
bool ReadSegment(JpegReader& r, uint8_t marker)
{
    if (marker == 0xD9)
        return false;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) // markers without a segment: a stray RSTn is skipped
        return true;
    if (marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE)
        Unsupported(r, "a progressive JPEG picture");
    if (marker == 0xC9 || marker == 0xCB || marker == 0xCC || marker == 0xCD || marker == 0xCF)
        Unsupported(r, "an arithmetic-coded JPEG picture");
    if (marker == 0xC3 || marker == 0xC5 || marker == 0xC7) // and 0xC6, 0xCA, 0xCE refused as progressive above
        Unsupported(r, "a lossless or hierarchical JPEG picture");
    uint16_t length = NextU16(r);
    if (length < 2 || length - 2u > r.Data.size() - r.At)
        Damaged(r, "cut short");
    size_t end = r.At + length - 2;
    r.Limit = end;
    if (marker == 0xC0 || marker == 0xC1)
        ReadFrame(r);
    else if (marker == 0xC4)
        ReadHuffman(r);
    else if (marker == 0xDB)
        ReadQuantisation(r);
    else if (marker == 0xDD)
        r.Restart = NextU16(r);
    else if (marker == 0xDA)
        return ReadScan(r, end), true;
    r.At = end, r.Limit = r.Data.size(); // APPn, COM and other segments are skipped
    return true;
}

// The component planes, grey or YCbCr, as RGB pixels: a subsampled plane is interpolated between its
// samples' centres, its last column and row repeated past the picture's edge.
Picture ToPicture(const JpegReader& r)
{
    Picture p;
    p.Width = r.Width, p.Height = r.Height;
    p.Rgba.assign((size_t)p.Width * p.Height * 4, 255);
    float sample[3] = {};
    for (uint32_t y = 0; y < p.Height; y++)
        for (uint32_t x = 0; x < p.Width; x++) {
            for (size_t i = 0; i < r.Components.size(); i++) {
                const Component& c = r.Components[i];
                float sx = std::max(0.0f, (x + 0.5f) * c.H / r.Hmax - 0.5f);
                float sy = std::max(0.0f, (y + 0.5f) * c.V / r.Vmax - 0.5f);
                uint32_t x0 = (uint32_t)sx, y0 = (uint32_t)sy, stride = c.BlocksWide * 8;
                uint32_t x1 = std::min(x0 + 1, (r.Width * c.H + r.Hmax - 1) / r.Hmax - 1);
                uint32_t y1 = std::min(y0 + 1, (r.Height * c.V + r.Vmax - 1) / r.Vmax - 1);
                float fx = sx - x0, fy = sy - y0;
                const uint8_t* plane = c.Plane.data();
                sample[i] = (1 - fy) * ((1 - fx) * plane[(size_t)y0 * stride + x0] + fx * plane[(size_t)y0 * stride + x1]) +
                            fy * ((1 - fx) * plane[(size_t)y1 * stride + x0] + fx * plane[(size_t)y1 * stride + x1]);
            }
            float rgb[3] = {sample[0], sample[0], sample[0]};
            if (r.Components.size() == 3) {
                float cb = sample[1] - 128, cr = sample[2] - 128;
                rgb[0] += 1.402f * cr, rgb[1] -= 0.344136f * cb + 0.714136f * cr, rgb[2] += 1.772f * cb;
            }
            uint8_t* px = &p.Rgba[((size_t)y * p.Width + x) * 4];
            for (int k = 0; k < 3; k++)
                px[k] = (uint8_t)(rgb[k] < 0 ? 0 : rgb[k] > 255 ? 255 : std::lround(rgb[k]));
        }
    return p;
}

} // namespace

bool IsJpeg(const Bytes& data)
{
    return data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// The segments up to the end of the picture (or of the file, once every component has been scanned).
Picture DecodeJpeg(const Bytes& jpeg, const std::string& path)
{
    if (!IsJpeg(jpeg))
        throw BuildError(path, 0, "not a JPEG picture");
    std::unique_ptr<JpegReader> r(new JpegReader{jpeg, path, 2, jpeg.size(), {}, {}, {}, {}, 0, 0, 0, 0, 0, 1, 1, {}, 0, 0});
    while (r->At < jpeg.size() && ReadSegment(*r, NextMarker(*r))) {
    }
    if (r->Components.empty())
        Damaged(*r, "no frame");
    for (const Component& c : r->Components)
        if (!c.Scanned)
            Damaged(*r, "component " + std::to_string(c.Id) + " has no scan");
    return ToPicture(*r);
}
