#include "formats/image_record.h"

#include "formats/nibbles.h"

#include <algorithm>

int pack_image_record(std::string_view name, int width, int height,
                      std::span<const GrayLevel> levels, ByteBuffer& record) {
    record.clear();
    if (width < 1 || height < 1 || height > 255) return 1;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t row_bytes = (w + 1) / 2;
    if (row_bytes > 255 || levels.size() < w * h) return 1;

    record.resize(RECORD_HEADER_SIZE + row_bytes * h);  // every byte is set below
    record[0] = static_cast<std::uint8_t>(row_bytes);
    record[1] = static_cast<std::uint8_t>(h);
    const std::size_t name_length = std::min(name.size(), RECORD_NAME_MAX);
    const auto name_field = record.begin() + 2;
    std::copy_n(name.begin(), name_length, name_field);
    std::fill(name_field + static_cast<std::ptrdiff_t>(name_length), name_field + RECORD_NAME_SIZE, std::uint8_t{0});

    // Row by row: join the row's pixels, then deal its bytes out to the
    // byte columns.
    ByteBuffer row(row_bytes);
    for (std::size_t r = 0; r < h; ++r) {
        join_row(levels.data() + r * w, w, row.data());
        std::uint8_t* out = record.data() + RECORD_HEADER_SIZE + r;
#pragma GCC unroll 8
        for (std::size_t j = 0; j < row_bytes; ++j) out[j * h] = row[j];
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
    // Row by row: gather the row's bytes from the byte columns, then
    // spread them.
    ByteBuffer row(row_bytes);
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* in = record.data() + RECORD_HEADER_SIZE + r;
#pragma GCC unroll 8
        for (std::size_t j = 0; j < row_bytes; ++j) row[j] = in[j * h];
        split_row(row.data(), w, image.levels.data() + r * w);
    }
    return 0;
}
