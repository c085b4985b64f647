#include "convert/bmp_to_record.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "convert/names.h"
#include "io/console.h"

namespace {

constexpr std::uint32_t BRIGHTNESS_MASK = 0x00FFFFFF;
constexpr unsigned TAG_SHIFT = 24;
constexpr GrayLevel DARKEST = 15;
constexpr BmpLimits BMP_LIMITS{MAX_IMAGE_WIDTH, MAX_IMAGE_HEIGHT};

// Import's words for a file the reader cannot take.
int refuse(BmpError error, const BmpHeader& h) {
    switch (error) {
        case BmpError::INFO_SIZE: return fail("Error - BMP info header of %" PRIu32 " bytes is not supported\n", h.info_size);
        case BmpError::NO_PIXELS:
            return fail("Error - bitmap size %" PRId32 "x%" PRId64 " has no pixels\n", h.width,
                        static_cast<std::int64_t>(std::llabs(std::int64_t{h.height})));
        case BmpError::TOO_LARGE:
            return fail("Error - maximum bitmap size is %" PRId32 "x%" PRId32 ".\n", BMP_LIMITS.max_width, BMP_LIMITS.max_height);
        case BmpError::INFO_CUT:
            return fail("Error - BMP info header of %" PRIu32 " bytes runs past the end of the file\n", h.info_size);
        case BmpError::PALETTE_CUT: return fail("Error - BMP file ends before its palette\n");
        default: return fail("Error - BMP file ends before its last pixel row\n");
    }
}

}  // namespace

std::uint32_t brightness(std::span<const std::uint8_t, 4> entry) { return 2u * entry[2] + 4u * entry[1] + entry[0]; }

std::array<GrayLevel, 16> rank_palette(std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, unsigned entries) {
    const unsigned k = std::clamp(entries, 1u, 16u);
    std::array<std::uint32_t, 16> words{};
    for (unsigned i = 0; i < k; ++i) words[i] = brightness(palette.subspan(4 * i).first<4>()) | i << TAG_SHIFT;
    std::sort(words.begin(), words.begin() + k,  // by brightness alone, the low 24 bits: no tag decides
              [](std::uint32_t a, std::uint32_t b) { return (a & BRIGHTNESS_MASK) < (b & BRIGHTNESS_MASK); });

    std::array<GrayLevel, 16> levels;
    levels.fill(DARKEST);
    for (unsigned position = 0; position < k; ++position) {  // darkest first
        const unsigned rank = k - 1 - position;               // 0 = brightest
        const unsigned level = k == 1 ? 0 : (2 * rank * DARKEST + (k - 1)) / (2 * (k - 1));
        levels[words[position] >> TAG_SHIFT] = static_cast<GrayLevel>(level);
    }
    return levels;
}

int bmp_to_record(const std::string& file_name, int opened, ByteStream& stream, std::vector<std::uint8_t>& record) {
    record.clear();
    print("%s .. ", shown(file_name).c_str());
    if (opened != 0) return fail("Error while opening %s\n", shown(file_name).c_str());
    convert_bmp(stream, record_name_of(file_name), record);
    return close_stream(stream);  // 1 after a read error
}

int convert_bmp(ByteStream& stream, std::string_view record_name, std::vector<std::uint8_t>& record) {
    record.clear();
    BmpHeader header;
    if (read_bmp_header(stream, header) != 0) return fail("Error while reading BMP header\n");
    if (header.bit_count != 4) return fail("Error - only 16 color bitmaps can be imported !\n");
    if (header.compression != BMP_RGB) return fail("Error - compressed bitmaps not supported\n");
    Bmp4Image image;
    const BmpError error = read_bmp_pixels(stream, header, BMP_LIMITS, image);
    if (error != BmpError::NONE) return refuse(error, header);
    const LevelTable levels = rank_palette(image.palette, image.palette_entries);
    return pack_image_record(record_name, image.width, image.height, image.pixels, levels, record);
}
