// WebP through libwebp's incremental decoder, fed from the stream as it is
// read. A picture larger than it is made is shrunk by libwebp itself while
// decoding (its rescaler averages areas), straight to the target size, so
// that only the made picture is ever held as RGBA. libwebp keeps what it is
// given of the file: a file past the decoder memory limit is refused.
// Animations are refused; a still picture is read whole.
#include <webp/decode.h>

#include <cinttypes>
#include <vector>

#include "gray/decode.h"
#include "io/console.h"

namespace {

// What is left of the stream's buffer, read once: empty at the end of the file.
std::span<const std::uint8_t> next_bytes(ByteStream& stream) {
    if (stream.next == stream.end && refill_stream(stream) != 0) return {};
    const std::span<const std::uint8_t> bytes(stream.next, stream.end);
    stream.next = stream.end;
    return bytes;
}

const char* words_of(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "not enough memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature libwebp does not support";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the file is cut short";
        default: return "its data is damaged";
    }
}

// Reads the file's start until libwebp can tell the picture's size and kind.
// head keeps what was read, for the decoder.
int read_features(ByteStream& stream, std::vector<std::uint8_t>& head, WebPBitstreamFeatures& features) {
    VP8StatusCode status = VP8_STATUS_NOT_ENOUGH_DATA;
    while (status == VP8_STATUS_NOT_ENOUGH_DATA) {
        const std::span<const std::uint8_t> bytes = next_bytes(stream);
        if (bytes.empty()) break;
        head.insert(head.end(), bytes.begin(), bytes.end());
        status = WebPGetFeatures(head.data(), head.size(), &features);
    }
    if (stream.failed) return 1;
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) return fail("Error - WebP: the file is cut short before its first row\n");
    if (status == VP8_STATUS_UNSUPPORTED_FEATURE) return fail("Error - WebP: %s\n", words_of(status));
    if (status != VP8_STATUS_OK) return fail("Error - WebP: its header is damaged\n");
    if (features.has_animation) return fail("Error - WebP: animated WebP is not supported\n");
    return 0;
}

// Feeds the file to the decoder: VP8_STATUS_SUSPENDED when it ended too soon.
VP8StatusCode feed(ByteStream& stream, WebPIDecoder* decoder, const std::vector<std::uint8_t>& head) {
    VP8StatusCode status = WebPIAppend(decoder, head.data(), head.size());
    while (status == VP8_STATUS_SUSPENDED) {
        const std::span<const std::uint8_t> bytes = next_bytes(stream);
        if (bytes.empty()) break;
        status = WebPIAppend(decoder, bytes.data(), bytes.size());
    }
    return status;
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
    std::vector<std::uint8_t> head;
    if (read_features(stream, head, config.input) != 0) return 1;
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
    const VP8StatusCode status = feed(stream, decoder, head);
    const int result = finish(stream, decoder, status, config, sink);
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config.output);
    return result;
}
