#include "formats/image_record.h"

#include <algorithm>

int pack_image_record(std::string_view name, int width, int height,
                      std::span<const GrayLevel> levels, std::vector<std::uint8_t>& record) {
    record.clear();
    if (width < 1 || height < 1 || height > 255) return 1;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t row_bytes = (w + 1) / 2;
    if (row_bytes > 255 || levels.size() < w * h) return 1;

    record.assign(RECORD_HEADER_SIZE + row_bytes * h, 0);
    record[0] = static_cast<std::uint8_t>(row_bytes);
    record[1] = static_cast<std::uint8_t>(h);
    const std::size_t name_length = std::min(name.size(), RECORD_NAME_MAX);
    std::copy_n(name.begin(), name_length, record.begin() + 2);

    std::uint8_t* out = record.data() + RECORD_HEADER_SIZE;
    for (std::size_t x = 0; x + 1 < w; x += 2) {
        const GrayLevel* in = levels.data() + x;
        for (std::size_t r = 0; r < h; ++r, in += w) *out++ = static_cast<std::uint8_t>(in[0] << 4 | (in[1] & 15));
    }
    if (w % 2 != 0) {
        const GrayLevel* in = levels.data() + w - 1;
        for (std::size_t r = 0; r < h; ++r, in += w) *out++ = static_cast<std::uint8_t>(in[0] << 4);
    }
    return 0;
}

int unpack_image_record(std::span<const std::uint8_t> record, ImageRecord& image) {
    image = ImageRecord{};
    if (record.size() < RECORD_HEADER_SIZE) return 1;
    const std::size_t row_bytes = record[0];
    const std::size_t h = record[1];
    if (record.size() - RECORD_HEADER_SIZE < row_bytes * h) return 1;

    const auto name_field = record.subspan(2, RECORD_NAME_MAX);
    const auto name_end = std::find(name_field.begin(), name_field.end(), std::uint8_t{0});
    image.name.assign(name_field.begin(), name_end);
    image.row_bytes = static_cast<std::uint8_t>(row_bytes);
    image.height = static_cast<std::uint8_t>(h);

    const std::size_t w = 2 * row_bytes;
    image.levels.resize(w * h);
    if (image.levels.empty()) return 0;  // no rows or no columns: nothing to point into
    const std::uint8_t* in = record.data() + RECORD_HEADER_SIZE;
    for (std::size_t x = 0; x < w; x += 2) {
        GrayLevel* out = image.levels.data() + x;
        for (std::size_t r = 0; r < h; ++r, out += w) {
            const std::uint8_t byte = *in++;
            out[0] = static_cast<GrayLevel>(byte >> 4);
            out[1] = static_cast<GrayLevel>(byte & 15);
        }
    }
    return 0;
}
