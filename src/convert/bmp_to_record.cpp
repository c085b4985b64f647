#include "convert/bmp_to_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint32_t BRIGHTNESS_MASK = 0x00FFFFFF;
constexpr unsigned TAG_SHIFT = 24;
constexpr GrayLevel DARKEST = 15;
constexpr std::uint16_t INDEX_PAIR_MASK = 0x0F0F;  // two indices read as one 16-bit value

// Replaces every palette index by its level, two pixels a lookup: a pair of
// indices read as one 16-bit value (in the machine's byte order) picks the
// pair of levels, stored back the same way.
void indices_to_levels(std::span<std::uint8_t> pixels, const std::array<GrayLevel, 16>& levels) {
    std::array<std::uint16_t, INDEX_PAIR_MASK + 1> pairs;  // only the 256 keys of two indices are set
    for (std::uint8_t left = 0; left < 16; ++left)
        for (std::uint8_t right = 0; right < 16; ++right) {
            const std::array<std::uint8_t, 2> key_bytes{left, right};
            const std::array<std::uint8_t, 2> level_bytes{levels[left], levels[right]};
            std::uint16_t key = 0;
            std::memcpy(&key, key_bytes.data(), 2);
            std::memcpy(&pairs[key], level_bytes.data(), 2);
        }
    std::uint8_t* p = pixels.data();
    const std::size_t n = pixels.size();
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        std::uint16_t pair = 0;
        std::memcpy(&pair, p + i, 2);
        std::memcpy(p + i, &pairs[pair & INDEX_PAIR_MASK], 2);
    }
    if (i < n) p[i] = levels[p[i] & 15];
}

}  // namespace

std::uint32_t brightness(std::span<const std::uint8_t, 4> entry) {
    return 2u * entry[2] + 4u * entry[1] + entry[0];
}

int compare_brightness(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t left = a & BRIGHTNESS_MASK;
    const std::uint32_t right = b & BRIGHTNESS_MASK;
    return left < right ? -1 : left > right ? 1 : 0;
}

std::array<GrayLevel, 16> rank_palette(std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette,
                                       unsigned entries) {
    const unsigned k = std::clamp(entries, 1u, 16u);
    std::array<std::uint32_t, 16> words{};
    for (unsigned i = 0; i < k; ++i)
        words[i] = brightness(palette.subspan(4 * i).first<4>()) | i << TAG_SHIFT;
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

std::string record_name_of(const std::string& file_name) {
    const std::size_t n = file_name.size();
    return n >= 4 && file_name[n - 4] == '.' ? file_name.substr(0, n - 4) : file_name;
}

int bmp_to_record(const std::string& file_name, ByteBuffer& record) {
    record.clear();
    std::printf("%s .. ", file_name.c_str());
    ByteStream stream;
    if (open_read(stream, file_name) != 0) return 1;
    const int status = convert_bmp(stream, file_name, record);
    close_stream(stream);
    return status;
}

int convert_bmp(ByteStream& stream, const std::string& file_name, ByteBuffer& record) {
    record.clear();
    Bmp4Image image;
    if (read_bmp(stream, BmpLimits{MAX_IMAGE_WIDTH, MAX_IMAGE_HEIGHT}, image) != 0) return 1;

    const std::array<GrayLevel, 16> levels = rank_palette(image.palette, image.palette_entries);
    indices_to_levels(image.pixels, levels);
    if (pack_image_record(record_name_of(file_name), image.width, image.height, image.pixels, record) != 0) {
        std::printf("Error - picture cannot be stored as a record\n");
        return 1;
    }
    std::printf("OK\n");
    return 0;
}
