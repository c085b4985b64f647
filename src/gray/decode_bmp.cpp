// BMP pictures through tavo's own reader (formats/bmp4.h). Its rows come in
// the file's order and go to the sink as they come, so that no picture is
// buffered and nothing is sought: a bottom-up file (the usual kind) hands
// its bottom row first, with orientation 4 (mirrored top to bottom), which
// finish_rows turns upright at the end.
#include <array>
#include <cinttypes>
#include <vector>

#include "formats/bmp4.h"
#include "gray/decode.h"
#include "io/console.h"

namespace {

constexpr BmpLimits GRAY_LIMITS{static_cast<std::int32_t>(MAX_PICTURE_SIDE), static_cast<std::int32_t>(MAX_PICTURE_SIDE)};
constexpr int MIRRORED_TOP_TO_BOTTOM = 4;  // EXIF orientations
constexpr int UPRIGHT = 1;

// The picture as the header gives it; the sink refuses a size of 0 or past its limits.
RowsInfo rows_info(const BmpHeader& h) {
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height < 0 ? -std::int64_t{h.height} : h.height);
    return {width, height, width, height, h.height < 0 ? UPRIGHT : MIRRORED_TOP_TO_BOTTOM};
}

// Prints what is wrong with the file's header (or lets the sink say its size is) and returns 1.
int refuse(BmpError error, const BmpHeader& h, GraySink& sink) {
    switch (error) {
        case BmpError::INFO_SIZE:
            return fail("Error - BMP: an info header of %" PRIu32 " bytes is not one BMP files have\n", h.info_size);
        case BmpError::BIT_COUNT:
            return fail("Error - BMP: %u bits a pixel is not a BMP depth (1, 2, 4, 8, 16, 24 or 32)\n",
                        unsigned{h.bit_count});
        case BmpError::COMPRESSION:
            return fail("Error - BMP: compression %" PRIu32 " at %u bits a pixel is not one tavo-gray reads\n",
                        h.compression, unsigned{h.bit_count});
        case BmpError::NO_PIXELS:
        case BmpError::TOO_LARGE:
            if (h.width < 0) return fail("Error - BMP: its width is negative (%" PRId32 ")\n", h.width);
            if (start_rows(sink, rows_info(h)) != 0) return 1;
            return fail("Error - BMP: the picture is past the size limits\n");  // the sink says so first
        case BmpError::INFO_CUT: return fail("Error - BMP: the file is cut short in its header\n");
        case BmpError::PALETTE_CUT: return fail("Error - BMP: the file is cut short in its palette\n");
        default: return fail("Error - BMP: the file is cut short before its first row\n");
    }
}

// The gray of each palette entry; entries the file lacks are black.
std::array<float, 256> palette_grays(const BmpRows& rows) {
    std::array<float, 256> grays{};
    for (std::size_t i = 0; i < grays.size(); ++i) {
        const std::uint8_t* entry = rows.palette.data() + 4 * i;  // blue, green, red
        grays[i] = gray_of(entry[2], entry[1], entry[0]);
    }
    return grays;
}

void row_grays(const BmpRows& rows, const std::array<float, 256>& palette, std::vector<float>& grays) {
    for (std::size_t x = 0; x < grays.size(); ++x) {
        if (rows.indexed) {
            grays[x] = palette[rows.indices[x]];
            continue;
        }
        const std::uint32_t c = rows.colours[x];  // 0xAARRGGBB
        grays[x] = gray_of(static_cast<float>(c >> 16 & 0xFF), static_cast<float>(c >> 8 & 0xFF),
                           static_cast<float>(c & 0xFF), static_cast<float>(c >> 24) / 255.0f);
    }
}

// Hands every row the file holds to the sink; a file cut short after some
// rows is made as far as it goes.
int hand_over_rows(ByteStream& stream, BmpRows& rows, GraySink& sink) {
    const std::array<float, 256> palette = palette_grays(rows);
    std::vector<float> grays(static_cast<std::size_t>(rows.layout.width));
    const auto count = static_cast<std::uint64_t>(rows.layout.rows);
    while (rows.rows_read < count && read_bmp_row(stream, rows) == BmpError::NONE) {
        row_grays(rows, palette, grays);
        add_row(sink, grays);
    }
    if (stream.failed) return 1;
    if (rows.rows_read == 0) return fail("Error - BMP: the file is cut short before its first row\n");
    if (rows.rows_read < count)
        print("Warning - BMP: the file is cut short after %" PRIu64 " of its %" PRIu64 " rows; the rest is white\n",
              rows.rows_read, count);
    return 0;
}

}  // namespace

int decode_bmp_picture(ByteStream& stream, GraySink& sink) {
    BmpHeader header;
    if (read_bmp_header(stream, header) != 0)
        return stream.failed ? 1 : fail("Error - BMP: the file is cut short in its header\n");
    BmpRows rows;
    const BmpError error = check_bmp_layout(header, GRAY_LIMITS, rows.layout);
    if (error != BmpError::NONE) return refuse(error, header, sink);
    if (start_rows(sink, rows_info(header)) != 0) return 1;  // the one allocation that follows is a row
    const BmpError opened = open_bmp_rows(stream, rows);
    if (stream.failed) return 1;
    if (opened != BmpError::NONE) return refuse(opened, header, sink);
    return hand_over_rows(stream, rows, sink);
}
