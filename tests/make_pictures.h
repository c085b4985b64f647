// Pictures the tests make themselves, with the libraries' own encoders
// (libjpeg, libpng, giflib, libwebp), in every variant tavo-gray must read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Rgba = std::vector<std::uint8_t>;  // 4 bytes a pixel (red, green, blue, opacity), row 0 on top

struct JpegOptions {
    int quality = 95;
    bool progressive = false;
    bool gray = false;        // one channel
    bool cmyk = false;        // four channels, Adobe's inverted CMYK
    bool arithmetic = false;  // arithmetic coding instead of Huffman
    int orientation = 0;      // an EXIF Orientation tag 1..8; 0: no EXIF at all
};
// Each returns false when the file cannot be made.
bool write_jpeg(const std::string& path, int width, int height, const Rgba& rgba, const JpegOptions& options = {});

struct PngOptions {
    int bit_depth = 8;         // 1, 2, 4, 8 or 16
    bool colour = true;        // RGB(A), or gray (a palette when palette is set)
    bool alpha = true;
    bool palette = false;      // indexed colour, with a tRNS chunk for the opacities
    bool interlaced = false;   // Adam7
};
bool write_png(const std::string& path, int width, int height, const Rgba& rgba, const PngOptions& options = {});

// GIF: a palette of the picture's colours (at most 256), fully transparent
// pixels as the transparent index.
bool write_gif(const std::string& path, int width, int height, const Rgba& rgba, bool interlaced = false);

bool write_webp(const std::string& path, int width, int height, const Rgba& rgba, bool lossless = true);

// BMP as other programs write it: 1, 4, 8 (a palette of the picture's
// colours), 16 (5-5-5), 24 or 32 bits a pixel; rle makes an 8-bit file RLE8
// and a 4-bit one RLE4; top_down stores a negative height.
struct BmpOptions {
    int bits = 24;
    bool rle = false;
    bool top_down = false;
};
bool write_bmp_file(const std::string& path, int width, int height, const Rgba& rgba, const BmpOptions& options = {});
