// The EXIF Orientation of a JPEG file: the markers from SOI up to the first
// scan, and in an APP1 segment starting "Exif\0\0" the TIFF block's first
// IFD, looking for tag 0x0112. Everything is checked against the segment's
// own length; anything unexpected ends the search with 1 (upright).
#include "gray/decode.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

namespace {

constexpr std::uint8_t SOI = 0xD8;
constexpr std::uint8_t EOI = 0xD9;
constexpr std::uint8_t SOS = 0xDA;
constexpr std::uint8_t APP1 = 0xE1;
constexpr std::uint8_t TEM = 0x01;
constexpr std::uint16_t ORIENTATION_TAG = 0x0112;
constexpr std::uint16_t SHORT_TYPE = 3;
constexpr std::size_t IFD_ENTRY_SIZE = 12;

bool is_restart(std::uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// The TIFF block inside the segment, in its own byte order.
struct Tiff {
    std::span<const std::uint8_t> bytes;
    bool big_endian = false;
};

// The 16- or 32-bit number at offset, false when it does not fit in the block.
bool read_number(const Tiff& tiff, std::uint64_t offset, int size, std::uint32_t& value) {
    if (offset > tiff.bytes.size() || tiff.bytes.size() - offset < static_cast<std::uint64_t>(size)) return false;
    value = 0;
    for (int k = 0; k < size; ++k) {
        const int shift = tiff.big_endian ? 8 * (size - 1 - k) : 8 * k;
        value |= std::uint32_t{tiff.bytes[static_cast<std::size_t>(offset) + static_cast<std::size_t>(k)]} << shift;
    }
    return true;
}

// The Orientation in IFD0 of the TIFF block, 1 when it has none or a bad one.
int orientation_in_tiff(std::span<const std::uint8_t> bytes) {
    Tiff tiff{bytes};
    if (bytes.size() < 8) return 1;
    if (bytes[0] == 'M' && bytes[1] == 'M') {
        tiff.big_endian = true;
    } else if (bytes[0] != 'I' || bytes[1] != 'I') {
        return 1;
    }
    std::uint32_t magic = 0;
    std::uint32_t ifd = 0;
    std::uint32_t count = 0;
    if (!read_number(tiff, 2, 2, magic) || magic != 42 || !read_number(tiff, 4, 4, ifd) || !read_number(tiff, ifd, 2, count))
        return 1;
    for (std::uint64_t i = 0; i < count; ++i) {  // entries past the block's end end the search
        const std::uint64_t entry = std::uint64_t{ifd} + 2 + i * IFD_ENTRY_SIZE;
        std::uint32_t tag = 0;
        std::uint32_t type = 0;
        std::uint32_t values = 0;
        std::uint32_t value = 0;
        if (!read_number(tiff, entry, 2, tag) || !read_number(tiff, entry + 2, 2, type) ||
            !read_number(tiff, entry + 4, 4, values) || !read_number(tiff, entry + 8, 2, value))
            return 1;
        if (tag != ORIENTATION_TAG) continue;
        return type == SHORT_TYPE && values == 1 && value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

int read_u16(ByteStream& stream, std::uint32_t& value) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (get_byte(stream, high) != 0 || get_byte(stream, low) != 0) return 1;
    value = std::uint32_t{high} << 8 | low;
    return 0;
}

// The next marker's code, past any fill bytes 0xFF; 1 when no marker is next.
int read_marker(ByteStream& stream, std::uint8_t& marker) {
    std::uint8_t byte = 0;
    if (get_byte(stream, byte) != 0 || byte != 0xFF) return 1;
    do {
        if (get_byte(stream, byte) != 0) return 1;
    } while (byte == 0xFF);
    marker = byte;
    return 0;
}

// The segment's data after its length, read whole (at most 65533 bytes).
int read_segment(ByteStream& stream, std::uint32_t length, std::vector<std::uint8_t>& data) {
    data.resize(length);
    for (std::uint8_t& byte : data)
        if (get_byte(stream, byte) != 0) return 1;
    return 0;
}

// Past the end, the next read finds nothing.
int skip_segment(ByteStream& stream, std::uint32_t length) {
    return seek_to(stream, stream.start + static_cast<std::uint64_t>(stream.next - stream.buffer.data()) + length);
}

bool is_exif(std::span<const std::uint8_t> data) {
    constexpr std::uint8_t EXIF[] = {'E', 'x', 'i', 'f', 0, 0};
    return data.size() >= sizeof EXIF && std::equal(std::begin(EXIF), std::end(EXIF), data.begin());
}

}  // namespace

int read_jpeg_orientation(ByteStream& stream) {
    std::uint8_t marker = 0;
    if (read_marker(stream, marker) != 0 || marker != SOI) return 1;
    std::vector<std::uint8_t> data;
    while (read_marker(stream, marker) == 0 && marker != SOS && marker != EOI) {
        if (is_restart(marker) || marker == TEM) continue;  // no length follows these
        std::uint32_t length = 0;
        if (read_u16(stream, length) != 0 || length < 2) return 1;
        length -= 2;
        if (marker != APP1) {
            if (skip_segment(stream, length) != 0) return 1;
            continue;
        }
        if (read_segment(stream, length, data) != 0) return 1;
        if (is_exif(data)) return orientation_in_tiff(std::span(data).subspan(6));
    }
    return 1;
}
