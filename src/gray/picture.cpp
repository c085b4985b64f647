#include "gray/picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include <stb_image.h>

#include "convert/bmp_to_record.h"
#include "convert/names.h"
#include "io/byte_stream.h"
#include "io/console.h"

namespace {

// stb_image reads through a byte stream, so that nothing but a regular file
// is opened and a read error is seen.
ByteStream& stream_of(void* user) { return *static_cast<ByteStream*>(user); }

int read_for_stb(void* user, char* data, int size) {
    int got = 0;
    for (std::uint8_t byte = 0; got < size && get_byte(stream_of(user), byte) == 0; ++got) data[got] = static_cast<char>(byte);
    return got;
}

void skip_for_stb(void* user, int count) {
    ByteStream& stream = stream_of(user);
    const auto at = stream.start + static_cast<std::uint64_t>(stream.next - stream.buffer.data());
    seek_to(stream, at + static_cast<std::uint64_t>(std::max(count, 0)));
}

int at_end_for_stb(void* user) {
    ByteStream& stream = stream_of(user);
    return stream.next == stream.end && refill_stream(stream) != 0 ? 1 : 0;
}

constexpr stbi_io_callbacks READ_STREAM = {read_for_stb, skip_for_stb, at_end_for_stb};

int cannot_decode(const std::string& path, const ByteStream& stream) {
    if (stream.failed) return fail("Error while reading %s\n", shown(path).c_str());
    return fail("Error - not a picture tavo-gray reads (%s)\n", stbi_failure_reason());
}

using StbPixels = std::unique_ptr<stbi_uc, decltype(&stbi_image_free)>;

// The picture's grays, 0 (black) to 255 (white), each pixel's colour put
// onto white as far as it is transparent. Each gray is written over its own
// four bytes of colour, so that a large picture takes its decoded size once.
int decode_grays(const std::string& path, StbPixels& pixels, int& width, int& height) {
    static_assert(sizeof(float) == 4);
    ByteStream stream;
    if (open_read(stream, path) != 0) return fail("Error while opening %s\n", shown(path).c_str());
    int channels = 0;
    if (stbi_info_from_callbacks(&READ_STREAM, &stream, &width, &height, &channels) == 0) return cannot_decode(path, stream);
    if (width > MAX_PICTURE_SIDE || height > MAX_PICTURE_SIDE)
        return fail("Error - %dx%d pixels, more than %d a side\n", width, height, MAX_PICTURE_SIDE);
    seek_to(stream, 0);
    pixels.reset(stbi_load_from_callbacks(&READ_STREAM, &stream, &width, &height, &channels, 4));
    if (!pixels || stream.failed) return cannot_decode(path, stream);
    stbi_uc* const bytes = pixels.get();
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * static_cast<std::size_t>(height); ++i) {
        const stbi_uc* pixel = bytes + 4 * i;
        const std::array<std::uint8_t, 4> entry = {pixel[2], pixel[1], pixel[0], 0};  // as a palette entry: blue first
        const float opacity = pixel[3] / 255.0f;
        const float gray = static_cast<float>(brightness(entry)) / 7.0f * opacity + 255.0f * (1.0f - opacity);
        std::memcpy(bytes + 4 * i, &gray, sizeof gray);
    }
    return 0;
}

}  // namespace

std::vector<float> shrink_and_turn(std::span<const float> in, int in_length, int lines, int out_length) {
    std::vector<float> out(static_cast<std::size_t>(out_length) * static_cast<std::size_t>(lines));
    const double step = static_cast<double>(in_length) / out_length;  // the input each output sample covers
    for (int line = 0; line < lines; ++line) {
        const float* samples = in.data() + static_cast<std::size_t>(line) * static_cast<std::size_t>(in_length);
        for (int k = 0; k < out_length; ++k) {
            const double from = k * step;
            const double to = (k + 1) * step;
            double sum = 0;
            for (int i = static_cast<int>(from); i < in_length && i < to; ++i)
                sum += (std::min<double>(to, i + 1) - std::max<double>(from, i)) * samples[i];
            out[static_cast<std::size_t>(k) * static_cast<std::size_t>(lines) + static_cast<std::size_t>(line)] =
                static_cast<float>(sum / step);
        }
    }
    return out;
}

std::vector<GrayLevel> to_levels(std::vector<float> grays, int width, int height, bool line_art) {
    std::vector<GrayLevel> levels(grays.size());
    const auto spread = [&](int x, int y, float error, float share) {  // to a neighbour that is still to come
        if (x >= 0 && x < width && y < height) grays[static_cast<std::size_t>(y * width + x)] += error * share;
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto i = static_cast<std::size_t>(y * width + x);
            const float gray = std::clamp(grays[i], 0.0f, 255.0f);
            levels[i] = static_cast<GrayLevel>(std::lround((255.0f - gray) / 17.0f));
            if (line_art) continue;
            const float error = gray - (255.0f - 17.0f * levels[i]);
            spread(x + 1, y, error, 7 / 16.0f);
            spread(x - 1, y + 1, error, 3 / 16.0f);
            spread(x, y + 1, error, 5 / 16.0f);
            spread(x + 1, y + 1, error, 1 / 16.0f);
        }
    }
    return levels;
}

int prepare_picture(const std::string& path, bool line_art, GrayPicture& picture) {
    picture = GrayPicture{};
    StbPixels pixels(nullptr, &stbi_image_free);
    int width = 0;
    int height = 0;
    if (decode_grays(path, pixels, width, height) != 0) return 1;
    const std::span<const float> grays(reinterpret_cast<const float*>(pixels.get()),
                                       static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::vector<float> fitted;
    if (width <= MAX_IMAGE_WIDTH && height <= MAX_IMAGE_HEIGHT) {
        fitted.assign(grays.begin(), grays.end());
    } else {  // shrunk to fit, keeping its shape
        const double scale = std::max(static_cast<double>(width) / MAX_IMAGE_WIDTH, static_cast<double>(height) / MAX_IMAGE_HEIGHT);
        const int fit_width = std::clamp(static_cast<int>(std::lround(width / scale)), 1, MAX_IMAGE_WIDTH);
        const int fit_height = std::clamp(static_cast<int>(std::lround(height / scale)), 1, MAX_IMAGE_HEIGHT);
        fitted = shrink_and_turn(shrink_and_turn(grays, width, height, fit_width), height, fit_width, fit_height);
        width = fit_width;
        height = fit_height;
    }
    pixels.reset();
    picture = {width, height, to_levels(std::move(fitted), width, height, line_art)};
    return 0;
}
