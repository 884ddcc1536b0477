// GIF pictures for the splash: the first image of a GIF87a or GIF89a file, placed on its logical
// screen, read by the builder's own LZW decoder.
#pragma once

#include "png.h"

// True when the bytes begin with a GIF signature (GIF87a or GIF89a).
bool IsGif(const Bytes& data);
// Decodes the first image of a GIF onto its logical screen, which is clear where the image does not
// cover it and where the image shows its transparent colour. Throws BuildError naming path when the
// screen or the image is over the PNG limits, and when the file is damaged or cut short.
Picture DecodeGif(const Bytes& gif, const std::string& path);
