#include "formats/bmp4.h"

#include <algorithm>
#include <cinttypes>

#include "io/console.h"

namespace {

constexpr std::uint32_t FILE_HEADER_SIZE = 14;
constexpr std::uint32_t INFO_HEADER_SIZE = 40;
constexpr std::uint32_t CORE_HEADER_SIZE = 12;
constexpr std::uint32_t CORE_FIELDS_END = 26;  // the file offset up to which the reader takes each header
constexpr std::uint32_t INFO_FIELDS_END = 50;  // (up to biClrUsed)
constexpr std::uint32_t WRITTEN_PIXEL_OFFSET = FILE_HEADER_SIZE + INFO_HEADER_SIZE + BMP_PALETTE_SIZE;
constexpr std::uint32_t PIXELS_PER_METRE = 2834;  // 72 dpi

// Little-endian fields of the header bytes, addressed by file offset.
std::uint32_t u16_at(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t u32_at(std::span<const std::uint8_t> b, std::size_t at) {
    return u16_at(b, at) | u16_at(b, at + 2) << 16;
}

void write_u16_le(ByteStream& stream, std::uint32_t value) {
    put_byte(stream, static_cast<std::uint8_t>(value));
    put_byte(stream, static_cast<std::uint8_t>(value >> 8));
}

void write_u32_le(ByteStream& stream, std::uint32_t value) {
    write_u16_le(stream, value & 0xFFFF);
    write_u16_le(stream, value >> 16);
}

// Where the palette and the pixels lie, decided from the header alone.
struct BmpLayout {
    std::int64_t width = 0;
    std::int64_t rows = 0;
    bool top_down = false;
    std::uint64_t palette_start = 0;
    unsigned entry_size = 4;
    unsigned entries = 16;
    std::uint64_t palette_end = 0;
    std::uint64_t pixel_start = 0;
};

// Checks the header's fields in order and prints the first fault found.
int check_bmp_header(const BmpHeader& h, const BmpLimits& limits, BmpLayout& layout) {
    const bool core = h.info_size == CORE_HEADER_SIZE;
    if (h.bit_count != 4) return fail("Error - only 16 color bitmaps can be imported !\n");
    if (h.compression != 0) return fail("Error - compressed bitmaps not supported\n");
    if (!core && h.info_size < INFO_HEADER_SIZE)
        return fail("Error - BMP info header of %" PRIu32 " bytes is not supported\n", h.info_size);
    layout.width = h.width;
    layout.top_down = h.height < 0;
    layout.rows = layout.top_down ? -std::int64_t{h.height} : h.height;
    if (layout.width <= 0 || layout.rows == 0)
        return fail("Error - bitmap size %" PRId64 "x%" PRId64 " has no pixels\n", layout.width, layout.rows);
    if (layout.width > limits.max_width || layout.rows > limits.max_height)
        return fail("Error - maximum bitmap size is %" PRId32 "x%" PRId32 ".\n", limits.max_width, limits.max_height);
    layout.palette_start = std::uint64_t{FILE_HEADER_SIZE} + h.info_size;
    if (core) {
        // A core palette has no count of its own; a pixel offset inside a
        // full palette tells how many entries there are.
        layout.entry_size = 3;
        const std::uint64_t room = h.pixel_offset > layout.palette_start ? h.pixel_offset - layout.palette_start : 0;
        if (room >= 3 && room < 16 * 3) layout.entries = static_cast<unsigned>(room / 3);
    } else if (h.colours_used >= 1 && h.colours_used <= 15) {
        layout.entries = h.colours_used;
    }
    layout.palette_end = layout.palette_start + layout.entries * layout.entry_size;
    layout.pixel_start = std::max<std::uint64_t>(h.pixel_offset, layout.palette_end);
    return 0;
}

// Reads and drops the bytes from position up to offset; 1 when the file ends first.
int skip_to(ByteStream& stream, std::uint64_t position, std::uint64_t offset) {
    std::uint8_t byte = 0;
    for (; position < offset; ++position)
        if (get_byte(stream, byte) != 0) return 1;
    return 0;
}

int read_palette(ByteStream& stream, const BmpLayout& layout, Bmp4Image& image) {
    for (unsigned i = 0; i < layout.entries; ++i)
        for (unsigned k = 0; k < layout.entry_size; ++k)
            if (get_byte(stream, image.palette[4 * i + k]) != 0) return 1;
    image.palette_entries = layout.entries;
    return 0;
}

int read_pixels(ByteStream& stream, const BmpLayout& layout, Bmp4Image& image) {
    const auto w = static_cast<std::size_t>(layout.width);
    const auto rows = static_cast<std::size_t>(layout.rows);
    image.pixels.resize(w * rows);
    std::vector<std::uint8_t> bytes(padded_row_bytes(w));  // a row as the file holds it
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t length = i + 1 < rows ? bytes.size() : row_bytes(w);  // the last row may lack its padding
        for (std::size_t k = 0; k < length; ++k)
            if (get_byte(stream, bytes[k]) != 0) return 1;
        std::uint8_t* row = image.pixels.data() + (layout.top_down ? i : rows - 1 - i) * w;
        for (std::size_t j = 0; j < w / 2; ++j) {  // byte j holds pixels 2j and 2j + 1
            row[2 * j] = bytes[j] >> 4;
            row[2 * j + 1] = bytes[j] & 15;
        }
        if (w % 2 != 0) row[w - 1] = bytes[w / 2] >> 4;  // a last pixel on its own
    }
    return 0;
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

int read_bmp(ByteStream& stream, const BmpLimits& limits, Bmp4Image& image) {
    image = Bmp4Image{};
    BmpHeader header;
    BmpLayout layout;
    if (read_bmp_header(stream, header) != 0) return fail("Error while reading BMP header\n");
    if (check_bmp_header(header, limits, layout) != 0) return 1;
    // The rest of the file in its own order: header, palette, gap, rows.
    const bool core = header.info_size == CORE_HEADER_SIZE;
    if (skip_to(stream, core ? CORE_FIELDS_END : INFO_FIELDS_END, layout.palette_start) != 0)
        return fail("Error - BMP info header of %" PRIu32 " bytes runs past the end of the file\n", header.info_size);
    if (read_palette(stream, layout, image) != 0) return fail("Error - BMP file ends before its palette\n");
    if (skip_to(stream, layout.palette_end, layout.pixel_start) != 0 || read_pixels(stream, layout, image) != 0) {
        image = Bmp4Image{};
        return fail("Error - BMP file ends before its last pixel row\n");
    }
    image.width = static_cast<std::int32_t>(layout.width);
    image.height = static_cast<std::int32_t>(layout.rows);
    return 0;
}

int write_bmp(ByteStream& stream, std::int32_t width, std::int32_t height,
              std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette, std::span<const std::uint8_t> pixels) {
    const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
    if (pixels.size() < w * h) return 1;
    put_byte(stream, 'B');
    put_byte(stream, 'M');
    const auto file_size = static_cast<std::uint32_t>(WRITTEN_PIXEL_OFFSET + padded_row_bytes(w) * h);
    // bfSize, bfReserved1 and 2, bfOffBits, biSize, biWidth, biHeight
    for (const std::uint32_t field : {file_size, 0u, WRITTEN_PIXEL_OFFSET, INFO_HEADER_SIZE,
                                      static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        write_u32_le(stream, field);
    write_u16_le(stream, 1);  // planes
    write_u16_le(stream, 4);  // bits per pixel
    // biCompression (none), biSizeImage, biX/YPelsPerMeter, biClrUsed, biClrImportant
    for (const std::uint32_t field : {0u, 0u, PIXELS_PER_METRE, PIXELS_PER_METRE, 0u, 0u}) write_u32_le(stream, field);
    for (const std::uint8_t b : palette) put_byte(stream, b);
    for (std::size_t i = h; i-- > 0;) {  // bottom row first
        const std::uint8_t* row = pixels.data() + i * w;
        for (std::size_t j = 0; j < w / 2; ++j)  // byte j holds pixels 2j and 2j + 1
            put_byte(stream, static_cast<std::uint8_t>(row[2 * j] << 4 | (row[2 * j + 1] & 15)));
        if (w % 2 != 0) put_byte(stream, static_cast<std::uint8_t>(row[w - 1] << 4));  // a last pixel on its own
        for (std::size_t k = row_bytes(w); k < padded_row_bytes(w); ++k) put_byte(stream, 0);
    }
    return 0;
}
