// Image records: one 16-level grayscale picture per database record.
//
//   offset  size               content
//   0       1                  row_bytes, bytes per row: (width + 1) / 2
//   1       1                  height in rows (its low 8 bits)
//   2       30                 name: up to 29 characters, zero-filled; byte 31 is always 0
//   32      row_bytes*height   pixels, column-major by byte column:
//                              the byte of row r (0 = top) and byte column j
//                              lies at 32 + j*height + r; its high nibble is
//                              pixel x = 2j, its low nibble pixel x = 2j + 1
//
// A nibble is a GrayLevel: 0 is white, 15 black. The width is not stored; a
// record reads back 2 * row_bytes pixels wide.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using GrayLevel = std::uint8_t;  // 0..15, 0 = white, 15 = black

inline constexpr std::size_t RECORD_HEADER_SIZE = 32;
inline constexpr std::size_t RECORD_NAME_SIZE = 30;
inline constexpr std::size_t RECORD_NAME_MAX = RECORD_NAME_SIZE - 1;  // characters kept
inline constexpr std::size_t MAX_RECORD_SIZE = RECORD_HEADER_SIZE + 255 * 255;

// The largest picture the handheld application shows.
inline constexpr std::int32_t MAX_IMAGE_WIDTH = 160;
inline constexpr std::int32_t MAX_IMAGE_HEIGHT = 160;

// The bytes that hold a row of width pixels, two to a byte (BMP files too).
constexpr std::size_t row_bytes(std::size_t width) { return (width + 1) / 2; }

struct ImageRecord {
    std::string name;  // at most 29 characters
    std::uint8_t row_bytes = 0;
    std::uint8_t height = 0;
    std::vector<GrayLevel> levels;  // (2 * row_bytes) * height, row-major, row 0 on top
};

// The level of each of the 16 values a pixel may hold.
using LevelTable = std::array<GrayLevel, 16>;

// Packs a width x height picture (pixels row-major, row 0 on top, each pixel
// stored as level_of[pixel]) into record, the caller's. Returns 1, record
// empty, when the layout cannot hold it (no pixels, over 255 row bytes or
// rows) or pixels holds fewer than width * height values.
int pack_image_record(std::string_view name, int width, int height, std::span<const std::uint8_t> pixels,
                      const LevelTable& level_of, std::vector<std::uint8_t>& record);

// Takes a record apart. A record without pixels or shorter than its picture
// is reported by its number (from 1) and refused, without reading past it.
int unpack_image_record(std::span<const std::uint8_t> record, unsigned number, ImageRecord& image);
