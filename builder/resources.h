// The resources a config adds besides the string table: the embedded-file archive, the splash
// bitmap, the icon, the version information and the manifest, each made from its source file.
#pragma once

#include "bytes.h"

#include <string>
#include <vector>

// One file to embed.
struct EmbeddedFile {
    std::string Name;  // plain file name, stored in the archive
    uint64_t FileTime; // last-write time as a FILETIME
    Bytes Data;
};

// The archive resource for the files; no files gives the single zero byte.
Bytes MakeArchive(const std::vector<EmbeddedFile>& files);

// A bitmap resource (a BMP file without its 14-byte file header, with any gap between the colour
// table and the pixels removed; a PNG composited onto white, at 24 bits). Throws BuildError naming
// path for files LoadBitmapA cannot show.
Bytes MakeBitmapResource(const Bytes& bmp, const std::string& path);
// Width, height (negative: top-down) and bits per pixel of a bitmap resource; false if malformed.
bool DescribeBitmap(const Bytes& resource, int32_t& width, int32_t& height, uint16_t& bits);

// One image of an icon file.
struct IconImage {
    uint8_t Width, Height, Colors; // as in the icon directory (0 means 256)
    uint16_t Planes, BitCount;
    Bytes Data;                    // a PNG or a DIB with its mask
};
// The most images an icon file may list.
const uint16_t ICON_MAX_IMAGES = 256;
// The images of an ICO file, or those made from a PNG (16, 32, 48 and 256 pixels, as far as the
// picture is large, a picture of another shape centred on a transparent square); throws
// BuildError naming path when it is not a valid icon or PNG file, lists more than ICON_MAX_IMAGES images
// or images that overlap one another or the directory.
std::vector<IconImage> ReadIconFile(const Bytes& ico, const std::string& path);
// The group-icon resource listing the images under the given RT_ICON ids.
Bytes MakeIconGroup(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids);
// The RT_ICON ids a group-icon resource lists; empty when malformed.
std::vector<uint16_t> IconGroupIds(const Bytes& group);

// Version information: the fixed version numbers and the strings, in that order.
Bytes MakeVersionInfo(const uint16_t fileVersion[4], const uint16_t productVersion[4],
                      const std::vector<std::pair<std::string, std::u16string>>& strings);
// The strings of a version resource (key, UTF-8 value); empty when none can be read.
std::vector<std::pair<std::string, std::string>> ReadVersionStrings(const Bytes& resource);

// The application manifest: execution level, DPI awareness, Windows 7 to 11 as supported OS.
Bytes MakeManifest(const std::string& execution, const std::string& dpiAwareness);
