// WebP through libwebp's incremental decoder, handed the whole file at once
// (read into memory: libwebp parses what it is given from its start again
// at every new piece, so a file fed piece by piece would cost the square of
// its length). A picture larger than it is made is shrunk by libwebp itself
// while decoding (its rescaler averages areas), straight to the target size.
// A lossy picture is then held only as the made picture; a lossless one, or
// one with an alpha plane, is decoded whole inside libwebp, so the file and
// those planes must stay under the decoder memory limit. Animations are
// refused. A file cut short is made as far as libwebp decoded it.
#include <webp/decode.h>

#include <cinttypes>
#include <vector>

#include "gray/decode.h"
#include "io/console.h"

namespace {

// The whole file; 1 on a read error.
int read_file(ByteStream& stream, std::vector<std::uint8_t>& bytes) {
    bytes.resize(static_cast<std::size_t>(stream.size));
    std::size_t got = 0;
    while (got < bytes.size() && get_byte(stream, bytes[got]) == 0) ++got;
    bytes.resize(got);
    return stream.failed ? 1 : 0;
}

const char* words_of(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "not enough memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature libwebp does not support";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the file is cut short";
        default: return "its data is damaged";
    }
}

// The picture's size and kind, from the file's chunks.
int read_features(const std::vector<std::uint8_t>& file, WebPBitstreamFeatures& features) {
    const VP8StatusCode status = WebPGetFeatures(file.data(), file.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return fail("Error - WebP: the file is cut short before its first row\n");
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE) return fail("Error - WebP: %s\n", words_of(status));
    if (status != VP8_STATUS_OK) return fail("Error - WebP: its header is damaged\n");
    if (features.has_animation) return fail("Error - WebP: animated WebP is not supported\n");
    return 0;
}

// What libwebp holds besides the made picture: the file, and the whole
// picture at 4 bytes a pixel when lossless, or its alpha plane at one.
int check_memory(const std::vector<std::uint8_t>& file, const WebPBitstreamFeatures& features) {
    const std::uint64_t pixels = std::uint64_t{static_cast<std::uint32_t>(features.width)} * static_cast<std::uint32_t>(features.height);
    const std::uint64_t planes = features.format == 2 ? 4 * pixels : features.has_alpha ? pixels : 0;
    if (file.size() + planes > MAX_DECODER_MEMORY)
        return fail("Error - WebP: the picture is %s and too large to decode at once (more than %" PRIu64 " MiB)\n",
                    features.format == 2 ? "lossless" : "transparent", MAX_DECODER_MEMORY >> 20);
    return 0;
}

// Hands rows of RGBA over as grays, put onto white as far as they are transparent.
void add_rgba_rows(GraySink& sink, const std::uint8_t* rgba, int width, int rows, int stride) {
    std::vector<float> grays(static_cast<std::size_t>(width));
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* p = rgba + static_cast<std::ptrdiff_t>(y) * stride;
        for (std::size_t x = 0; x < grays.size(); ++x, p += 4) grays[x] = gray_of(p[0], p[1], p[2], p[3] / 255.0f);
        add_row(sink, grays);
    }
}

// The decoder's end: the picture, or as much as was made of it with a
// warning, or an error when no row was made.
int finish(ByteStream& stream, WebPIDecoder* decoder, VP8StatusCode status, const WebPDecoderConfig& config, GraySink& sink) {
    if (stream.failed) return 1;
    const WebPRGBABuffer& out = config.output.u.RGBA;
    if (status == VP8_STATUS_OK) {
        add_rgba_rows(sink, out.rgba, config.output.width, config.output.height, out.stride);
        return 0;
    }
    int rows = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    const std::uint8_t* rgba = WebPIDecGetRGB(decoder, &rows, &width, &height, &stride);
    const bool cut_short = status == VP8_STATUS_SUSPENDED;
    if (rgba == nullptr || rows <= 0)
        return fail("Error - WebP: %s\n", cut_short ? "the file is cut short before its first row" : words_of(status));
    const std::uint64_t stored_rows = std::uint64_t{static_cast<std::uint32_t>(rows)} * sink.info.height / static_cast<std::uint32_t>(height);
    print("Warning - WebP: the file is %s after %" PRIu64 " of %" PRIu32 " rows\n", cut_short ? "cut short" : "damaged", stored_rows,
          sink.info.height);
    add_rgba_rows(sink, rgba, width, rows, stride);
    return 0;
}

}  // namespace

int decode_webp(ByteStream& stream, GraySink& sink) {
    if (stream.size > MAX_DECODER_MEMORY)
        return fail("Error - WebP: the file is larger than tavo-gray holds (%" PRIu64 " MiB)\n", MAX_DECODER_MEMORY >> 20);
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) return fail("Error - WebP: libwebp is not the version tavo-gray was built for\n");
    std::vector<std::uint8_t> file;
    if (read_file(stream, file) != 0) return 1;
    if (read_features(file, config.input) != 0 || check_memory(file, config.input) != 0) return 1;
    const auto width = static_cast<std::uint32_t>(config.input.width);
    const auto height = static_cast<std::uint32_t>(config.input.height);
    const RowsPlan plan = plan_rows(width, height, 1);
    if (plan.width < width || plan.height < height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = static_cast<int>(plan.width);
        config.options.scaled_height = static_cast<int>(plan.height);
    }
    const std::uint32_t out_width = config.options.use_scaling ? plan.width : width;
    const std::uint32_t out_height = config.options.use_scaling ? plan.height : height;
    if (start_rows(sink, RowsInfo{width, height, out_width, out_height, 1}) != 0) return 1;
    config.output.colorspace = MODE_RGBA;
    WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
    if (decoder == nullptr) return fail("Error - WebP: not enough memory\n");
    const VP8StatusCode status = WebPIUpdate(decoder, file.data(), file.size());  // the file stays ours, read in place
    const int result = finish(stream, decoder, status, config, sink);
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config.output);
    return result;
}
