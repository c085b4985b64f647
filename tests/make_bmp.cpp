// BMP files as other programs write them, laid out byte by byte here, apart
// from the reader the tests check: a 40-byte info header, a palette of the
// picture's own colours for 1, 4 and 8 bits, 5-5-5 for 16 bits, blue, green,
// red (and a 4th byte 0) for 24 and 32, and the RLE8 and RLE4 encodings.
#include <algorithm>
#include <fstream>
#include <map>

#include "make_pictures.h"
#include "test_support.h"

namespace {

std::uint32_t rgb_at(const Rgba& rgba, std::size_t pixel) {
    return std::uint32_t{rgba[4 * pixel]} << 16 | std::uint32_t{rgba[4 * pixel + 1]} << 8 | rgba[4 * pixel + 2];
}

// The picture as indices into a palette of its colours (0xRRGGBB, first seen
// first); false when there are more colours than the bits can tell.
bool index_picture(const Rgba& rgba, int bits, std::vector<std::uint32_t>& palette, Bytes& indices) {
    std::map<std::uint32_t, std::uint8_t> index_of;
    for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
        const std::uint32_t colour = rgb_at(rgba, i);
        if (index_of.find(colour) == index_of.end()) {
            if (palette.size() == std::size_t{1} << bits) return false;
            index_of[colour] = static_cast<std::uint8_t>(palette.size());
            palette.push_back(colour);
        }
        indices.push_back(index_of[colour]);
    }
    return true;
}

// One row as stored uncompressed, padded to 4 bytes.
Bytes stored_row(const Rgba& rgba, const Bytes& indices, std::size_t first, std::size_t width, int bits) {
    Bytes b;
    if (bits <= 8) {
        const int per_byte = 8 / bits;
        for (std::size_t x = 0; x < width; ++x) {
            if (x % static_cast<std::size_t>(per_byte) == 0) b.push_back(0);
            const int shift = 8 - bits - static_cast<int>(x % static_cast<std::size_t>(per_byte)) * bits;
            b.back() = static_cast<std::uint8_t>(b.back() | indices[first + x] << shift);
        }
    }
    for (std::size_t x = 0; bits > 8 && x < width; ++x) {
        const std::uint32_t c = rgb_at(rgba, first + x);  // 0xRRGGBB
        if (bits == 16) put_le(b, (c >> 19) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31), 2);  // 5 bits each
        if (bits >= 24) put_le(b, c, 3);  // blue, green, red
        if (bits == 32) b.push_back(0);  // most programs leave the 4th byte 0
    }
    b.resize((b.size() + 3) / 4 * 4, 0);
    return b;
}

// The length of the run of one index from x on, at most 255.
std::size_t run_at(const Bytes& row, std::size_t x) {
    std::size_t n = 1;
    while (x + n < row.size() && n < 255 && row[x + n] == row[x]) ++n;
    return n;
}

// One row of indices as RLE8 or RLE4 (nibbles): runs of two or more as
// encoded runs, stretches of three or more single pixels as absolute runs
// (padded to a 16-bit word), one or two single pixels as runs of one; then
// the end of the line.
void encode_rle_row(const Bytes& row, bool nibbles, Bytes& out) {
    for (std::size_t x = 0; x < row.size();) {
        std::size_t n = run_at(row, x);
        if (n >= 2) {
            out.insert(out.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(nibbles ? row[x] * 17 : row[x])});
            x += n;
            continue;
        }
        n = 0;
        while (x + n < row.size() && n < 255 && run_at(row, x + n) == 1) ++n;
        if (n < 3) {
            for (std::size_t k = 0; k < n; ++k)
                out.insert(out.end(), {1, static_cast<std::uint8_t>(nibbles ? row[x + k] << 4 : row[x + k])});
        } else {
            out.insert(out.end(), {0, static_cast<std::uint8_t>(n)});
            const std::size_t start = out.size();
            for (std::size_t k = 0; k < n; ++k) {
                if (!nibbles) out.push_back(row[x + k]);
                else if (k % 2 == 0) out.push_back(static_cast<std::uint8_t>(row[x + k] << 4));
                else out.back() = static_cast<std::uint8_t>(out.back() | row[x + k]);
            }
            if ((out.size() - start) % 2 != 0) out.push_back(0);
        }
        x += n;
    }
    out.insert(out.end(), {0, 0});
}

}  // namespace

Bytes raw_bmp(const RawBmp& f) {
    const bool core = f.info_size == 12;
    const std::size_t after = f.info_size == 40 ? 4 * f.masks.size() : 0;
    const std::size_t offset = 14 + f.info_size + after + (core ? 3 : 4) * f.palette.size();
    Bytes b = {'B', 'M'};
    put_le(b, offset + f.pixels.size(), 4);
    put_le(b, 0, 4);
    put_le(b, offset, 4);
    put_le(b, f.info_size, 4);
    put_le(b, static_cast<std::uint32_t>(f.width), core ? 2 : 4);
    put_le(b, static_cast<std::uint32_t>(f.height), core ? 2 : 4);
    put_le(b, 1, 2);
    put_le(b, f.bits, 2);
    if (!core) {  // then 72 dpi and biClrUsed
        for (const std::uint64_t field : {std::uint64_t{f.compression}, std::uint64_t{f.pixels.size()}, std::uint64_t{2835},
                                          std::uint64_t{2835}, std::uint64_t{f.palette.size()}, std::uint64_t{0}})
            put_le(b, field, 4);
        for (const std::uint32_t mask : f.masks) put_le(b, mask, 4);
        if (after == 0) b.resize(14 + f.info_size, 0);
    }
    for (const std::uint32_t colour : f.palette) put_le(b, colour, core ? 3 : 4);  // blue, green, red (, 0)
    b.insert(b.end(), f.pixels.begin(), f.pixels.end());
    return b;
}

bool write_bmp_file(const std::string& path, int width, int height, const Rgba& rgba, const BmpOptions& options) {
    const int bits = options.bits;
    const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const auto w = static_cast<std::size_t>(width);
    if (!known || width <= 0 || height <= 0 || rgba.size() != 4 * w * static_cast<std::size_t>(height)) return false;
    if (options.rle && (options.top_down || (bits != 4 && bits != 8))) return false;  // RLE files are bottom-up
    std::vector<std::uint32_t> palette;
    Bytes indices;
    if (bits <= 8 && !index_picture(rgba, bits, palette, indices)) return false;
    Bytes pixels;
    for (int i = 0; i < height; ++i) {  // in the file's order
        const auto y = static_cast<std::size_t>(options.top_down ? i : height - 1 - i);
        if (!options.rle) {
            const Bytes row = stored_row(rgba, indices, y * w, w, bits);
            pixels.insert(pixels.end(), row.begin(), row.end());
        } else {
            const auto row = indices.begin() + static_cast<std::ptrdiff_t>(y * w);
            encode_rle_row(Bytes(row, row + width), bits == 4, pixels);
        }
    }
    if (options.rle) pixels.insert(pixels.end(), {0, 1});  // the end of the bitmap
    const Bytes b = raw_bmp({.width = width, .height = options.top_down ? -height : height, .bits = static_cast<std::uint16_t>(bits),
                             .compression = !options.rle ? 0u : bits == 8 ? 1u : 2u, .palette = palette, .pixels = pixels});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(out);
}
