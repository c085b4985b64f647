// The EXIF Orientation in a TIFF block, as a JPEG file's APP1 segment holds
// it: the first IFD, looking for tag 0x0112. Everything is checked against
// the block's own length; anything unexpected ends the search with 1
// (upright).
#include <cstdint>
#include <span>

#include "gray/decode.h"

namespace {

constexpr std::uint16_t ORIENTATION_TAG = 0x0112;
constexpr std::uint16_t SHORT_TYPE = 3;
constexpr std::size_t IFD_ENTRY_SIZE = 12;

// The TIFF block, in its own byte order.
struct Tiff {
    std::span<const std::uint8_t> bytes;
    bool big_endian = false;
};

// The 16- or 32-bit number at offset, false when it does not fit in the block.
bool read_number(const Tiff& tiff, std::uint64_t offset, std::size_t size, std::uint32_t& value) {
    if (offset > tiff.bytes.size() || tiff.bytes.size() - offset < size) return false;
    value = number_in(tiff.bytes.subspan(static_cast<std::size_t>(offset), size), tiff.big_endian);
    return true;
}

}  // namespace

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
