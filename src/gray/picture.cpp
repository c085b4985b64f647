#include "gray/picture.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "gray/decode.h"
#include "io/console.h"

namespace {

int decode(Decoding& d) {
    if (d.format == PictureFormat::BMP) return decode_bmp_picture(d);
#ifdef _WIN32
    return decode_wic(d);
#else
    switch (d.format) {
        case PictureFormat::JPEG: return decode_jpeg(d);
        case PictureFormat::PNG: return decode_png(d);
        case PictureFormat::GIF: return decode_gif(d);
        case PictureFormat::WEBP: return decode_webp(d);
        default: return decode_heif(d);
    }
#endif
}

}  // namespace

std::vector<GrayLevel> to_levels(std::vector<float> grays, std::uint32_t width, std::uint32_t height, bool line_art) {
    std::vector<GrayLevel> levels(grays.size());
    const auto spread = [&](std::uint32_t x, std::uint32_t y, float error, float share) {  // to a neighbour still to come
        if (x < width && y < height) grays[std::size_t{y} * width + x] += error * share;
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t i = std::size_t{y} * width + x;
            const float gray = std::clamp(grays[i], 0.0f, 255.0f);
            levels[i] = static_cast<GrayLevel>(std::lround((255.0f - gray) / 17.0f));
            if (line_art) continue;
            const float error = gray - (255.0f - 17.0f * levels[i]);
            spread(x + 1, y, error, 7 / 16.0f);
            spread(x - 1, y + 1, error, 3 / 16.0f);  // x - 1 wraps past width at x = 0: no neighbour
            spread(x, y + 1, error, 5 / 16.0f);
            spread(x + 1, y + 1, error, 1 / 16.0f);
        }
    }
    return levels;
}

int make_picture(ByteStream& stream, bool line_art, GrayPicture& picture, std::uint64_t max_pixels) {
    picture = GrayPicture{};
    std::array<std::uint8_t, 12> first{};  // enough to tell the format
    const std::size_t got = read_up_to(stream, first.data(), first.size());
    Decoding d;
    d.in = &stream;
    d.format = detect_format(std::span(first).first(got));
    if (stream.failed) return 1;
    if (got == 0) return fail("Error - the file is empty\n");
    if (d.format == PictureFormat::UNKNOWN) return fail("Error - not a picture tavo-gray reads (JPEG, PNG, GIF, BMP, WebP, HEIC, AVIF)\n");
    seek_to(stream, 0);
    stream.deadline = std::chrono::steady_clock::now() + MAX_DECODING_TIME;
    d.sink.max_pixels = max_pixels;
    if (decode(d) != 0) return 1;
    std::vector<float> grays = finish_rows(d.sink, picture.width, picture.height);
    picture.levels = to_levels(std::move(grays), picture.width, picture.height, line_art);
    return 0;
}
