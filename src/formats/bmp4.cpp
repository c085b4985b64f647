#include "formats/bmp4.h"

#include "formats/nibbles.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr std::uint32_t FILE_HEADER_SIZE = 14;
constexpr std::uint32_t INFO_HEADER_SIZE = 40;
constexpr std::uint32_t CORE_HEADER_SIZE = 12;  // OS/2: 16-bit sizes, 3-byte palette entries
constexpr std::uint32_t WRITTEN_PIXEL_OFFSET = FILE_HEADER_SIZE + INFO_HEADER_SIZE + BMP_PALETTE_SIZE;

// Little-endian fields of the header buffer, addressed by their file offset
// (the buffer starts after "BM", at file offset 2).
std::uint32_t header_u16(const std::array<std::uint8_t, BMP_HEADER_SIZE>& h, std::size_t offset) {
    return static_cast<std::uint32_t>(h[offset - 2] | h[offset - 1] << 8);
}

std::uint32_t header_u32(const std::array<std::uint8_t, BMP_HEADER_SIZE>& h, std::size_t offset) {
    return header_u16(h, offset) | header_u16(h, offset + 2) << 16;
}

void put_u16_le(ByteStream& stream, std::uint32_t value) {
    put_byte(stream, static_cast<std::uint8_t>(value));
    put_byte(stream, static_cast<std::uint8_t>(value >> 8));
}

void put_u32_le(ByteStream& stream, std::uint32_t value) {
    put_u16_le(stream, value & 0xFFFF);
    put_u16_le(stream, value >> 16);
}

// Where the palette and pixels lie, decided from the header alone.
struct BmpLayout {
    bool core = false;
    std::int64_t width = 0;
    std::int64_t rows = 0;
    bool top_down = false;
    std::uint64_t palette_start = 0;
    unsigned entry_size = 4;
    unsigned entries = 16;
    std::uint64_t pixel_start = 0;
};

// Checks the header's fields in order and prints the first fault found.
int check_bmp_header(const std::array<std::uint8_t, BMP_HEADER_SIZE>& h, std::uint64_t length,
                     const BmpLimits& limits, BmpLayout& layout) {
    const std::uint32_t info_size = header_u32(h, 14);
    layout.core = info_size == CORE_HEADER_SIZE;
    if ((layout.core ? header_u16(h, 24) : header_u16(h, 28)) != 4) {
        std::printf("Error - only 16 color bitmaps can be imported !\n");
        return 1;
    }
    if (!layout.core && header_u32(h, 30) != 0) {
        std::printf("Error - compressed bitmaps not supported\n");
        return 1;
    }
    if (!layout.core && info_size < INFO_HEADER_SIZE) {
        std::printf("Error - BMP info header of %" PRIu32 " bytes is not supported\n", info_size);
        return 1;
    }
    layout.palette_start = std::uint64_t{FILE_HEADER_SIZE} + info_size;
    if (layout.palette_start > length) {
        std::printf("Error - BMP info header of %" PRIu32 " bytes runs past the end of the file\n", info_size);
        return 1;
    }

    if (layout.core) {
        layout.width = header_u16(h, 18);
        layout.rows = header_u16(h, 20);
    } else {
        layout.width = static_cast<std::int32_t>(header_u32(h, 18));
        const std::int64_t height = static_cast<std::int32_t>(header_u32(h, 22));
        layout.top_down = height < 0;
        layout.rows = layout.top_down ? -height : height;
    }
    if (layout.width <= 0 || layout.rows == 0) {
        std::printf("Error - bitmap size %" PRId64 "x%" PRId64 " has no pixels\n", layout.width, layout.rows);
        return 1;
    }
    if (layout.width > limits.max_width || layout.rows > limits.max_height) {
        std::printf("Error - maximum bitmap size is %" PRId32 "x%" PRId32 ".\n", limits.max_width,
                    limits.max_height);
        return 1;
    }

    const std::uint32_t pixel_offset = header_u32(h, 10);
    if (layout.core) {
        // A core palette has no count of its own; a pixel offset inside a
        // full palette tells how many entries there are.
        layout.entry_size = 3;
        const std::uint64_t room = pixel_offset >= layout.palette_start ? pixel_offset - layout.palette_start : 0;
        if (room >= 3 && room < 16 * 3) layout.entries = static_cast<unsigned>(room / 3);
    } else {
        const std::uint32_t used = header_u32(h, 46);
        if (used >= 1 && used <= 15) layout.entries = used;
    }
    const std::uint64_t palette_end = layout.palette_start + std::uint64_t{layout.entries} * layout.entry_size;
    if (palette_end > length) {
        std::printf("Error - BMP file ends before its palette\n");
        return 1;
    }

    layout.pixel_start = pixel_offset >= palette_end ? pixel_offset : palette_end;
    const auto width = static_cast<std::uint64_t>(layout.width);
    const auto rows = static_cast<std::uint64_t>(layout.rows);
    const std::uint64_t pixels_end =
        layout.pixel_start + bmp_padded_row_bytes(width) * (rows - 1) + bmp_row_bytes(width);
    if (pixels_end > length) {
        std::printf("Error - BMP file ends before its last pixel row\n");
        return 1;
    }
    return 0;
}

int read_palette(ByteStream& stream, const BmpLayout& layout, Bmp4Image& image) {
    if (seek_to(stream, layout.palette_start) != 0) return 1;
    for (unsigned i = 0; i < layout.entries; ++i) {
        for (unsigned k = 0; k < layout.entry_size; ++k)
            if (get_byte(stream, image.palette[4 * i + k]) != 0) return 1;
    }
    image.palette_entries = layout.entries;
    return 0;
}

int read_pixels(ByteStream& stream, const BmpLayout& layout, Bmp4Image& image) {
    const auto width = static_cast<std::size_t>(layout.width);
    const auto rows = static_cast<std::size_t>(layout.rows);
    ByteBuffer row(bmp_padded_row_bytes(width));
    image.pixels.resize(width * rows);
    if (seek_to(stream, layout.pixel_start) != 0) return 1;
    for (std::size_t i = 0; i < rows; ++i) {
        // The last row may lack its pad.
        const std::size_t length = i + 1 < rows ? row.size() : bmp_row_bytes(width);
        if (get_bytes(stream, length, row.data()) != 0) return 1;
        split_row(row.data(), width, image.pixels.data() + (layout.top_down ? i : rows - 1 - i) * width);
    }
    return 0;
}

}  // namespace

int read_bmp_header(ByteStream& stream, std::array<std::uint8_t, BMP_HEADER_SIZE>& header) {
    std::uint8_t byte = 0;
    if (seek_to(stream, 0) != 0) return 1;
    if (get_byte(stream, byte) != 0 || byte != 'B') return 1;
    if (get_byte(stream, byte) != 0 || byte != 'M') return 1;
    for (std::uint8_t& b : header)
        if (get_byte(stream, b) != 0) return 1;
    return 0;
}

int read_bmp(ByteStream& stream, const BmpLimits& limits, Bmp4Image& image) {
    image = Bmp4Image{};
    std::array<std::uint8_t, BMP_HEADER_SIZE> header{};
    if (read_bmp_header(stream, header) != 0) {
        std::printf("Error while reading BMP header\n");
        return 1;
    }
    std::uint64_t length = 0;
    BmpLayout layout;
    if (stream_length(stream, length) != 0 || check_bmp_header(header, length, limits, layout) != 0) return 1;
    if (read_palette(stream, layout, image) != 0) {
        std::printf("Error - BMP file ends before its palette\n");
        image = Bmp4Image{};
        return 1;
    }
    if (read_pixels(stream, layout, image) != 0) {
        std::printf("Error - BMP file ends before its last pixel row\n");
        image = Bmp4Image{};
        return 1;
    }
    image.width = static_cast<std::int32_t>(layout.width);
    image.height = static_cast<std::int32_t>(layout.rows);
    return 0;
}

int write_bmp(ByteStream& stream, std::int32_t width, std::int32_t height,
              std::span<const std::uint8_t, BMP_PALETTE_SIZE> palette,
              std::span<const std::uint8_t> pixels) {
    const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t h = height > 0 ? static_cast<std::size_t>(height) : 0;
    if (pixels.size() < w * h) return 1;
    const std::size_t row_bytes = bmp_row_bytes(w);
    const std::size_t padded = bmp_padded_row_bytes(w);

    put_byte(stream, 'B');
    put_byte(stream, 'M');
    put_u32_le(stream, static_cast<std::uint32_t>(WRITTEN_PIXEL_OFFSET + padded * h));
    put_u32_le(stream, 0);  // bfReserved1, bfReserved2
    put_u32_le(stream, WRITTEN_PIXEL_OFFSET);
    put_u32_le(stream, INFO_HEADER_SIZE);
    put_u32_le(stream, static_cast<std::uint32_t>(width));
    put_u32_le(stream, static_cast<std::uint32_t>(height));
    put_u16_le(stream, 1);  // planes
    put_u16_le(stream, 4);  // bits per pixel
    put_u32_le(stream, 0);  // no compression
    put_u32_le(stream, 0);  // biSizeImage
    put_u32_le(stream, BMP_PIXELS_PER_METRE);
    put_u32_le(stream, BMP_PIXELS_PER_METRE);
    put_u32_le(stream, 0);  // biClrUsed
    put_u32_le(stream, 0);  // biClrImportant
    for (const std::uint8_t b : palette) put_byte(stream, b);

    ByteBuffer row(padded);
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(row_bytes), row.end(), std::uint8_t{0});
    for (std::size_t i = h; i-- > 0;) {
        join_row(pixels.data() + i * w, w, row.data());
        put_bytes(stream, padded, row.data());
    }
    return 0;
}
