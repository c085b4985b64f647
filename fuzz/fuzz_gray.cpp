// The picture fuzz target: the input through the whole of tavo-gray's
// picture path, in memory: the format detection, every decoder (the
// libraries' among them) into the shrinker, the dither; then the shrinker
// alone with sizes and grays taken from the input, and the EXIF reader on
// the input as a TIFF block. It aborts when a property breaks. libFuzzer
// drives it (fuzz/run); the tests replay fuzz/pictures/ and
// fuzz/crashers/gray/ through fuzz_gray_input.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "gray/decode.h"
#include "gray/picture.h"

namespace fuzz_gray {

// Pictures past this many pixels are refused, so that each input takes
// milliseconds; the real limits are the tests' and the header's.
constexpr std::uint64_t MAX_FUZZED_PIXELS = 1u << 16;
constexpr std::uint32_t MADE_SIDE = 160;

// A made picture: 1 to 160 pixels a side, grays 0..255 (within rounding),
// and 16 levels, each the nearest gray's when not dithered.
void check_made(const std::vector<float>& grays, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0 || width > MADE_SIDE || height > MADE_SIDE) std::abort();
    if (grays.size() != std::size_t{width} * height) std::abort();
    for (const float gray : grays)
        if (!(gray >= -0.01f && gray <= 255.01f)) std::abort();  // NaN too
    const std::vector<GrayLevel> dithered = to_levels(grays, width, height, false);
    const std::vector<GrayLevel> nearest = to_levels(grays, width, height, true);
    if (dithered.size() != grays.size() || nearest.size() != grays.size()) std::abort();
    for (std::size_t i = 0; i < grays.size(); ++i) {
        if (dithered[i] > 15 || nearest[i] > 15) std::abort();
        if (std::fabs(255.0f - 17.0f * nearest[i] - std::clamp(grays[i], 0.0f, 255.0f)) > 8.51f) std::abort();
    }
}

// Whatever the bytes, a picture made is 1 to 160 pixels a side in 16 levels.
void fuzz_picture(std::span<const std::uint8_t> input) {
    ByteStream stream;
    open_memory(stream, input);
    GrayPicture picture;
    if (make_picture(stream, false, picture, MAX_FUZZED_PIXELS) != 0) return;
    if (picture.width == 0 || picture.height == 0 || picture.width > MADE_SIDE || picture.height > MADE_SIDE) std::abort();
    if (picture.levels.size() != std::size_t{picture.width} * picture.height) std::abort();
    if (std::any_of(picture.levels.begin(), picture.levels.end(), [](GrayLevel level) { return level > 15; })) std::abort();
}

// The shrinker on a picture of the input's sizes and orientation whose
// grays are the input's bytes over and over: every gray made lies between
// the least and the greatest handed over.
void fuzz_shrinker(std::span<const std::uint8_t> input) {
    if (input.size() < 4) return;
    const std::uint32_t width = 1u + input[0];  // up to 256: shrunk when past 160
    const std::uint32_t height = 1u + input[1];
    const int orientation = 1 + input[2] % 8;
    const std::span<const std::uint8_t> bytes = input.subspan(3);
    GraySink sink;
    if (start_rows(sink, {width, height, width, height, orientation, RowFormat::GRAY}) != 0) std::abort();
    std::vector<std::uint8_t> row(width);
    std::size_t at = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint8_t& gray : row) gray = bytes[at++ % bytes.size()];
        add_row(sink, row);
    }
    const auto [least, greatest] = std::minmax_element(bytes.begin(), bytes.end());
    const RowsPlan plan = plan_rows(width, height, orientation);
    std::uint32_t made_width = 0;
    std::uint32_t made_height = 0;
    const std::vector<float> grays = finish_rows(sink, made_width, made_height);
    if (made_width != plan.width || made_height != plan.height) std::abort();
    for (const float gray : grays)
        if (gray < *least - 0.01f || gray > *greatest + 0.01f) std::abort();
    check_made(grays, made_width, made_height);
}

}  // namespace fuzz_gray

int fuzz_gray_input(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const PictureFormat format = detect_format(input.first(std::min<std::size_t>(size, 12)));
    if ((format == PictureFormat::BMP) != (size >= 2 && data[0] == 'B' && data[1] == 'M')) std::abort();
    const int orientation = orientation_in_tiff(input);
    if (orientation < 1 || orientation > 8) std::abort();
    fuzz_gray::fuzz_picture(input);
    fuzz_gray::fuzz_shrinker(input);
    return 0;
}

// The tests replay its inputs through fuzz_gray_input; only libFuzzer calls this.
#ifndef FUZZ_GRAY_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return fuzz_gray_input(data, size); }
#endif
