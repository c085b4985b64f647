#include "formats/image_record.h"

#include <algorithm>

#include "io/byte_stream.h"
#include "io/console.h"

int pack_image_record(std::string_view name, int width, int height, std::span<const std::uint8_t> pixels,
                      const LevelTable& level_of, std::vector<std::uint8_t>& record) {
    record.clear();
    if (width < 1 || width > 2 * 255 || height < 1 || height > 255) return 1;
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (pixels.size() < w * h) return 1;
    record.assign(RECORD_HEADER_SIZE + row_bytes(w) * h, 0);
    record[0] = static_cast<std::uint8_t>(row_bytes(w));
    record[1] = static_cast<std::uint8_t>(h);
    std::copy_n(name.begin(), std::min(name.size(), RECORD_NAME_MAX), record.begin() + 2);
    const auto level = [&](std::uint8_t pixel) { return level_of[pixel & 15]; };
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* row = pixels.data() + r * w;
        std::uint8_t* out = record.data() + RECORD_HEADER_SIZE + r;  // then h bytes further per byte column
        for (std::size_t j = 0; j < w / 2; ++j, out += h)
            *out = static_cast<std::uint8_t>(level(row[2 * j]) << 4 | level(row[2 * j + 1]));
        if (w % 2 != 0) *out = static_cast<std::uint8_t>(level(row[w - 1]) << 4);  // a last pixel on its own
    }
    return 0;
}

int unpack_image_record(std::span<const std::uint8_t> record, unsigned number, ImageRecord& image) {
    image = ImageRecord{};
    if (record.size() < RECORD_HEADER_SIZE)
        return fail("Error - record %u is shorter than a picture header (%zu of %zu bytes)\n", number, record.size(),
                    RECORD_HEADER_SIZE);
    const std::size_t columns = record[0];
    const std::size_t h = record[1];
    const std::size_t w = 2 * columns;
    if (w == 0 || h == 0) return fail("Error - record %u holds a %zux%zu picture, which has no pixels\n", number, w, h);
    if (record.size() - RECORD_HEADER_SIZE < columns * h)
        return fail("Error - record %u is shorter than its %zux%zu picture\n", number, w, h);
    const auto name_field = record.subspan(2, RECORD_NAME_MAX);
    image.name.assign(name_field.begin(), std::find(name_field.begin(), name_field.end(), 0));
    image.row_bytes = record[0];
    image.height = record[1];
    image.levels.resize(w * h);
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* in = record.data() + RECORD_HEADER_SIZE + r;  // then h bytes further per byte column
        GrayLevel* row = image.levels.data() + r * w;
        for (std::size_t j = 0; j < columns; ++j, in += h) {
            row[2 * j] = *in >> 4;
            row[2 * j + 1] = *in & 15;
        }
    }
    return 0;
}
