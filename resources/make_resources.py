#!/usr/bin/env python3
"""Generates the launcher's pictures and its empty file archive, so that no art is downloaded.

    make_resources.py OUTPUT_DIR

splash.bmp         400 x 100, 32 bits per pixel, uncompressed (BI_RGB), bottom-up
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


def bitmap_info_header(width, height):
    # BITMAPINFOHEADER: positive height = bottom-up, 32 bpp, BI_RGB (0).
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, width * height * 4, 2835, 2835, 0, 0)


def write_splash(path, width=400, height=100):
    pixels = bgra_rows_bottom_up(splash_pixels(width, height), width, height, 0)
    header = bitmap_info_header(width, height)
    offset = 14 + len(header)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    path.write_bytes(file_header + header + pixels)


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
