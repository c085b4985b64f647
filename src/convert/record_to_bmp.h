// Export of one picture: an image record becomes a 4-bit BMP file with a
// fixed ramp of 16 grays, named after the record.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "convert/names.h"
#include "formats/bmp4.h"

// Entry i is gray 255 - 17 * i: level 0 shows white, level 15 black.
inline constexpr std::array<std::uint8_t, BMP_PALETTE_SIZE> GRAY_PALETTE = [] {
    std::array<std::uint8_t, BMP_PALETTE_SIZE> palette{};
    for (std::size_t i = 0; i < 16; ++i)
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<std::uint8_t>(255 - 17 * i);
    return palette;
}();

// Writes one record as a BMP file in the current folder, 2 * row_bytes
// pixels wide, and prints what it did; a damaged record is reported by its
// number (from 1) and skipped. A record whose file name this run has written
// (in any letter case), or that names a kept file (the database), is written
// as "NAME (2).bmp", "NAME (3).bmp" and so on. Returns 1 when the file cannot
// be written, which leaves an older file of its name whole.
int record_to_bmp(std::span<const std::uint8_t> record, unsigned number, WrittenFiles& files);
