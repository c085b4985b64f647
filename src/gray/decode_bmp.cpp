// BMP pictures through tavo's own reader (formats/bmp4.h). Its rows come in
// the file's order and go to the sink as they come, so that no picture is
// buffered and nothing is sought: a bottom-up file (the usual kind) hands
// its bottom row first, with orientation 4 (mirrored top to bottom), which
// finish_rows turns upright at the end.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "formats/bmp4.h"
#include "gray/decode.h"

namespace {

constexpr BmpLimits GRAY_LIMITS{static_cast<std::int32_t>(MAX_PICTURE_SIDE), static_cast<std::int32_t>(MAX_PICTURE_SIDE)};
constexpr int MIRRORED_TOP_TO_BOTTOM = 4;  // EXIF orientations
constexpr int UPRIGHT = 1;

// The picture as the header gives it; the sink refuses a size of 0 or past its limits.
RowsInfo rows_info(const BmpHeader& h) {
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height < 0 ? -std::int64_t{h.height} : h.height);
    return {width, height, width, height, h.height < 0 ? UPRIGHT : MIRRORED_TOP_TO_BOTTOM, RowFormat::RGBA};
}

// Prints what is wrong with the file's header (or lets the sink say its size is) and returns 1.
int refuse(Decoding& d, BmpError error, const BmpHeader& h) {
    char words[128];
    switch (error) {
        case BmpError::INFO_SIZE:
            std::snprintf(words, sizeof words, "an info header of %" PRIu32 " bytes is not one BMP files have", h.info_size);
            return picture_error(d, words);
        case BmpError::BIT_COUNT:
            std::snprintf(words, sizeof words, "%u bits a pixel is not a BMP depth (1, 2, 4, 8, 16, 24 or 32)", unsigned{h.bit_count});
            return picture_error(d, words);
        case BmpError::COMPRESSION:
            std::snprintf(words, sizeof words, "compression %" PRIu32 " at %u bits a pixel is not one tavo-gray reads", h.compression,
                          unsigned{h.bit_count});
            return picture_error(d, words);
        case BmpError::NO_PIXELS:
        case BmpError::TOO_LARGE:
            if (h.width < 0) {
                std::snprintf(words, sizeof words, "its width is negative (%" PRId32 ")", h.width);
                return picture_error(d, words);
            }
            return start_rows(d.sink, rows_info(h)) != 0 ? 1 : picture_error(d, "the picture is past the size limits");
        case BmpError::INFO_CUT: return picture_error(d, "the file is cut short in its header");
        case BmpError::PALETTE_CUT: return picture_error(d, "the file is cut short in its palette");
        default: return stop_early(d, Stop::CUT_SHORT);
    }
}

// Every row the file holds, as RGBA, to the sink; a file cut short after
// some rows is made as far as it goes.
int hand_over_rows(Decoding& d, BmpRows& rows) {
    std::array<std::uint8_t, 4 * 256> palette{};  // blue, green, red as red, green, blue, opaque; entries the file lacks black
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint8_t* entry = rows.palette.data() + 4 * i;
        palette[4 * i] = entry[2], palette[4 * i + 1] = entry[1], palette[4 * i + 2] = entry[0], palette[4 * i + 3] = 255;
    }
    const auto width = static_cast<std::size_t>(rows.layout.width);
    std::vector<std::uint8_t> rgba(4 * width);
    while (rows.rows_read < static_cast<std::uint64_t>(rows.layout.rows)) {
        if (read_bmp_row(*d.in, rows) != BmpError::NONE) return stop_early(d, Stop::CUT_SHORT);
        for (std::size_t x = 0; x < width; ++x) {
            if (rows.indexed) {
                std::copy_n(palette.begin() + 4 * std::ptrdiff_t{rows.indices[x]}, 4, rgba.begin() + static_cast<std::ptrdiff_t>(4 * x));
                continue;
            }
            const std::uint32_t c = rows.colours[x];  // 0xAARRGGBB
            for (unsigned k = 0; k < 4; ++k) rgba[4 * x + k] = static_cast<std::uint8_t>(c >> (k == 3 ? 24 : 16 - 8 * k));
        }
        add_row(d.sink, rgba);
    }
    return 0;
}

}  // namespace

int decode_bmp_picture(Decoding& d) {
    BmpHeader header;
    if (read_bmp_header(*d.in, header) != 0) return d.in->failed ? 1 : picture_error(d, "the file is cut short in its header");
    BmpRows rows;
    const BmpError error = check_bmp_layout(header, GRAY_LIMITS, rows.layout);
    if (error != BmpError::NONE) return refuse(d, error, header);
    if (start_rows(d.sink, rows_info(header)) != 0) return 1;  // the one allocation that follows is a row
    const BmpError opened = open_bmp_rows(*d.in, rows);
    if (d.in->failed) return 1;
    return opened != BmpError::NONE ? refuse(d, opened, header) : hand_over_rows(d, rows);
}
