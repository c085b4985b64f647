// PNG through libpng, a row at a time: palettes and tRNS become colour and
// opacity, grays below 8 bits become 8-bit grays, and 16-bit samples are
// kept as they are (s / 257), so that every depth is read as the sRGB it
// stores. gAMA, iCCP and every other ancillary chunk are skipped unread.
// Only an interlaced picture is held whole, as libpng needs it.
//
// libpng reports errors through longjmp: the functions that call it keep
// their state in PngRead and hold nothing with a destructor.
#include <png.h>

#include <algorithm>
#include <cinttypes>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gray/decode.h"
#include "io/console.h"

namespace {

struct PngRead {
    ByteStream* stream = nullptr;
    GraySink* sink = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int passes = 1;              // 7 for Adam7
    unsigned channels = 0;       // as handed over: gray, gray + alpha, RGB or RGBA
    unsigned bytes = 1;          // a sample: 1 or 2
    std::size_t row_bytes = 0;
    std::uint32_t rows_done = 0; // rows handed over, or read in the current pass
    int pass = 0;
    bool cut_short = false;      // the file ended before libpng had what it asked for
    char message[160] = {};      // libpng's error
};

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    std::snprintf(read->message, sizeof read->message, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}  // libpng's warnings stay silent

// libpng's reads, from the stream's buffer.
void read_bytes(png_structp png, png_bytep data, std::size_t length) {
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    ByteStream& stream = *read->stream;
    while (length > 0) {
        if (stream.next == stream.end && refill_stream(stream) != 0) {
            read->cut_short = true;
            png_error(png, "cut short");
        }
        const std::size_t n = std::min(length, static_cast<std::size_t>(stream.end - stream.next));
        std::memcpy(data, stream.next, n);
        stream.next += n;
        data += n;
        length -= n;
    }
}

// The size in the header, checked before libpng reads it, so that a picture
// too large is told as every format tells it. 1 when refused or unreadable.
int check_header_size(ByteStream& stream) {
    std::uint8_t header[24];
    std::size_t got = 0;
    while (got < sizeof header && get_byte(stream, header[got]) == 0) ++got;
    if (stream.failed) return 1;
    const auto be32 = [&](std::size_t at) {
        return std::uint32_t{header[at]} << 24 | std::uint32_t{header[at + 1]} << 16 | std::uint32_t{header[at + 2]} << 8 | header[at + 3];
    };
    if (got == sizeof header && std::memcmp(header + 12, "IHDR", 4) == 0 && check_picture_size(be32(16), be32(20)) != 0) return 1;
    return seek_to(stream, 0);
}

// Reads the chunks before the picture data and sets libpng's transformations.
// 1 when libpng reported an error.
int read_header(PngRead& r) {
    if (setjmp(png_jmpbuf(r.png))) return 1;
    png_read_info(r.png, r.info);
    const int colour_type = png_get_color_type(r.png, r.info);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(r.png);
    if (colour_type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(r.png, r.info) < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    r.passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    r.width = png_get_image_width(r.png, r.info);
    r.height = png_get_image_height(r.png, r.info);
    r.channels = png_get_channels(r.png, r.info);
    r.bytes = png_get_bit_depth(r.png, r.info) == 16 ? 2 : 1;
    r.row_bytes = png_get_rowbytes(r.png, r.info);
    return 0;
}

// One row of samples (big-endian when 16-bit) as grays, put onto white as
// far as they are transparent; samples is room for the row's samples.
void to_grays(const PngRead& r, const std::uint8_t* row, std::vector<float>& samples, std::vector<float>& grays) {
    const std::size_t n = r.channels;
    float* s = samples.data();
    if (r.bytes == 2) {
        for (std::size_t i = 0; i < samples.size(); ++i) s[i] = static_cast<float>(row[2 * i] << 8 | row[2 * i + 1]) / 257.0f;
    } else {
        for (std::size_t i = 0; i < samples.size(); ++i) s[i] = row[i];
    }
    for (std::size_t x = 0; x < grays.size(); ++x, s += n) {
        const float opacity = n == 2 || n == 4 ? s[n - 1] / 255.0f : 1.0f;
        grays[x] = n <= 2 ? gray_of(s[0], s[0], s[0], opacity) : gray_of(s[0], s[1], s[2], opacity);
    }
}

// The rows of a picture stored row by row, each handed over as it is read.
int read_rows(PngRead& r, std::vector<std::uint8_t>& row, std::vector<float>& samples, std::vector<float>& grays) {
    if (setjmp(png_jmpbuf(r.png))) return 1;
    for (; r.rows_done < r.height; ++r.rows_done) {
        png_read_row(r.png, row.data(), nullptr);
        to_grays(r, row.data(), samples, grays);
        add_row(*r.sink, grays);
    }
    return 0;
}

// Every pass of an interlaced picture into rows, which libpng fills a pass
// at a time.
int read_passes(PngRead& r, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(r.png))) return 1;
    for (; r.pass < r.passes; ++r.pass)
        for (r.rows_done = 0; r.rows_done < r.height; ++r.rows_done) png_read_row(r.png, rows[r.rows_done], nullptr);
    return 0;
}

// libpng's error in plain words.
int report_error(const PngRead& r) {
    if (r.stream->failed) return 1;  // the caller tells of the read error
    if (r.cut_short) return fail("Error - PNG: the file is cut short before its first row\n");
    if (std::strstr(r.message, "CRC error") == nullptr) return fail("Error - PNG: the file is damaged (%s)\n", r.message);
    const png_uint_32 type = png_get_io_chunk_type(r.png);
    const char chunk[5] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16), static_cast<char>(type >> 8), static_cast<char>(type), 0};
    if (std::strcmp(chunk, "IHDR") == 0) return fail("Error - PNG: bad CRC in its header\n");
    if (std::strcmp(chunk, "PLTE") == 0) return fail("Error - PNG: bad CRC in its palette\n");
    if (std::strcmp(chunk, "IDAT") == 0) return fail("Error - PNG: bad CRC in its picture data\n");
    return fail("Error - PNG: bad CRC in its %s chunk\n", chunk);
}

// A picture stored row by row: one row as stored, as samples and as grays.
int decode_rows(PngRead& r) {
    std::vector<std::uint8_t> row(r.row_bytes);
    std::vector<float> samples(std::size_t{r.width} * r.channels);
    std::vector<float> grays(r.width);
    if (read_rows(r, row, samples, grays) == 0) return 0;
    if (r.rows_done == 0 || r.stream->failed) return report_error(r);
    if (r.cut_short)
        print("Warning - PNG: the file is cut short after %" PRIu32 " of %" PRIu32 " rows\n", r.rows_done, r.height);
    else
        print("Warning - PNG: the file is damaged after %" PRIu32 " of %" PRIu32 " rows (%s)\n", r.rows_done, r.height, r.message);
    return 0;
}

// An interlaced picture, held whole (white where a file cut short leaves
// nothing), then handed over row by row.
int decode_interlaced(PngRead& r) {
    const std::uint64_t size = std::uint64_t{r.row_bytes} * r.height + std::uint64_t{r.height} * sizeof(png_bytep);
    if (size > MAX_DECODER_MEMORY)
        return fail("Error - PNG: the picture is interlaced and too large to decode at once (more than %" PRIu64 " MiB)\n",
                    MAX_DECODER_MEMORY >> 20);
    std::vector<std::uint8_t> picture(r.row_bytes * r.height, 0xFF);
    std::vector<png_bytep> rows(r.height);
    for (std::size_t y = 0; y < r.height; ++y) rows[y] = picture.data() + y * r.row_bytes;
    if (read_passes(r, rows) != 0) {
        if ((r.pass == 0 && r.rows_done == 0) || r.stream->failed) return report_error(r);
        if (r.cut_short)
            print("Warning - PNG: the file is cut short in pass %d of %d of its interlacing\n", r.pass + 1, r.passes);
        else
            print("Warning - PNG: the file is damaged in pass %d of %d of its interlacing (%s)\n", r.pass + 1, r.passes, r.message);
    }
    std::vector<float> samples(std::size_t{r.width} * r.channels);
    std::vector<float> grays(r.width);
    for (std::size_t y = 0; y < r.height; ++y) {
        to_grays(r, rows[y], samples, grays);
        add_row(*r.sink, grays);
    }
    return 0;
}

int decode(PngRead& r) {
    png_set_read_fn(r.png, &r, read_bytes);
    png_set_user_limits(r.png, MAX_PICTURE_SIDE, MAX_PICTURE_SIDE);
    // Chunks other than the header, palette, tRNS and picture data are
    // skipped unread: none is cached, and a large one costs nothing.
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(r.png, 1);
    png_set_chunk_malloc_max(r.png, MAX_DECODER_MEMORY);
    if (read_header(r) != 0) return report_error(r);
    if (start_rows(*r.sink, RowsInfo{r.width, r.height, r.width, r.height, 1}) != 0) return 1;
    return r.passes > 1 ? decode_interlaced(r) : decode_rows(r);
}

}  // namespace

int decode_png(ByteStream& stream, GraySink& sink) {
    if (check_header_size(stream) != 0) return 1;
    PngRead r;
    r.stream = &stream;
    r.sink = &sink;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, on_error, on_warning);
    r.info = r.png == nullptr ? nullptr : png_create_info_struct(r.png);
    const int status = r.info == nullptr ? fail("Error - PNG: not enough memory\n") : decode(r);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    return status;
}
