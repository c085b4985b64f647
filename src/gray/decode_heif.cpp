// HEIC and AVIF through libheif, which reads the file through the stream
// (so within the time budget) and decodes the primary picture whole, HEVC
// through libde265 and AV1 through dav1d, turned and mirrored as the file's
// own transformations say: such a picture is never turned again by its EXIF.
// Its size is checked, and the memory of a whole decoding counted, before
// anything is decoded.
#include <libheif/heif.h>

#include <string>

#include "gray/decode.h"

namespace {

// What libheif holds while decoding, a pixel: the picture's planes (at most
// 16-bit 4:4:4 and an alpha plane) and the RGBA picture made of them.
constexpr std::uint64_t DECODED_BYTES = 12;

// libheif's reads, from the stream.
std::int64_t position(void* user) { return static_cast<std::int64_t>(stream_position(*static_cast<Decoding*>(user)->in)); }

int read(void* into, std::size_t size, void* user) {
    ByteStream& in = *static_cast<Decoding*>(user)->in;
    return read_up_to(in, static_cast<std::uint8_t*>(into), size) == size ? 0 : -1;
}

int seek(std::int64_t to, void* user) { return to < 0 || seek_to(*static_cast<Decoding*>(user)->in, static_cast<std::uint64_t>(to)) != 0 ? -1 : 0; }

heif_reader_grow_status wait_for_size(std::int64_t size, void* user) {
    return size >= 0 && static_cast<std::uint64_t>(size) <= static_cast<Decoding*>(user)->in->size ? heif_reader_grow_status_size_reached
                                                                                                      : heif_reader_grow_status_size_beyond_eof;
}

constexpr heif_reader READER = {1, position, read, seek, wait_for_size};

// libheif's error as the picture's end.
int stop_heif(Decoding& d, const heif_error& error) {
    if (error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype ||
        error.code == heif_error_Decoder_plugin_error)
        return picture_error(d, std::string("libheif cannot decode it (") + error.message + ")");
    if (error.code == heif_error_Memory_allocation_error) return picture_error(d, "not enough memory");
    return stop_early(d, Stop::DAMAGED, error.message);
}

struct Heif {
    heif_context* context = nullptr;
    heif_image_handle* handle = nullptr;
    heif_decoding_options* options = nullptr;
    heif_image* image = nullptr;
};

int decode(Decoding& d, Heif& h) {
    heif_context_set_maximum_image_size_limit(h.context, static_cast<int>(MAX_PICTURE_SIDE));
    heif_error error = heif_context_read_from_reader(h.context, &READER, &d, nullptr);
    if (error.code == heif_error_Ok) error = heif_context_get_primary_image_handle(h.context, &h.handle);
    if (error.code != heif_error_Ok) return stop_heif(d, error);
    const auto width = static_cast<std::uint32_t>(heif_image_handle_get_width(h.handle));  // as turned
    const auto height = static_cast<std::uint32_t>(heif_image_handle_get_height(h.handle));
    if (start_rows(d.sink, {width, height, width, height}) != 0) return 1;
    if (check_memory(d, std::uint64_t{width} * height * DECODED_BYTES, "decoded whole") != 0) return 1;
    d.held_whole = true;
    h.options = heif_decoding_options_alloc();
    h.options->convert_hdr_to_8bit = 1;
    error = heif_decode_image(h.handle, &h.image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, h.options);
    if (error.code != heif_error_Ok) return stop_heif(d, error);
    int stride = 0;
    const std::uint8_t* pixels = heif_image_get_plane_readonly(h.image, heif_channel_interleaved, &stride);
    if (pixels == nullptr || heif_image_get_width(h.image, heif_channel_interleaved) != static_cast<int>(width) ||
        heif_image_get_height(h.image, heif_channel_interleaved) != static_cast<int>(height))
        return picture_error(d, "libheif made a picture of another size than it said");
    for (std::uint32_t y = 0; y < height; ++y) add_row(d.sink, {pixels + static_cast<std::ptrdiff_t>(y) * stride, 4 * std::size_t{width}});
    return 0;
}

}  // namespace

int decode_heif(Decoding& d) {
    Heif h;
    h.context = heif_context_alloc();
    const int status = h.context == nullptr ? picture_error(d, "not enough memory") : decode(d, h);
    heif_image_release(h.image);
    heif_decoding_options_free(h.options);
    heif_image_handle_release(h.handle);
    heif_context_free(h.context);
    return status;
}
