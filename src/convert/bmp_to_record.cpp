#include "convert/bmp_to_record.h"

#include <algorithm>
#include <cstdio>

#include "convert/names.h"
#include "io/console.h"

namespace {

constexpr std::uint32_t BRIGHTNESS_MASK = 0x00FFFFFF;
constexpr unsigned TAG_SHIFT = 24;
constexpr GrayLevel DARKEST = 15;

}  // namespace

std::uint32_t brightness(std::span<const std::uint8_t, 4> entry) { return 2u * entry[2] + 4u * entry[1] + entry[0]; }

int compare_brightness(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t left = a & BRIGHTNESS_MASK;
    const std::uint32_t right = b & BRIGHTNESS_MASK;
    return left < right ? -1 : left > right ? 1 : 0;
}

std::array<GrayLevel, 16> rank_palette(std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, unsigned entries) {
    const unsigned k = std::clamp(entries, 1u, 16u);
    std::array<std::uint32_t, 16> words{};
    for (unsigned i = 0; i < k; ++i) words[i] = brightness(palette.subspan(4 * i).first<4>()) | i << TAG_SHIFT;
    std::sort(words.begin(), words.begin() + k,
              [](std::uint32_t a, std::uint32_t b) { return compare_brightness(a, b) < 0; });

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
    Bmp4Image image;
    if (read_bmp(stream, BmpLimits{MAX_IMAGE_WIDTH, MAX_IMAGE_HEIGHT}, image) != 0) return 1;
    const LevelTable levels = rank_palette(image.palette, image.palette_entries);
    return pack_image_record(record_name, image.width, image.height, image.pixels, levels, record);
}
