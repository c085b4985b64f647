// Rows of 4-bit pixels, two to a byte with the left pixel in the high
// nibble, spread to one pixel a byte and joined back. BMP rows and image
// records share this packing.
#pragma once

#include <cstddef>
#include <cstdint>

// Spreads the width pixels of row into out (width bytes).
inline void split_row(const std::uint8_t* row, std::size_t width, std::uint8_t* out) {
    const std::size_t pairs = width / 2;
    for (std::size_t j = 0; j < pairs; ++j) {
        out[2 * j] = row[j] >> 4;
        out[2 * j + 1] = row[j] & 15;
    }
    if (width % 2 != 0) out[width - 1] = row[pairs] >> 4;
}

// Joins width pixels (their low nibbles) into row, (width + 1) / 2 bytes; an
// odd width leaves the low nibble of the last byte 0.
inline void join_row(const std::uint8_t* in, std::size_t width, std::uint8_t* row) {
    const std::size_t pairs = width / 2;
    for (std::size_t j = 0; j < pairs; ++j)
        row[j] = static_cast<std::uint8_t>(in[2 * j] << 4 | (in[2 * j + 1] & 15));
    if (width % 2 != 0) row[pairs] = static_cast<std::uint8_t>(in[width - 1] << 4);
}
