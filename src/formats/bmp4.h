// Windows BMP files: tavo's writer of 4-bit files, and one reader of the BMP
// files other programs write, which both programs use.
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
// The reader takes what other programs write: info headers of 40 bytes or
// more (the palette follows them), the 12-byte OS/2 core header (16-bit
// sizes, 3-byte palette entries), short palettes, a gap before the pixels
// (bfOffBits), top-down files (negative biHeight), a last row without its
// padding, and these pixels:
//
//   1, 2, 4, 8 bits    palette indices; an index past the palette is black
//   16 bits            5-5-5 unless BI_BITFIELDS gives masks (5-6-5 ...)
//   24 bits            blue, green, red
//   32 bits            blue, green, red and a 4th byte that is NOT taken as
//                      opacity, since most programs write 0 there: only masks
//                      with an alpha mask (BI_BITFIELDS with a header of 56
//                      bytes or more, BI_ALPHABITFIELDS) or a V4/V5 header
//                      whose alpha mask is 0xFF000000 make it opacity
//   RLE8, RLE4         runs, absolute runs, end of line, end of bitmap and
//                      delta; pixels a run skips or never writes are palette
//                      index 0, a run past the row's end writes nothing
//                      there, a delta past the last row ends the picture
//
// It reads the file once, front to back, and hands over one row at a time in
// the file's order (a bottom-up file's bottom row first), so that memory is
// one row whatever the picture's size.
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

// The largest picture a reader accepts; larger ones are refused from the header.
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

// Why a BMP file cannot be read, for each program to say in its own words.
enum class BmpError {
    NONE,
    INFO_SIZE,       // an info header size no program writes
    BIT_COUNT,       // not 1, 2, 4, 8, 16, 24 or 32 bits a pixel
    COMPRESSION,     // a compression the reader lacks, or not for this bit count
    NO_PIXELS,       // a width or height of 0, or a negative width
    TOO_LARGE,       // past the caller's limits
    INFO_CUT,        // the file ends inside the info header or its masks
    PALETTE_CUT,     // the file ends inside the palette
    PIXELS_CUT,      // the file ends before the row asked for is whole
};

inline constexpr std::uint32_t BMP_RGB = 0;  // biCompression values
inline constexpr std::uint32_t BMP_RLE8 = 1;
inline constexpr std::uint32_t BMP_RLE4 = 2;
inline constexpr std::uint32_t BMP_BITFIELDS = 3;
inline constexpr std::uint32_t BMP_ALPHABITFIELDS = 6;

// Where the parts of the file lie and how its pixels are stored, decided
// from the header alone.
struct BmpLayout {
    std::int64_t width = 0;
    std::int64_t rows = 0;
    bool top_down = false;
    unsigned bits = 0;
    std::uint32_t compression = BMP_RGB;
    std::uint64_t masks_start = 0;  // the colour masks' file offset, 0 without
    unsigned mask_count = 0;        // 3 (red, green, blue) or 4 (and alpha)
    std::uint64_t header_end = 0;   // past the info header and any masks after it
    std::uint64_t palette_start = 0;
    unsigned entry_size = 4;
    unsigned entries = 0;           // palette entries the file holds
    std::uint64_t palette_end = 0;
    std::uint64_t pixel_start = 0;
    std::uint64_t row_size = 0;     // bytes a stored row takes, padding included
};

// How a masked pixel (16 or 32 bits) gives one channel 0..255.
struct BmpChannel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    std::uint32_t top = 0;  // the mask's largest value, shifted down; 0: none
};

// The reader between two rows: the row just read, the palette, and where
// the file stands.
struct BmpRows {
    BmpLayout layout;
    bool indexed = false;                        // rows of palette indices, not colours
    std::array<std::uint8_t, 1024> palette{};    // blue, green, red, 0; entries the file lacks are 0
    unsigned palette_entries = 0;
    std::array<BmpChannel, 4> channels{};        // red, green, blue, alpha (top 0: opaque)
    std::vector<std::uint8_t> indices;           // the row just read, width indices, when indexed
    std::vector<std::uint32_t> colours;          // or width colours, 0xAARRGGBB
    std::uint64_t rows_read = 0;                 // whole rows handed over so far
    std::vector<std::uint8_t> bytes;             // a stored row, uncompressed files
    std::uint64_t rle_blank_rows = 0;            // RLE: rows a delta passed, still to hand over
    std::uint64_t rle_next_x = 0;                // RLE: where the next row's pixels start
    bool rle_ended = false;                      // RLE: end of bitmap, or a delta past the picture
};

// Reads "BM", failing at the first wrong byte or the end of the file.
int read_bmp_signature(ByteStream& stream);

// Reads the signature and the header fields.
int read_bmp_header(ByteStream& stream, BmpHeader& header);

// Checks the header's fields in order (info size, bit count, compression,
// size, limits) and lays the file out; no allocation.
BmpError check_bmp_layout(const BmpHeader& header, const BmpLimits& limits, BmpLayout& layout);

// From just after read_bmp_header: reads the rest of the headers, the masks
// and the palette, skips to the pixels and makes the row buffers. rows.layout
// is check_bmp_layout's.
BmpError open_bmp_rows(ByteStream& stream, BmpRows& rows);

// Reads the next row in the file's order into rows.indices or rows.colours:
// NONE, or PIXELS_CUT when the file ends first (rows_read rows were whole).
BmpError read_bmp_row(ByteStream& stream, BmpRows& rows);

// From just after read_bmp_header of a 4-bit file: its palette and pixels
// into image, which the caller owns; why not, when they cannot be read.
BmpError read_bmp_pixels(ByteStream& stream, const BmpHeader& header, const BmpLimits& limits, Bmp4Image& image);

// Writes the layout above; pixels holds width * height indices, row 0 on
// top (fewer fail the stream).
void write_bmp(ByteStream& stream, std::int32_t width, std::int32_t height,
               std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, std::span<const std::uint8_t> pixels);
