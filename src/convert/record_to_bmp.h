// Export of one picture: an image record becomes a 4-bit BMP file with a
// fixed ramp of 16 grays, named after the record.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "formats/bmp4.h"

// Entry i is gray 255 - 17 * i: level 0 shows white, level 15 black.
inline constexpr std::array<std::uint8_t, BMP_PALETTE_SIZE> GRAY_PALETTE = [] {
    std::array<std::uint8_t, BMP_PALETTE_SIZE> palette{};
    for (std::size_t i = 0; i < 16; ++i) {
        const auto gray = static_cast<std::uint8_t>(255 - 17 * i);
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = gray;
    }
    return palette;
}();

// Writes one record as a BMP file in the current folder, 2 * row_bytes
// pixels wide, and prints what it did. number is the record's position in
// the database (from 1), for messages about a damaged record. The database
// file itself is never overwritten: a record named after it cannot be
// written. Returns 0 when the file was written.
int record_to_bmp(std::span<const std::uint8_t> record, unsigned number, const std::string& database_path);
