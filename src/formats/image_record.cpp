#include "formats/image_record.h"

#include <algorithm>
#include <cstdio>

int pack_image_record(std::string_view name, int width, int height, std::span<const GrayLevel> levels,
                      std::vector<std::uint8_t>& record) {
    record.clear();
    if (width < 1 || width > 2 * 255 || height < 1 || height > 255) return 1;
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (levels.size() < w * h) return 1;
    record.assign(RECORD_HEADER_SIZE + row_bytes(w) * h, 0);
    record[0] = static_cast<std::uint8_t>(row_bytes(w));
    record[1] = static_cast<std::uint8_t>(h);
    std::copy_n(name.begin(), std::min(name.size(), RECORD_NAME_MAX), record.begin() + 2);
    for (std::size_t r = 0; r < h; ++r)
        for (std::size_t x = 0; x < w; ++x)
            record[RECORD_HEADER_SIZE + x / 2 * h + r] |=
                static_cast<std::uint8_t>((levels[r * w + x] & 15) << (x % 2 == 0 ? 4 : 0));
    return 0;
}

int unpack_image_record(std::span<const std::uint8_t> record, unsigned number, ImageRecord& image) {
    image = ImageRecord{};
    if (record.size() < RECORD_HEADER_SIZE) {
        std::printf("Error - record %u is shorter than a picture header (%zu of %zu bytes)\n", number, record.size(),
                    RECORD_HEADER_SIZE);
        return 1;
    }
    const std::size_t columns = record[0];
    const std::size_t h = record[1];
    const std::size_t w = 2 * columns;
    if (w == 0 || h == 0) {
        std::printf("Error - record %u holds a %zux%zu picture, which has no pixels\n", number, w, h);
        return 1;
    }
    if (record.size() - RECORD_HEADER_SIZE < columns * h) {
        std::printf("Error - record %u is shorter than its %zux%zu picture\n", number, w, h);
        return 1;
    }
    const auto name_field = record.subspan(2, RECORD_NAME_MAX);
    image.name.assign(name_field.begin(), std::find(name_field.begin(), name_field.end(), 0));
    image.row_bytes = record[0];
    image.height = record[1];
    image.levels.resize(w * h);
    for (std::size_t r = 0; r < h; ++r)
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t b = record[RECORD_HEADER_SIZE + x / 2 * h + r];
            image.levels[r * w + x] = x % 2 == 0 ? b >> 4 : b & 15;
        }
    return 0;
}
