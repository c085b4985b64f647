// JPEG files written with libjpeg's own compressor, in the variants
// tavo-gray reads: baseline or progressive, Huffman or arithmetic coding,
// YCbCr, gray or Adobe's inverted CMYK, with or without an EXIF
// Orientation.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <vector>

#include <jpeglib.h>

#include "make_pictures.h"

namespace {

struct Writer {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
};

[[noreturn]] void on_error(j_common_ptr cinfo) { std::longjmp(static_cast<Writer*>(cinfo->client_data)->jump, 1); }

void put16(std::vector<JOCTET>& b, unsigned value, bool big_endian) {
    const auto high = static_cast<JOCTET>(value >> 8 & 0xFF);
    const auto low = static_cast<JOCTET>(value & 0xFF);
    b.insert(b.end(), big_endian ? std::initializer_list<JOCTET>{high, low} : std::initializer_list<JOCTET>{low, high});
}

void put32(std::vector<JOCTET>& b, unsigned value, bool big_endian) {
    put16(b, big_endian ? value >> 16 : value & 0xFFFF, big_endian);
    put16(b, big_endian ? value & 0xFFFF : value >> 16, big_endian);
}

// An APP1 segment's data: "Exif\0\0" and a TIFF block whose IFD0 holds Make
// (its text after the IFD) and Model (its text in the entry itself) before
// Orientation, as cameras write them. Odd orientations in Intel order (II),
// even ones in Motorola order (MM).
std::vector<JOCTET> exif_of(int orientation) {
    const bool mm = orientation % 2 == 0;
    std::vector<JOCTET> b = {'E', 'x', 'i', 'f', 0, 0};
    b.insert(b.end(), mm ? std::initializer_list<JOCTET>{'M', 'M'} : std::initializer_list<JOCTET>{'I', 'I'});
    put16(b, 42, mm);
    put32(b, 8, mm);  // IFD0 right after the header
    constexpr unsigned ENTRIES = 3;
    const unsigned text_at = 8 + 2 + ENTRIES * 12 + 4;
    put16(b, ENTRIES, mm);
    put16(b, 0x010F, mm), put16(b, 2, mm), put32(b, 6, mm), put32(b, text_at, mm);  // Make, ASCII, "tavo!\0"
    put16(b, 0x0110, mm), put16(b, 2, mm), put32(b, 4, mm), b.insert(b.end(), {'F', 'F', 'F', 0});  // Model, in place
    put16(b, 0x0112, mm), put16(b, 3, mm), put32(b, 1, mm), put16(b, static_cast<unsigned>(orientation), mm), put16(b, 0, mm);
    put32(b, 0, mm);  // no next IFD
    b.insert(b.end(), {'t', 'a', 'v', 'o', '!', 0});
    return b;
}

// The samples of one row: gray as (2 red + 4 green + blue) / 7, so a gray
// pixel stays itself; CMYK inverted as Adobe's files store it (255: no ink),
// each colour's ink in C, M and Y and its darkness shared into K.
void row_samples(const Rgba& rgba, int width, int y, const JpegOptions& options, std::vector<JSAMPLE>& row) {
    row.clear();
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
        if (options.gray) {
            row.push_back(static_cast<JSAMPLE>((2 * p[0] + 4 * p[1] + p[2] + 3) / 7));
        } else if (options.cmyk) {
            const int k = std::max({p[0], p[1], p[2], std::uint8_t{1}});  // stored K: 255 - black ink
            for (int c = 0; c < 3; ++c) row.push_back(static_cast<JSAMPLE>((p[c] * 255 + k / 2) / k));
            row.push_back(static_cast<JSAMPLE>(k));
        } else {
            row.insert(row.end(), p, p + 3);
        }
    }
}

bool compress(Writer& w, std::FILE* file, int width, int height, const Rgba& rgba, const JpegOptions& options,
              std::vector<JSAMPLE>& row, const std::vector<JOCTET>& exif) {
    if (setjmp(w.jump) != 0) return false;
    jpeg_compress_struct& cinfo = w.cinfo;
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = options.gray ? 1 : options.cmyk ? 4 : 3;
    cinfo.in_color_space = options.gray ? JCS_GRAYSCALE : options.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);  // YCbCr 4:2:0 from RGB; CMYK kept as CMYK, with an Adobe marker
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    if (options.progressive) jpeg_simple_progression(&cinfo);
    cinfo.arith_code = options.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    if (!exif.empty()) jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        row_samples(rgba, width, static_cast<int>(cinfo.next_scanline), options, row);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

}  // namespace

bool write_jpeg(const std::string& path, int width, int height, const Rgba& rgba, const JpegOptions& options) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    Writer w;
    w.cinfo.err = jpeg_std_error(&w.errors);
    w.errors.error_exit = on_error;
    w.cinfo.client_data = &w;
    std::vector<JSAMPLE> row;
    const std::vector<JOCTET> exif = options.orientation != 0 ? exif_of(options.orientation) : std::vector<JOCTET>{};
    const bool written = compress(w, file, width, height, rgba, options, row, exif);
    jpeg_destroy_compress(&w.cinfo);
    return std::fclose(file) == 0 && written;
}
