// WebP through libwebp's incremental decoder, handed the whole file at once
// (read into memory: libwebp parses what it is given from its start again
// at every new piece, so a file fed piece by piece would cost the square of
// its length). A picture larger than it is made is shrunk by libwebp itself
// while decoding (its rescaler averages areas), straight to the target size.
// A lossy picture is then held only as the made picture; a lossless one is
// decoded whole inside libwebp at up to 5 bytes a pixel, and so is a
// lossless alpha plane beside its plane of one byte a pixel. Animations are
// refused.
// A file cut short is made as far as libwebp decoded it.
#include <webp/decode.h>

#include <vector>

#include "gray/decode.h"

namespace {

const char* words_of(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "not enough memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature libwebp does not support";
        default: return "its data is damaged";
    }
}

// The picture's size and kind, from the file's chunks.
int read_features(Decoding& d, const std::vector<std::uint8_t>& file, WebPBitstreamFeatures& features) {
    const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return stop_early(d, Stop::CUT_SHORT);
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE) return picture_error(d, words_of(status));
    if (status != VP8_STATUS_OK) return picture_error(d, "its header is damaged");
    if (features.has_animation) return picture_error(d, "animated WebP is not supported");
    const std::uint64_t pixels = std::uint64_t{static_cast<std::uint32_t>(features.width)} * static_cast<std::uint32_t>(features.height);
    const bool lossless = features.format == 2;
    // A lossless plane takes 4 bytes a pixel, and its transforms' and
    // entropy codes' own images up to 3/4 more; an alpha plane one more.
    const std::uint64_t planes = lossless ? 5 * pixels : features.has_alpha ? 6 * pixels : 0;
    return check_memory(d, file.size() + planes, lossless ? "lossless" : "transparent");
}

// Hands rows of RGBA over.
void add_rgba_rows(GraySink& sink, const std::uint8_t* rgba, int width, int rows, int stride) {
    for (int y = 0; y < rows; ++y) add_row(sink, {rgba + static_cast<std::ptrdiff_t>(y) * stride, 4 * static_cast<std::size_t>(width)});
}

// The decoder's end: the picture, or as much as was made of it.
int finish(Decoding& d, WebPIDecoder* decoder, VP8StatusCode status, const WebPDecoderConfig& config) {
    if (status == VP8_STATUS_OK) {
        add_rgba_rows(d.sink, config.output.u.RGBA.rgba, config.output.width, config.output.height, config.output.u.RGBA.stride);
        return 0;
    }
    int rows = 0, width = 0, height = 0, stride = 0;
    const std::uint8_t* rgba = WebPIDecGetRGB(decoder, &rows, &width, &height, &stride);
    if (rgba != nullptr && rows > 0) add_rgba_rows(d.sink, rgba, width, rows, stride);
    return status == VP8_STATUS_SUSPENDED ? stop_early(d, Stop::CUT_SHORT) : stop_early(d, Stop::DAMAGED, words_of(status));
}

}  // namespace

int decode_webp(Decoding& d) {
    if (check_memory(d, d.in->size, "in a file as large") != 0) return 1;
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) return picture_error(d, "libwebp is not the version tavo-gray was built for");
    std::vector<std::uint8_t> file(static_cast<std::size_t>(d.in->size));
    file.resize(read_up_to(*d.in, file.data(), file.size()));
    if (d.in->failed || read_features(d, file, config.input) != 0) return 1;
    const auto width = static_cast<std::uint32_t>(config.input.width);
    const auto height = static_cast<std::uint32_t>(config.input.height);
    const RowsPlan plan = plan_rows(width, height, 1);
    config.options.use_scaling = plan.width < width || plan.height < height ? 1 : 0;
    config.options.scaled_width = static_cast<int>(plan.width);
    config.options.scaled_height = static_cast<int>(plan.height);
    if (start_rows(d.sink, {width, height, plan.width, plan.height}) != 0) return 1;
    config.output.colorspace = MODE_RGBA;
    WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
    if (decoder == nullptr) return picture_error(d, "not enough memory");
    const VP8StatusCode status = WebPIUpdate(decoder, file.data(), file.size());  // the file stays ours, read in place
    const int result = finish(d, decoder, status, config);
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config.output);
    return result;
}
