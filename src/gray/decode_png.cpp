// PNG through libpng's progressive reader, fed the chunks a picture needs
// (png_chunks: gAMA, iCCP, text and every other ancillary chunk passed over
// unread) as they come: rows are handed over as libpng makes them, and once
// the last one is in nothing more is read or inflated. libpng's
// transformations make every colour type and depth 8-bit gray or RGBA
// (palettes and tRNS as colour and opacity, 16-bit samples rounded, s /
// 257). Only an interlaced picture is held whole, as libpng needs it.
//
// libpng reports errors through longjmp: the functions between setjmp and
// libpng keep their state in PngRead and hold nothing with a destructor.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include "gray/decode.h"

namespace {

struct PngRead {
    Decoding* d = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::size_t row_bytes = 0;
    std::uint32_t height = 0;
    int last_pass = 0;           // the last of Adam7's passes that holds pixels; 0 when not interlaced
    std::vector<std::uint8_t> held;  // an interlaced picture, whole
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(64 * 1024);  // of the file, on their way to libpng
    bool any_row = false;        // libpng has made a row
    bool done = false;           // the last row is in
    bool refused = false;        // a callback refused the picture, and said so
    char message[160] = {};      // libpng's error
};

PngRead& read_of(png_structp png) { return *static_cast<PngRead*>(png_get_progressive_ptr(png)); }

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* r = static_cast<PngRead*>(png_get_error_ptr(png));
    std::snprintf(r->message, sizeof r->message, "%s", message);
    png_longjmp(png, 1);
}

// libpng's warnings are not told, but the first is kept: damage it passed
// over (a bad checksum) may have cost rows.
void on_warning(png_structp png, png_const_charp message) {
    auto* r = static_cast<PngRead*>(png_get_error_ptr(png));
    if (r->message[0] == '\0') std::snprintf(r->message, sizeof r->message, "%s", message);
}

[[noreturn]] void refuse(PngRead& r) {
    r.refused = true;
    png_longjmp(r.png, 1);
}

// After the chunks before the picture data: the transformations, the size
// checked before libpng makes its rows, an interlaced picture's memory.
void on_info(png_structp png, png_infop info) {
    PngRead& r = read_of(png);
    const bool gray = png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY && png_get_valid(png, info, PNG_INFO_tRNS) == 0;
    png_set_expand(png);  // palette to RGB, gray to 8 bits, tRNS to opacity
    png_set_scale_16(png);
    if (!gray) {
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    const bool interlaced = png_set_interlace_handling(png) > 1;
    const png_uint_32 width = png_get_image_width(png, info);
    r.height = png_get_image_height(png, info);
    if (start_rows(r.d->sink, {width, r.height, width, r.height, 1, gray ? RowFormat::GRAY : RowFormat::RGBA}) != 0) refuse(r);
    png_read_update_info(png, info);
    r.row_bytes = png_get_rowbytes(png, info);
    if (!interlaced) return;
    if (check_memory(*r.d, std::uint64_t{r.row_bytes} * r.height, "interlaced") != 0) refuse(r);
    r.last_pass = r.height >= 2 ? 6 : width >= 2 ? 5 : 0;  // Adam7's passes past the picture's size hold nothing
    r.held.assign(r.row_bytes * r.height, 0xFF);  // white where a pass never comes
    r.d->held_whole = true;
}

void on_row(png_structp png, png_bytep row, png_uint_32 number, int pass) {
    PngRead& r = read_of(png);
    r.any_row = true;
    if (r.held.empty()) {
        add_row(r.d->sink, {row, r.row_bytes});
    } else {
        png_progressive_combine_row(png, r.held.data() + r.row_bytes * number, row);
    }
    if (number + 1 == r.height && pass == r.last_pass) {
        r.done = true;
        png_longjmp(png, 1);  // nothing more is read or inflated (pausing, libpng would go on with its buffer)
    }
}

// Hands the file's chunks that a picture needs to libpng as they come,
// until the last row is in or the file ends; 1 when libpng gave up.
int feed(PngRead& r, const std::vector<Piece>& pieces) {
    if (setjmp(png_jmpbuf(r.png))) return r.done ? 0 : 1;
    for (const Piece& piece : pieces) {
        for (std::uint64_t left = piece.ours != nullptr ? 0 : piece.length; left > 0 && !r.done;) {  // not the end of ours
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, r.bytes.size()));
            const std::size_t got = seek_to(*r.d->in, piece.from + piece.length - left) == 0 ? read_up_to(*r.d->in, r.bytes.data(), want) : 0;
            png_process_data(r.png, r.info, r.bytes.data(), got);
            if (got < want) return 0;  // the file ends
            left -= got;
        }
        if (r.done) break;
    }
    return 0;
}

int decode(PngRead& r) {
    png_set_progressive_read_fn(r.png, &r, on_info, on_row, nullptr);
    png_set_user_limits(r.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);  // start_rows tells a size too large
    const PngChunks chunks = png_chunks(*r.d->in);
    const int failed = feed(r, chunks.pieces);
    if (r.refused) return 1;
    const png_uint_32 width = png_get_image_width(r.png, r.info), height = png_get_image_height(r.png, r.info);
    if (r.row_bytes == 0 && width > 0 && check_picture_size(width, height, r.d->sink.max_pixels) != 0) return 1;  // a header alone
    for (std::size_t y = 0; r.any_row && y < r.held.size() / r.row_bytes; ++y)
        add_row(r.d->sink, {r.held.data() + r.row_bytes * y, r.row_bytes});
    if (r.done) return 0;
    const Piece& data = chunks.pieces[chunks.pieces.size() - 2];  // the last of the file's, before the IEND of ours
    const bool cut_short = failed == 0 && data.from + data.length >= r.d->in->size;
    return stop_early(*r.d, cut_short ? Stop::CUT_SHORT : Stop::DAMAGED, r.message);
}

}  // namespace

int decode_png(Decoding& d) {
    PngRead r;
    r.d = &d;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, on_error, on_warning);
    r.info = r.png == nullptr ? nullptr : png_create_info_struct(r.png);
    const int status = r.info == nullptr ? picture_error(d, "not enough memory") : decode(r);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    return status;
}
