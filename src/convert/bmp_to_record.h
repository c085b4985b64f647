// Import of one picture: a 16-colour BMP file becomes an image record whose
// gray levels follow the brightness ranking of the file's palette.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/bmp4.h"
#include "formats/image_record.h"

// 2 * red + 4 * green + blue of one palette entry (blue, green, red, reserved).
std::uint32_t brightness(std::span<const std::uint8_t, 4> entry);

// Maps palette indices to gray levels by brightness: of the first `entries`
// entries the brightest becomes 0 and the darkest 15, rank r (0 = brightest)
// of k becoming round(r * 15 / (k - 1)). Indices past the palette get 15.
std::array<GrayLevel, 16> rank_palette(std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette,
                                       unsigned entries = 16);

// Converts one file, which the caller opened as stream (opened 0) or could
// not open (opened 1): prints "<name> .. " and, when the file is skipped, the
// reason; the caller completes the line of a converted file. Returns 0 with
// the record in `record` (the caller's), left empty when the file is skipped
// for what it holds, or 1 when the file cannot be opened or read. Closes the
// stream.
int bmp_to_record(const std::string& file_name, int opened, ByteStream& stream, std::vector<std::uint8_t>& record);

// The conversion itself on an open stream; prints why it failed.
int convert_bmp(ByteStream& stream, std::string_view record_name, std::vector<std::uint8_t>& record);
