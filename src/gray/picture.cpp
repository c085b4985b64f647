#include "gray/picture.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "convert/names.h"
#include "gray/decode.h"
#include "io/byte_stream.h"
#include "io/console.h"

namespace {

// The first bytes of the file, enough to tell its format.
PictureFormat format_of(ByteStream& stream) {
    std::array<std::uint8_t, 12> first{};
    std::size_t got = 0;
    while (got < first.size() && get_byte(stream, first[got]) == 0) ++got;
    return detect_format(std::span(first).first(got));
}

int decode(ByteStream& stream, PictureFormat format, GraySink& sink) {
    int orientation = 1;
    if (format == PictureFormat::JPEG) {
        orientation = read_jpeg_orientation(stream);
        seek_to(stream, 0);
    }
    if (format == PictureFormat::BMP) return decode_bmp_picture(stream, sink);
#ifdef _WIN32
    return decode_wic(stream, format, orientation, sink);
#else
    switch (format) {
        case PictureFormat::JPEG: return decode_jpeg(stream, orientation, sink);
        case PictureFormat::PNG: return decode_png(stream, sink);
        case PictureFormat::GIF: return decode_gif(stream, sink);
        case PictureFormat::WEBP: return decode_webp(stream, sink);
        default: return 1;
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

int prepare_picture(const std::string& path, bool line_art, GrayPicture& picture) {
    picture = GrayPicture{};
    ByteStream stream;
    if (open_read(stream, path) != 0) return fail("Error while opening %s\n", shown(path).c_str());
    const PictureFormat format = format_of(stream);
    if (stream.failed) return fail("Error while reading %s\n", shown(path).c_str());
    if (format == PictureFormat::UNKNOWN) return fail("Error - not a picture tavo-gray reads (PNG, JPEG, GIF, BMP, WebP)\n");
    seek_to(stream, 0);
    GraySink sink;
    const int status = decode(stream, format, sink);  // says nothing of a read error
    if (close_stream(stream) != 0) return fail("Error while reading %s\n", shown(path).c_str());
    if (status != 0) return 1;
    std::vector<float> grays = finish_rows(sink, picture.width, picture.height);
    picture.levels = to_levels(std::move(grays), picture.width, picture.height, line_art);
    return 0;
}
