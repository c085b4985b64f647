// Pictures the tests make themselves, with the libraries' own encoders
// (libjpeg, libpng, giflib, libwebp), in every variant tavo-gray must read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Rgba = std::vector<std::uint8_t>;  // 4 bytes a pixel (red, green, blue, opacity), row 0 on top

// A picture whose pixel (x, y) is colour(x, y), as 0xRRGGBBAA.
inline Rgba picture_of(int width, int height, const std::function<std::uint32_t(int, int)>& colour) {
    Rgba rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int shift = 24; shift >= 0; shift -= 8) rgba.push_back(static_cast<std::uint8_t>(colour(x, y) >> shift));
    return rgba;
}

// EXIF as a JPEG file's APP1 segment holds it: "Exif\0\0" and a TIFF block
// in either byte order (mm: Motorola's), IFD0 at ifd with count entries
// (count may claim more than are written), the entries, no next IFD.
struct ExifEntry {
    unsigned tag;
    unsigned type;  // 3, SHORT: the value in the entry's first two bytes; others all four
    std::uint64_t count;
    std::uint32_t value;
};
std::vector<std::uint8_t> exif_block(bool mm, const std::vector<ExifEntry>& entries, std::uint64_t ifd = 8,
                                     std::uint64_t count = ~0ull, unsigned magic = 42);

struct JpegOptions {
    int quality = 95;
    bool progressive = false;
    bool gray = false;        // one channel
    bool cmyk = false;        // four channels, Adobe's inverted CMYK
    bool arithmetic = false;  // arithmetic coding instead of Huffman
    int orientation = 0;      // an EXIF Orientation tag 1..8; 0: no EXIF at all
};
// A colour (0xRRGGBB) whose gray (2 red + 4 green + blue) / 7 is exactly
// 255 - 17 level, its channels apart so that a decoder taking one channel,
// swapping red and blue or inverting CMYK shows another level; other is a
// second such colour.
inline std::uint32_t colour_of_level(int level, bool other = false) {
    const int g = 255 - 17 * level;
    const int s = (g < 255 - g ? g : 255 - g) / 4;
    const int r = other ? g + 2 * s : g - 2 * s;
    const int green = other ? g - s : g;
    const int b = other ? g : g + 4 * s;
    return static_cast<std::uint32_t>(r << 16 | green << 8 | b);
}

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

// A BMP file laid out field by field, for the layouts and faults the writer
// above does not make.
struct RawBmp {
    std::uint32_t info_size = 40;  // 12: the OS/2 core header
    std::int32_t width = 1;
    std::int32_t height = 1;       // negative: top-down
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::vector<std::uint32_t> masks = {};    // at offset 54: in a header of 52 bytes or more, after a 40-byte one
    std::vector<std::uint32_t> palette = {};  // 0xRRGGBB
    std::vector<std::uint8_t> pixels = {};
};
std::vector<std::uint8_t> raw_bmp(const RawBmp& f);
