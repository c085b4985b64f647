// 4-bit uncompressed Windows BMP files.
//
// The writer produces one shape of file, all integers little-endian:
//
//   offset  size  field            written value
//   0       2     bfType           "BM"
//   2       4     bfSize           118 + padded_row_bytes * height
//   6       4     bfReserved1/2    0
//   10      4     bfOffBits        118
//   14      4     biSize           40
//   18      4     biWidth          width
//   22      4     biHeight         height (positive: bottom row first)
//   26      2     biPlanes         1
//   28      2     biBitCount       4
//   30      4     biCompression    0
//   34      4     biSizeImage      0
//   38      8     biX/YPelsPerMeter 2834 each
//   46      8     biClrUsed/Important 0 each
//   54      64    palette          16 entries: blue, green, red, 0
//   118     ...   rows, bottom row first; each row_bytes = (width + 1) / 2
//                 bytes (left pixel in the high nibble), zero-padded to
//                 padded_row_bytes, the next multiple of 4
//
// The reader takes what other programs write too: info headers of 40 bytes
// or more (the palette follows them), the 12-byte OS/2 core header (16-bit
// sizes, 3-byte palette entries), short palettes (biClrUsed 1..15), a gap
// before the pixels (bfOffBits), top-down files (negative biHeight) and a
// last row without its padding. It reads the file once, front to back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/image_record.h"
#include "io/byte_stream.h"

inline constexpr std::size_t BMP_PALETTE_SIZE = 64;  // 16 entries of 4 bytes

constexpr std::size_t padded_row_bytes(std::size_t width) { return (row_bytes(width) + 3) & ~std::size_t{3}; }

struct Bmp4Image {
    std::int32_t width = 0;
    std::int32_t height = 0;  // rows, positive whatever order the file stored them in
    std::array<std::uint8_t, BMP_PALETTE_SIZE> palette{};  // blue, green, red, 0; entries the file lacks are 0
    unsigned palette_entries = 0;                          // entries the file holds, 1..16
    std::vector<std::uint8_t> pixels;                      // width * height indices 0..15, row 0 on top
};

// The largest picture read_bmp accepts; larger ones are refused from the header.
struct BmpLimits {
    std::int32_t max_width = 0;
    std::int32_t max_height = 0;
};

// The header fields the reader uses, from the file header and either info header.
struct BmpHeader {
    std::uint32_t pixel_offset = 0;  // bfOffBits
    std::uint32_t info_size = 0;     // biSize; 12 for the OS/2 core header
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: top-down
    std::uint16_t bit_count = 0;
    std::uint32_t compression = 0;
    std::uint32_t colours_used = 0;
};

// Reads "BM", failing at the first wrong byte or the end of the file.
int read_bmp_signature(ByteStream& stream);

// Reads the signature and the header fields.
int read_bmp_header(ByteStream& stream, BmpHeader& header);

// Reads a whole 4-bit uncompressed file into image, which the caller owns.
// On failure it prints one "Error ..." line and returns 1.
int read_bmp(ByteStream& stream, const BmpLimits& limits, Bmp4Image& image);

// Writes the layout above; pixels holds width * height indices, row 0 on top.
int write_bmp(ByteStream& stream, std::int32_t width, std::int32_t height,
              std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, std::span<const std::uint8_t> pixels);
