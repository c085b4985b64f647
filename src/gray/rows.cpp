#include "gray/rows.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "formats/image_record.h"
#include "io/console.h"

namespace {

constexpr auto FIT_WIDTH = static_cast<std::uint32_t>(MAX_IMAGE_WIDTH);
constexpr auto FIT_HEIGHT = static_cast<std::uint32_t>(MAX_IMAGE_HEIGHT);

bool turned_sideways(int orientation) { return orientation >= 5 && orientation <= 8; }

// Area averaging of in samples down to out (in >= out): sample i covers
// [i * out, (i + 1) * out) and output k covers [k * in, (k + 1) * in), in
// units of 1 / (in * out) of a sample. Each input sample lies in one output
// or across the border of two: to[i] is the first, share[i] its overlap
// there, the rest (out - share) in the next.
void overlaps(std::uint32_t in, std::uint32_t out, std::vector<std::uint32_t>& to, std::vector<std::uint32_t>& share) {
    to.resize(in);
    share.resize(in);
    for (std::uint64_t i = 0; i < in; ++i) {
        const std::uint64_t k = i * out / in;
        const std::uint64_t border = (k + 1) * in;
        to[i] = static_cast<std::uint32_t>(k);
        share[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>((i + 1) * out, border) - i * out);
    }
}

// The stored pixel (sx, sy) that shows at (x, y), for a stored w x h picture.
void source_of(int orientation, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h, std::uint32_t& sx,
               std::uint32_t& sy) {
    switch (orientation) {
        case 2: sx = w - 1 - x, sy = y; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sx = x, sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;
        case 6: sx = y, sy = h - 1 - x; break;
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;
        case 8: sx = w - 1 - y, sy = x; break;
        default: sx = x, sy = y; break;
    }
}

}  // namespace

RowsPlan plan_rows(std::uint32_t width, std::uint32_t height, int orientation) {
    RowsPlan plan;
    const bool sideways = turned_sideways(orientation);
    const std::uint32_t shown_width = sideways ? height : width;
    const std::uint32_t shown_height = sideways ? width : height;
    plan.width = shown_width;
    plan.height = shown_height;
    if (shown_width > FIT_WIDTH || shown_height > FIT_HEIGHT) {  // shrunk to fit, keeping its shape
        const double scale = std::max(static_cast<double>(shown_width) / FIT_WIDTH, static_cast<double>(shown_height) / FIT_HEIGHT);
        plan.width = static_cast<std::uint32_t>(std::clamp<long>(std::lround(shown_width / scale), 1, FIT_WIDTH));
        plan.height = static_cast<std::uint32_t>(std::clamp<long>(std::lround(shown_height / scale), 1, FIT_HEIGHT));
    }
    const std::uint32_t stored_width = sideways ? plan.height : plan.width;
    const std::uint32_t stored_height = sideways ? plan.width : plan.height;
    for (unsigned f = 8; f > 1; f /= 2) {  // a decoder that shrinks by f hands over the sides / f, rounded up
        if ((width + f - 1) / f >= stored_width && (height + f - 1) / f >= stored_height) {
            plan.reduction = f;
            break;
        }
    }
    return plan;
}

int check_picture_size(std::uint32_t width, std::uint32_t height, std::uint64_t max_pixels) {
    if (width == 0 || height == 0) return fail("Error - the picture is %" PRIu32 "x%" PRIu32 " pixels: it has none\n", width, height);
    if (width > MAX_PICTURE_SIDE || height > MAX_PICTURE_SIDE || std::uint64_t{width} * height > max_pixels)
        return fail("Error - the picture is %" PRIu32 "x%" PRIu32 " pixels, more than tavo-gray takes (%" PRIu32
                    " a side, %" PRIu64 " million in all)\n",
                    width, height, MAX_PICTURE_SIDE, max_pixels / 1000000);
    return 0;
}

int start_rows(GraySink& sink, const RowsInfo& info) {
    const std::uint64_t max_pixels = sink.max_pixels;
    sink = GraySink{};
    sink.max_pixels = max_pixels;
    if (check_picture_size(info.width, info.height, max_pixels) != 0) return 1;
    sink.info = info;
    const RowsPlan plan = plan_rows(info.width, info.height, info.orientation);
    const bool sideways = turned_sideways(info.orientation);
    sink.out_width = sideways ? plan.height : plan.width;
    sink.out_height = sideways ? plan.width : plan.height;
    // A decoder never hands over fewer rows or columns than are made.
    sink.info.row_width = std::max(info.row_width, sink.out_width);
    sink.info.row_count = std::max(info.row_count, sink.out_height);
    overlaps(sink.info.row_width, sink.out_width, sink.column_to, sink.column_share);
    sink.sums.assign(std::size_t{sink.out_width} * sink.out_height, 0.0);
    sink.row.assign(sink.out_width + 1, 0.0);
    return 0;
}

void add_row(GraySink& sink, std::span<const std::uint8_t> samples) {
    const std::uint32_t in_rows = sink.info.row_count;
    if (sink.rows_in >= in_rows || sink.out_width == 0) return;
    const std::uint32_t width = sink.info.row_width;
    const auto channels = static_cast<std::size_t>(sink.info.format);
    std::fill(sink.row.begin(), sink.row.end(), 0.0);
    for (std::uint32_t i = 0; i < width; ++i) {
        const std::span<const std::uint8_t> p = (i + 1) * channels <= samples.size() ? samples.subspan(i * channels, channels)
                                                                                     : std::span<const std::uint8_t>{};
        const double gray = p.empty() ? 255.0  // white past a short row's end
                            : channels == 1 ? p[0] : gray_of(p[0], p[1], p[2], p[3] / 255.0f);
        const std::uint32_t share = sink.column_share[i];
        sink.row[sink.column_to[i]] += gray * share;
        sink.row[sink.column_to[i] + 1] += gray * (sink.out_width - share);
    }
    // This row across the one or two output rows it falls in.
    const std::uint64_t i = sink.rows_in++;
    const std::uint64_t out = sink.out_height;
    const std::uint64_t k = i * out / in_rows;
    const std::uint64_t border = (k + 1) * in_rows;
    const auto share = static_cast<double>(std::min<std::uint64_t>((i + 1) * out, border) - i * out);
    double* first = sink.sums.data() + k * sink.out_width;
    for (std::uint32_t x = 0; x < sink.out_width; ++x) first[x] += sink.row[x] * share;
    if (share < static_cast<double>(out) && k + 1 < out) {
        double* next = first + sink.out_width;
        for (std::uint32_t x = 0; x < sink.out_width; ++x) next[x] += sink.row[x] * (static_cast<double>(out) - share);
    }
}

std::vector<float> finish_rows(GraySink& sink, std::uint32_t& width, std::uint32_t& height) {
    while (sink.rows_in < sink.info.row_count) add_row(sink, {});  // a row of nothing is white throughout
    const std::uint32_t w = sink.out_width;
    const std::uint32_t h = sink.out_height;
    const bool sideways = turned_sideways(sink.info.orientation);
    width = sideways ? h : w;
    height = sideways ? w : h;
    const double area = static_cast<double>(sink.info.row_width) * sink.info.row_count;
    std::vector<float> grays(std::size_t{w} * h);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t sx = 0;
            std::uint32_t sy = 0;
            source_of(sink.info.orientation, x, y, w, h, sx, sy);
            grays[std::size_t{y} * width + x] = static_cast<float>(sink.sums[std::size_t{sy} * w + sx] / area);
        }
    }
    return grays;
}
