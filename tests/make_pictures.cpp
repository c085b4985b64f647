// PNG, GIF and WebP files written with libpng, giflib and libwebp, the way
// other programs write them, for the tests to read back through tavo-gray.
#include "make_pictures.h"

#include <gif_lib.h>
#include <png.h>
#include <webp/encode.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <map>

namespace {

std::uint8_t at(const Rgba& rgba, std::size_t pixel, int channel) { return rgba[pixel * 4 + static_cast<std::size_t>(channel)]; }

bool is_gray(const Rgba& rgba, std::size_t pixel) {
    return at(rgba, pixel, 0) == at(rgba, pixel, 1) && at(rgba, pixel, 1) == at(rgba, pixel, 2);
}

// ---- PNG ----

// The picture as PNG stores it: one filled row of bytes per picture row,
// with the colour type, and the palette and tRNS chunk when it has them.
struct PngLayout {
    int colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<png_color> palette;
    std::vector<std::uint8_t> opacities;  // tRNS of a palette
    png_color_16 key{};                   // tRNS of a gray picture below 8 bits
    bool has_key = false;
};

// Puts value (0..max) into a row at sample i of depth bits.
void put_sample(std::vector<std::uint8_t>& row, std::size_t i, unsigned value, int depth) {
    if (depth == 16) {
        row[2 * i] = static_cast<std::uint8_t>(value >> 8);
        row[2 * i + 1] = static_cast<std::uint8_t>(value);
    } else if (depth == 8) {
        row[i] = static_cast<std::uint8_t>(value);
    } else {
        const std::size_t bit = i * static_cast<std::size_t>(depth);
        row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | value << (8 - depth - static_cast<int>(bit % 8)));
    }
}

// An 8-bit value at depth bits: only values the depth holds exactly (a
// multiple of 255 / (2^depth - 1)) are taken, so that the test knows the
// picture as read back.
bool to_depth(std::uint8_t value, int depth, unsigned& sample) {
    const unsigned max = (1u << depth) - 1;
    if (depth == 16) {
        sample = value * 257u;
        return true;
    }
    sample = value * max / 255;
    return sample * 255 / max == value && (sample * 255) % max == 0;
}

bool palette_layout(int width, int height, const Rgba& rgba, const PngOptions& options, PngLayout& layout) {
    layout.colour_type = PNG_COLOR_TYPE_PALETTE;
    std::map<std::uint32_t, unsigned> index;  // 0xRRGGBBAA -> palette entry
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        auto& row = layout.rows.emplace_back((w * static_cast<std::size_t>(options.bit_depth) + 7) / 8, 0);
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t p = y * w + x;
            const std::uint32_t colour = std::uint32_t{at(rgba, p, 0)} << 24 | std::uint32_t{at(rgba, p, 1)} << 16 |
                                         std::uint32_t{at(rgba, p, 2)} << 8 | (options.alpha ? at(rgba, p, 3) : 255u);
            const auto [entry, added] = index.emplace(colour, static_cast<unsigned>(index.size()));
            if (added) {
                if (index.size() > (1u << options.bit_depth)) return false;
                layout.palette.push_back({at(rgba, p, 0), at(rgba, p, 1), at(rgba, p, 2)});
                layout.opacities.push_back(static_cast<std::uint8_t>(colour));
            }
            put_sample(row, x, entry->second, options.bit_depth);
        }
    }
    // tRNS holds the opacities up to the last entry that is not opaque.
    while (!layout.opacities.empty() && layout.opacities.back() == 255) layout.opacities.pop_back();
    return true;
}

// Gray, gray and alpha, RGB or RGBA samples, 1 to 16 bits; a gray picture
// below 8 bits keeps its transparency as one gray value in tRNS.
bool sample_layout(int width, int height, const Rgba& rgba, const PngOptions& options, PngLayout& layout) {
    const int depth = options.bit_depth;
    const bool key = options.alpha && !options.colour && depth < 8;
    const bool alpha = options.alpha && !key;
    if (options.colour && depth < 8) return false;
    layout.colour_type = (options.colour ? PNG_COLOR_MASK_COLOR : 0) | (alpha ? PNG_COLOR_MASK_ALPHA : 0);
    const int channels = (options.colour ? 3 : 1) + (alpha ? 1 : 0);
    const auto w = static_cast<std::size_t>(width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        auto& row = layout.rows.emplace_back((w * static_cast<std::size_t>(channels * depth) + 7) / 8, 0);
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t p = y * w + x;
            if (!options.colour && !is_gray(rgba, p)) return false;
            const std::uint8_t opacity = at(rgba, p, 3);
            for (int c = 0; c < channels; ++c) {
                unsigned sample = 0;
                const bool is_alpha = alpha && c == channels - 1;
                if (!to_depth(is_alpha ? opacity : at(rgba, p, c), depth, sample)) return false;
                put_sample(row, x * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c), sample, depth);
            }
            if (!key || opacity == 255) continue;
            unsigned sample = 0;
            to_depth(at(rgba, p, 0), depth, sample);
            if (opacity != 0 || (layout.has_key && layout.key.gray != sample)) return false;  // one transparent gray only
            layout.key.gray = static_cast<png_uint_16>(sample);
            layout.has_key = true;
        }
    }
    return true;
}

// libpng's errors end the writing through longjmp; nothing here has a destructor.
bool write_png_layout(std::FILE* file, int width, int height, int depth, bool interlaced, PngLayout& layout,
                      std::vector<png_bytep>& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, layout.colour_type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    if (!layout.opacities.empty())
        png_set_tRNS(png, info, layout.opacities.data(), static_cast<int>(layout.opacities.size()), nullptr);
    if (layout.has_key) png_set_tRNS(png, info, nullptr, 0, &layout.key);
    png_write_info(png, info);
    if (interlaced) png_set_interlace_handling(png);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---- GIF ----

// The picture's colours as GIF indexes: opaque colours first, then one
// index for every pixel of opacity 0; false past 256 or for partial opacity.
bool gif_indexes(const Rgba& rgba, std::vector<GifColorType>& colours, std::vector<GifByteType>& pixels, int& transparent) {
    std::map<std::uint32_t, int> index;
    transparent = -1;
    for (std::size_t p = 0; p < rgba.size() / 4; ++p) {
        const std::uint8_t opacity = at(rgba, p, 3);
        if (opacity != 0 && opacity != 255) return false;
        const std::uint32_t key = opacity == 0 ? 0xFF000000u
                                               : std::uint32_t{at(rgba, p, 0)} << 16 | std::uint32_t{at(rgba, p, 1)} << 8 | at(rgba, p, 2);
        const auto [entry, added] = index.emplace(key, static_cast<int>(index.size()));
        if (added) {
            if (index.size() > 256) return false;
            colours.push_back({at(rgba, p, 0), at(rgba, p, 1), at(rgba, p, 2)});
            if (opacity == 0) transparent = entry->second;
        }
        pixels.push_back(static_cast<GifByteType>(entry->second));
    }
    return true;
}

// The rows in the order an interlaced GIF stores them: every 8th from 0,
// every 8th from 4, every 4th from 2, every 2nd from 1.
std::vector<int> gif_row_order(int height, bool interlaced) {
    std::vector<int> order;
    const int starts[] = {0, 4, 2, 1};
    const int steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? starts[pass] : 0; y < height; y += interlaced ? steps[pass] : 1) order.push_back(y);
    return order;
}

}  // namespace

bool write_png(const std::string& path, int width, int height, const Rgba& rgba, const PngOptions& options) {
    PngLayout layout;
    const bool laid_out = options.palette ? palette_layout(width, height, rgba, options, layout)
                                          : sample_layout(width, height, rgba, options, layout);
    if (!laid_out) return false;
    std::vector<png_bytep> rows;
    for (auto& row : layout.rows) rows.push_back(row.data());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = write_png_layout(file, width, height, options.bit_depth, options.interlaced, layout, rows);
    return std::fclose(file) == 0 && written;
}

bool write_gif(const std::string& path, int width, int height, const Rgba& rgba, bool interlaced) {
    std::vector<GifColorType> colours;
    std::vector<GifByteType> pixels;
    int transparent = -1;
    if (!gif_indexes(rgba, colours, pixels, transparent)) return false;
    int bits = 1;
    while ((1u << bits) < colours.size()) ++bits;
    colours.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) return false;
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    EGifSetGifVersion(gif, true);
    bool ok = map != nullptr && EGifPutScreenDesc(gif, width, height, bits, 0, map) == GIF_OK;
    if (ok && transparent >= 0) {
        const GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, transparent};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr) == GIF_OK;
    for (const int y : gif_row_order(height, interlaced))
        ok = ok && EGifPutLine(gif, pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), width) == GIF_OK;
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

bool write_webp(const std::string& path, int width, int height, const Rgba& rgba, bool lossless) {
    std::uint8_t* data = nullptr;
    const std::size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), width, height, width * 4, &data)
                                      : WebPEncodeRGBA(rgba.data(), width, height, width * 4, 95, &data);
    std::FILE* file = size == 0 ? nullptr : std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
    WebPFree(data);
    return file != nullptr && std::fclose(file) == 0 && written;
}
