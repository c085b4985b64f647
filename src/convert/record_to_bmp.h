// Export of one picture: an image record becomes a 4-bit BMP file with a
// fixed ramp of 16 grays, named after the record.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/bmp4.h"
#include "formats/image_record.h"

// Entry i is gray 255 - 17 * i: level 0 shows white, level 15 black.
inline constexpr std::array<std::uint8_t, BMP_PALETTE_SIZE> GRAY_PALETTE = [] {
    std::array<std::uint8_t, BMP_PALETTE_SIZE> palette{};
    for (std::size_t i = 0; i < 16; ++i) {
        const auto gray = static_cast<std::uint8_t>(255 - 17 * i);
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = gray;
    }
    return palette;
}();

// The file a record is written to: its name plus ".bmp", made safe to create
// in the current folder on every platform. Path separators, the characters
// Windows forbids (: * ? " < > |) and control characters become '_'; a
// Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) gets a '_' in front.
std::string output_file_name(std::string_view record_name);

// Unpacks a record and names its file. A damaged record is reported by its
// number (from 1) and refused.
int prepare_record_export(std::span<const std::uint8_t> record, unsigned number, ImageRecord& image,
                          std::string& file_name);

// Writes an unpacked record as a gray BMP: 2 * row_bytes wide.
int write_record_bmp(ByteStream& stream, const ImageRecord& image);

// Writes one record as a BMP file in the current folder and prints what it
// did. number is the record's position in the database (from 1), for
// messages about a damaged record. Returns 0 when the file was written.
int record_to_bmp(std::span<const std::uint8_t> record, unsigned number);
