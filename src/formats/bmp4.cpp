#include "formats/bmp4.h"

#include <algorithm>
#include <bit>

namespace {

constexpr std::uint32_t FILE_HEADER_SIZE = 14;
constexpr std::uint32_t INFO_HEADER_SIZE = 40;
constexpr std::uint32_t CORE_HEADER_SIZE = 12;
constexpr std::uint32_t CORE_FIELDS_END = 26;  // the file offset up to which the reader takes each header
constexpr std::uint32_t INFO_FIELDS_END = 50;  // (up to biClrUsed)
constexpr std::uint32_t WRITTEN_PIXEL_OFFSET = FILE_HEADER_SIZE + INFO_HEADER_SIZE + BMP_PALETTE_SIZE;
constexpr std::uint32_t PIXELS_PER_METRE = 2834;  // 72 dpi
constexpr std::uint32_t V2_HEADER_SIZE = 52;   // with red, green and blue masks
constexpr std::uint32_t V3_HEADER_SIZE = 56;   // and an alpha mask
constexpr std::uint32_t V4_HEADER_SIZE = 108;
constexpr std::uint32_t OS2_HEADER_SIZE = 64;  // whose compressions 3 and 4 mean other things
constexpr std::uint32_t MASKS_IN_HEADER = 54;  // the file offset of the masks a V2 header or larger holds
constexpr std::size_t KEPT_HEADER_BYTES = 96;  // by file offset: every place masks can be

// Little-endian fields of the header bytes, addressed by file offset.
std::uint32_t u16_at(std::span<const std::uint8_t> b, std::size_t at) { return number_in(b.subspan(at, 2), false); }
std::uint32_t u32_at(std::span<const std::uint8_t> b, std::size_t at) { return number_in(b.subspan(at, 4), false); }

bool known_bit_count(unsigned bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool known_compression(const BmpHeader& h) {
    const bool masked = h.bit_count == 16 || h.bit_count == 32;
    switch (h.compression) {
        case BMP_RGB: return true;
        case BMP_RLE8: return h.bit_count == 8;
        case BMP_RLE4: return h.bit_count == 4;
        case BMP_BITFIELDS: return masked && h.info_size != OS2_HEADER_SIZE;
        case BMP_ALPHABITFIELDS: return masked;
        default: return false;
    }
}

// Where the masks lie: inside a V2 header or larger, or after a 40-byte one.
void lay_out_masks(const BmpHeader& h, BmpLayout& layout) {
    const bool masked = h.compression == BMP_BITFIELDS || h.compression == BMP_ALPHABITFIELDS;
    const unsigned after = !masked || h.info_size >= V2_HEADER_SIZE ? 0 : h.compression == BMP_BITFIELDS ? 3 : 4;
    layout.header_end = std::uint64_t{FILE_HEADER_SIZE} + h.info_size + 4 * after;
    if (after > 0) {
        layout.masks_start = std::uint64_t{FILE_HEADER_SIZE} + h.info_size;
        layout.mask_count = after;
    } else if (h.info_size >= V2_HEADER_SIZE) {
        layout.masks_start = MASKS_IN_HEADER;
        layout.mask_count = h.info_size >= V3_HEADER_SIZE ? 4 : 3;
    }
}

// The palette: a core palette has no count of its own, so a pixel offset
// inside a full palette tells how many entries there are.
void lay_out_palette(const BmpHeader& h, BmpLayout& layout) {
    const bool core = h.info_size == CORE_HEADER_SIZE;
    const unsigned full = layout.bits <= 8 ? 1u << layout.bits : 0;
    layout.palette_start = layout.header_end;
    layout.entry_size = core ? 3 : 4;
    layout.entries = full;
    if (core) {
        const std::uint64_t room = h.pixel_offset > layout.palette_start ? h.pixel_offset - layout.palette_start : 0;
        if (room >= 3 && room < full * 3) layout.entries = static_cast<unsigned>(room / 3);
    } else if (h.colours_used >= 1 && h.colours_used < full) {
        layout.entries = h.colours_used;
    }
    layout.palette_end = layout.palette_start + std::uint64_t{layout.entries} * layout.entry_size;
    layout.pixel_start = std::max<std::uint64_t>(h.pixel_offset, layout.palette_end);
}

// Reads and drops the bytes from position up to offset, keeping those that
// fall in kept (by file offset); 1 when the file ends first.
int skip_to(ByteStream& stream, std::uint64_t position, std::uint64_t offset, std::span<std::uint8_t> kept = {}) {
    std::uint8_t byte = 0;
    for (; position < offset; ++position) {
        if (get_byte(stream, byte) != 0) return 1;
        if (position < kept.size()) kept[position] = byte;
    }
    return 0;
}

BmpChannel channel_of(std::uint32_t mask) {
    if (mask == 0) return {};
    const auto shift = static_cast<unsigned>(std::countr_zero(mask));
    return {mask, shift, mask >> shift};
}

// The masks of a 16- or 32-bit file: the file's own, or the defaults.
void set_channels(const BmpLayout& layout, std::span<const std::uint8_t> kept, BmpRows& rows) {
    const std::uint32_t in_bits = layout.bits == 16 ? 0xFFFF : 0xFFFFFFFF;
    const auto mask_at = [&](unsigned i) {
        const std::uint64_t at = layout.masks_start + 4 * i;
        return i < layout.mask_count && at + 4 <= kept.size() ? u32_at(kept, at) & in_bits : 0;
    };
    const bool masked = layout.compression == BMP_BITFIELDS || layout.compression == BMP_ALPHABITFIELDS;
    std::array<std::uint32_t, 4> masks = layout.bits == 16 ? std::array<std::uint32_t, 4>{0x7C00, 0x3E0, 0x1F, 0}
                                                           : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0};
    if (masked) {
        for (unsigned i = 0; i < 4; ++i) masks[i] = mask_at(i);
    } else if (layout.bits == 32 && layout.masks_start != 0 && layout.mask_count == 4 &&
               layout.header_end >= FILE_HEADER_SIZE + V4_HEADER_SIZE && mask_at(3) == 0xFF000000) {
        masks[3] = 0xFF000000;  // a V4 or V5 header that says the 4th byte is opacity
    }
    for (unsigned i = 0; i < 4; ++i) rows.channels[i] = channel_of(masks[i]);
}

std::uint32_t channel_value(const BmpChannel& c, std::uint32_t pixel, std::uint32_t none) {
    if (c.top == 0) return none;
    return static_cast<std::uint32_t>((std::uint64_t{(pixel & c.mask) >> c.shift} * 255 + c.top / 2) / c.top);
}

std::uint32_t masked_colour(const BmpRows& rows, std::uint32_t pixel) {
    const auto& c = rows.channels;
    return channel_value(c[3], pixel, 255) << 24 | channel_value(c[0], pixel, 0) << 16 |
           channel_value(c[1], pixel, 0) << 8 | channel_value(c[2], pixel, 0);
}

// The stored row in rows.bytes as indices or colours.
void unpack_row(BmpRows& rows) {
    const std::uint8_t* b = rows.bytes.data();
    const unsigned bits = rows.layout.bits;
    const auto width = static_cast<std::size_t>(rows.layout.width);
    if (rows.indexed) {
        std::uint8_t* out = rows.indices.data();
        if (bits == 8) {
            std::copy_n(b, width, out);
        } else if (bits == 4) {  // the common case, tavo's own files: two pixels a byte
            for (std::size_t j = 0; j < width / 2; ++j) {
                out[2 * j] = b[j] >> 4;
                out[2 * j + 1] = b[j] & 15;
            }
            if (width % 2 != 0) out[width - 1] = b[width / 2] >> 4;
        } else {
            const auto index_mask = static_cast<unsigned>((1u << bits) - 1);
            std::size_t x = 0;
            for (std::size_t j = 0; x < width; ++j)  // the leftmost pixel in the highest bits
                for (int shift = 8 - static_cast<int>(bits); shift >= 0 && x < width; shift -= static_cast<int>(bits))
                    out[x++] = static_cast<std::uint8_t>(b[j] >> shift & index_mask);
        }
    } else if (bits == 24) {
        for (std::size_t x = 0; x < width; ++x, b += 3)
            rows.colours[x] = 0xFF000000u | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0];
    } else if (bits == 16) {
        for (std::size_t x = 0; x < width; ++x, b += 2) rows.colours[x] = masked_colour(rows, u16_at({b, 2}, 0));
    } else {
        for (std::size_t x = 0; x < width; ++x, b += 4) rows.colours[x] = masked_colour(rows, u32_at({b, 4}, 0));
    }
}

BmpError read_stored_row(ByteStream& stream, BmpRows& rows) {
    const BmpLayout& layout = rows.layout;
    const bool last = rows.rows_read + 1 == static_cast<std::uint64_t>(layout.rows);
    const std::uint64_t data = (static_cast<std::uint64_t>(layout.width) * layout.bits + 7) / 8;
    const std::uint64_t length = last ? data : layout.row_size;
    for (std::uint64_t k = 0; k < length; ++k)  // the last row may lack its padding
        if (get_byte(stream, rows.bytes[k]) != 0) return BmpError::PIXELS_CUT;
    unpack_row(rows);
    return BmpError::NONE;
}

// Writes count pixels of an RLE run from x on, those past the row dropped;
// RLE4 runs alternate the value's two nibbles.
void put_run(BmpRows& rows, std::uint64_t x, unsigned count, std::uint8_t value) {
    const bool nibbles = rows.layout.compression == BMP_RLE4;
    const std::uint64_t end = std::min<std::uint64_t>(x + count, rows.indices.size());
    for (std::uint64_t i = x; i < end; ++i)
        rows.indices[i] = nibbles ? static_cast<std::uint8_t>((i - x) % 2 == 0 ? value >> 4 : value & 15) : value;
}

// An absolute run of count pixels from x on, padded to a whole 16-bit word.
BmpError read_absolute_run(ByteStream& stream, BmpRows& rows, std::uint64_t x, unsigned count) {
    const bool nibbles = rows.layout.compression == BMP_RLE4;
    const unsigned length = nibbles ? (count + 1) / 2 : count;
    std::uint8_t byte = 0;
    for (unsigned k = 0; k < length + length % 2; ++k) {
        if (get_byte(stream, byte) != 0) return BmpError::PIXELS_CUT;
        if (k >= length) continue;
        if (!nibbles) put_run(rows, x + k, 1, byte);
        else put_run(rows, x + 2 * k, std::min(2u, count - 2 * k), byte);
    }
    return BmpError::NONE;
}

// Decodes one row of RLE8 or RLE4, up to its end of line, the end of the
// bitmap or a delta to a later row; skipped pixels stay index 0.
BmpError read_rle_row(ByteStream& stream, BmpRows& rows) {
    std::fill(rows.indices.begin(), rows.indices.end(), std::uint8_t{0});
    if (rows.rle_blank_rows > 0) {
        --rows.rle_blank_rows;
        return BmpError::NONE;
    }
    if (rows.rle_ended) return BmpError::NONE;
    std::uint64_t x = rows.rle_next_x;
    rows.rle_next_x = 0;
    for (;;) {
        std::uint8_t count = 0;
        std::uint8_t code = 0;
        if (get_byte(stream, count) != 0 || get_byte(stream, code) != 0) return BmpError::PIXELS_CUT;
        if (count > 0) {  // count pixels of one value
            put_run(rows, x, count, code);
            x += count;
        } else if (code == 0) {  // end of line
            return BmpError::NONE;
        } else if (code == 1) {  // end of bitmap
            rows.rle_ended = true;
            return BmpError::NONE;
        } else if (code == 2) {  // delta: right and down (in the file's order)
            std::uint8_t dx = 0;
            std::uint8_t dy = 0;
            if (get_byte(stream, dx) != 0 || get_byte(stream, dy) != 0) return BmpError::PIXELS_CUT;
            x += dx;
            if (dy == 0) continue;
            rows.rle_blank_rows = dy - 1u;
            rows.rle_next_x = x;
            rows.rle_ended = rows.rows_read + dy >= static_cast<std::uint64_t>(rows.layout.rows);
            return BmpError::NONE;
        } else {  // code pixels as they are
            if (read_absolute_run(stream, rows, x, code) != BmpError::NONE) return BmpError::PIXELS_CUT;
            x += code;
        }
    }
}

}  // namespace

int read_bmp_signature(ByteStream& stream) {
    std::uint8_t byte = 0;
    return get_byte(stream, byte) != 0 || byte != 'B' || get_byte(stream, byte) != 0 || byte != 'M' ? 1 : 0;
}

int read_bmp_header(ByteStream& stream, BmpHeader& h) {
    std::array<std::uint8_t, FILE_HEADER_SIZE + INFO_HEADER_SIZE> b{};  // by file offset
    const auto read = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (get_byte(stream, b[i]) != 0) return false;
        return true;
    };
    if (read_bmp_signature(stream) != 0 || !read(2, 18)) return 1;
    h.pixel_offset = u32_at(b, 10);
    h.info_size = u32_at(b, 14);
    if (h.info_size == CORE_HEADER_SIZE) {  // 16-bit sizes
        if (!read(18, CORE_FIELDS_END)) return 1;
        h.width = static_cast<std::int32_t>(u16_at(b, 18));
        h.height = static_cast<std::int32_t>(u16_at(b, 20));
        h.bit_count = static_cast<std::uint16_t>(u16_at(b, 24));
        return 0;
    }
    if (!read(18, INFO_FIELDS_END)) return 1;
    h.width = static_cast<std::int32_t>(u32_at(b, 18));
    h.height = static_cast<std::int32_t>(u32_at(b, 22));
    h.bit_count = static_cast<std::uint16_t>(u16_at(b, 28));
    h.compression = u32_at(b, 30);
    h.colours_used = u32_at(b, 46);
    return 0;
}

BmpError check_bmp_layout(const BmpHeader& h, const BmpLimits& limits, BmpLayout& layout) {
    layout = BmpLayout{};
    if (h.info_size != CORE_HEADER_SIZE && h.info_size < INFO_HEADER_SIZE) return BmpError::INFO_SIZE;
    if (!known_bit_count(h.bit_count)) return BmpError::BIT_COUNT;
    if (!known_compression(h)) return BmpError::COMPRESSION;
    layout.width = h.width;
    layout.top_down = h.height < 0;
    layout.rows = layout.top_down ? -std::int64_t{h.height} : h.height;
    if (layout.width <= 0 || layout.rows == 0) return BmpError::NO_PIXELS;
    if (layout.width > limits.max_width || layout.rows > limits.max_height) return BmpError::TOO_LARGE;
    layout.bits = h.bit_count;
    layout.compression = h.compression;
    layout.row_size = (static_cast<std::uint64_t>(layout.width) * layout.bits + 31) / 32 * 4;
    lay_out_masks(h, layout);
    lay_out_palette(h, layout);
    return BmpError::NONE;
}

BmpError open_bmp_rows(ByteStream& stream, BmpRows& rows) {
    const BmpLayout& layout = rows.layout;
    std::array<std::uint8_t, KEPT_HEADER_BYTES> kept{};
    const std::uint64_t read_so_far = layout.entry_size == 3 ? CORE_FIELDS_END : INFO_FIELDS_END;
    if (skip_to(stream, read_so_far, layout.header_end, kept) != 0) return BmpError::INFO_CUT;
    for (unsigned i = 0; i < layout.entries; ++i)
        for (unsigned k = 0; k < layout.entry_size; ++k)
            if (get_byte(stream, rows.palette[4 * i + k]) != 0) return BmpError::PALETTE_CUT;
    rows.palette_entries = layout.entries;
    if (skip_to(stream, layout.palette_end, layout.pixel_start) != 0) return BmpError::PIXELS_CUT;
    rows.indexed = layout.bits <= 8;
    if (!rows.indexed) set_channels(layout, kept, rows);
    const auto width = static_cast<std::size_t>(layout.width);  // within the caller's limits
    if (rows.indexed) rows.indices.resize(width);
    else rows.colours.resize(width);
    if (layout.compression != BMP_RLE8 && layout.compression != BMP_RLE4)
        rows.bytes.resize(static_cast<std::size_t>(layout.row_size));
    return BmpError::NONE;
}

BmpError read_bmp_row(ByteStream& stream, BmpRows& rows) {
    if (rows.rows_read >= static_cast<std::uint64_t>(rows.layout.rows)) return BmpError::PIXELS_CUT;
    const bool rle = rows.layout.compression == BMP_RLE8 || rows.layout.compression == BMP_RLE4;
    const BmpError error = rle ? read_rle_row(stream, rows) : read_stored_row(stream, rows);
    if (error == BmpError::NONE) ++rows.rows_read;
    return error;
}

BmpError read_bmp_pixels(ByteStream& stream, const BmpHeader& header, const BmpLimits& limits, Bmp4Image& image) {
    image = Bmp4Image{};
    BmpRows rows;
    BmpError error = check_bmp_layout(header, limits, rows.layout);
    if (error == BmpError::NONE) error = open_bmp_rows(stream, rows);
    if (error == BmpError::NONE && rows.layout.bits != 4) error = BmpError::BIT_COUNT;
    const auto w = static_cast<std::size_t>(rows.layout.width);
    const auto h = static_cast<std::size_t>(rows.layout.rows);
    if (error == BmpError::NONE) image.pixels.resize(w * h);
    for (std::size_t i = 0; error == BmpError::NONE && i < h; ++i) {  // a row that fails is dropped with the rest
        error = read_bmp_row(stream, rows);
        std::copy_n(rows.indices.data(), w, image.pixels.data() + (rows.layout.top_down ? i : h - 1 - i) * w);
    }
    if (error != BmpError::NONE) {
        image = Bmp4Image{};
        return error;
    }
    std::copy_n(rows.palette.begin(), BMP_PALETTE_SIZE, image.palette.begin());
    image.palette_entries = rows.palette_entries;
    image.width = static_cast<std::int32_t>(w);
    image.height = static_cast<std::int32_t>(h);
    return BmpError::NONE;
}

void write_bmp(ByteStream& stream, std::int32_t width, std::int32_t height,
               std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, std::span<const std::uint8_t> pixels) {
    const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
    if (pixels.size() < w * h) {
        stream.failed = true;  // nothing written is kept
        return;
    }
    put_byte(stream, 'B');
    put_byte(stream, 'M');
    const auto file_size = static_cast<std::uint32_t>(WRITTEN_PIXEL_OFFSET + padded_row_bytes(w) * h);
    // bfSize, bfReserved1 and 2, bfOffBits, biSize, biWidth, biHeight
    for (const std::uint32_t field : {file_size, 0u, WRITTEN_PIXEL_OFFSET, INFO_HEADER_SIZE,
                                      static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        put_number(stream, field, 4, false);
    put_number(stream, 1, 2, false);  // planes
    put_number(stream, 4, 2, false);  // bits per pixel
    // biCompression (none), biSizeImage, biX/YPelsPerMeter, biClrUsed, biClrImportant
    for (const std::uint32_t field : {0u, 0u, PIXELS_PER_METRE, PIXELS_PER_METRE, 0u, 0u}) put_number(stream, field, 4, false);
    for (const std::uint8_t b : palette) put_byte(stream, b);
    for (std::size_t i = h; i-- > 0;) {  // bottom row first
        const std::uint8_t* row = pixels.data() + i * w;
        for (std::size_t j = 0; j < w / 2; ++j)  // byte j holds pixels 2j and 2j + 1
            put_byte(stream, static_cast<std::uint8_t>(row[2 * j] << 4 | (row[2 * j + 1] & 15)));
        if (w % 2 != 0) put_byte(stream, static_cast<std::uint8_t>(row[w - 1] << 4));  // a last pixel on its own
        for (std::size_t k = row_bytes(w); k < padded_row_bytes(w); ++k) put_byte(stream, 0);
    }
}
