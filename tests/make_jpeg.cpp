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
#include "test_support.h"

namespace {

struct Writer {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
};

[[noreturn]] void on_error(j_common_ptr cinfo) { std::longjmp(static_cast<Writer*>(cinfo->client_data)->jump, 1); }

// IFD0 as cameras write it: Make (its text after the IFD) and Model (its
// text in the entry itself) before Orientation. Odd orientations in Intel
// order (II), even ones in Motorola order (MM).
std::vector<JOCTET> exif_of(int orientation) {
    constexpr std::uint32_t TEXT_AT = 8 + 2 + 3 * 12 + 4;
    std::vector<JOCTET> b = exif_block(orientation % 2 == 0, {{0x010F, 2, 6, TEXT_AT}, {0x0110, 2, 4, 0x46464600},
                                                              {0x0112, 3, 1, static_cast<std::uint32_t>(orientation)}});
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

Bytes exif_block(bool mm, const std::vector<ExifEntry>& entries, std::uint64_t ifd, std::uint64_t count, unsigned magic) {
    const auto put = [mm](Bytes& b, std::uint64_t value, int size) { mm ? put_be(b, value, size) : put_le(b, value, size); };
    Bytes b = {'E', 'x', 'i', 'f', 0, 0, static_cast<std::uint8_t>(mm ? 'M' : 'I'), static_cast<std::uint8_t>(mm ? 'M' : 'I')};
    put(b, magic, 2);
    put(b, ifd, 4);
    put(b, count == ~0ull ? entries.size() : count, 2);
    for (const ExifEntry& e : entries) {
        put(b, e.tag, 2), put(b, e.type, 2), put(b, e.count, 4);
        if (e.type == 3) put(b, e.value, 2), put(b, 0, 2);
        else put(b, e.value, 4);
    }
    put(b, 0, 4);
    return b;
}

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
