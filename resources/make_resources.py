#!/usr/bin/env python3
"""Generates the launcher's pictures and its empty file archive, so that no art is downloaded.

    make_resources.py OUTPUT_DIR

splash.bmp         400 x 100, 8 bits per pixel run-length encoded (BI_RLE8), bottom-up: about 3 KB
                   where the same picture uncompressed at 32 bits takes 160 KB of the launcher
kestrun.ico        the application icon: 16 x 16, 32 x 32 and 48 x 48, 32 bits per pixel
empty-archive.bin  one zero byte: a launcher without embedded files
"""
import struct
import sys
from pathlib import Path

# A 5 x 7 pixel font for the few letters the pictures use.
FONT = {
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
}

BACKGROUND_TOP = (0x12, 0x3A, 0x5C)     # deep blue at the top edge
BACKGROUND_BOTTOM = (0x0B, 0x7A, 0x75)  # teal at the bottom edge
ACCENT = (0xF2, 0xA9, 0x00)             # the band under the word
LETTERS = (0xFF, 0xFF, 0xFF)


def blend(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def draw_text(pixels, width, text, left, top, scale, colour):
    for index, letter in enumerate(text):
        for row, bits in enumerate(FONT[letter]):
            for column, bit in enumerate(bits):
                if bit != "1":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = left + (index * 6 + column) * scale + dx
                        y = top + row * scale + dy
                        pixels[y * width + x] = colour


def splash_pixels(width=400, height=100):
    """Rows top-down, each pixel an (r, g, b) tuple."""
    pixels = []
    for y in range(height):
        pixels += [blend(BACKGROUND_TOP, BACKGROUND_BOTTOM, y / (height - 1))] * width
    scale = 6
    text_width = (len("KESTRUN") * 6 - 1) * scale
    left = (width - text_width) // 2
    draw_text(pixels, width, "KESTRUN", left, 14, scale, LETTERS)
    for y in range(64, 70):
        for x in range(left, left + text_width):
            pixels[y * width + x] = ACCENT
    return pixels


def bgra_rows_bottom_up(pixels, width, height, alpha):
    data = bytearray()
    for y in reversed(range(height)):
        for r, g, b in pixels[y * width:(y + 1) * width]:
            data += bytes((b, g, r, alpha))
    return bytes(data)


def rle8_rows_bottom_up(indexes, width, height):
    """Runs of one colour index (at most 255 pixels each), an end-of-line mark after each row and
    an end-of-bitmap mark: rows whose pixels repeat, as the splash's do, take a few bytes each."""
    data = bytearray()
    for y in reversed(range(height)):
        row = indexes[y * width:(y + 1) * width]
        x = 0
        while x < width:
            run = 1
            while x + run < width and run < 255 and row[x + run] == row[x]:
                run += 1
            data += bytes((run, row[x]))
            x += run
        data += b"\0\0"
    data += b"\0\1"
    return bytes(data)


def write_splash(path, width=400, height=100):
    pixels = splash_pixels(width, height)
    palette = sorted(set(pixels))
    if len(palette) > 256:
        sys.exit("the splash picture has more than 256 colours")
    index = {colour: i for i, colour in enumerate(palette)}
    rle = rle8_rows_bottom_up([index[p] for p in pixels], width, height)
    # BITMAPINFOHEADER: positive height = bottom-up, 8 bpp, BI_RLE8 (1), the colours used.
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(rle), 2835, 2835,
                         len(palette), 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(header) + len(table)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(rle), 0, 0, offset)
    path.write_bytes(file_header + header + table + rle)


def icon_image(size):
    pixels = []
    for y in range(size):
        pixels += [blend(BACKGROUND_TOP, BACKGROUND_BOTTOM, y / (size - 1))] * size
    scale = max(1, size // 10)
    left = (size - 5 * scale) // 2
    top = (size - 7 * scale) // 2
    draw_text(pixels, size, "K", left, top, scale, LETTERS)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bgra_rows_bottom_up(pixels, size, size, 255)
    mask = bytes(((size + 31) // 32) * 4 * size)  # all opaque
    return header + colour + mask


def write_icon(path, sizes=(16, 32, 48)):
    images = [icon_image(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    path.write_bytes(directory + entries + b"".join(images))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    write_splash(out / "splash.bmp")
    write_icon(out / "kestrun.ico")
    (out / "empty-archive.bin").write_bytes(b"\0")


if __name__ == "__main__":
    main()
