#include <optional>
#include <string>

#include "formats/bmp4.h"
#include "test_support.h"

namespace {

constexpr BmpLimits LIMITS{160, 160};
constexpr char SIZE_MESSAGE[] = "Error - maximum bitmap size is 160x160.\n";

// A picture as another program might store it; build_bmp lays it out
// without the code under test.
struct BmpFile {
    std::uint32_t info_size = 40;
    std::int32_t width = 5;
    std::int32_t height = 3;  // negative: top-down
    std::uint16_t bit_count = 4;
    std::uint32_t compression = 0;
    std::uint32_t clr_used = 0;
    unsigned entries = 16;    // palette entries actually written
    std::uint32_t gap = 0;    // bytes between palette and pixels
    std::optional<std::uint32_t> off_bits = std::nullopt;
    bool pad_last_row = true;
};

std::uint8_t palette_byte(unsigned entry, unsigned channel) {
    return static_cast<std::uint8_t>(entry * 16 + channel * 5 + 1);
}

Bytes build_bmp(const BmpFile& f) {
    const bool core = f.info_size == 12;
    const unsigned entry_size = core ? 3 : 4;
    const std::size_t width = static_cast<std::size_t>(f.width);
    const std::size_t rows = static_cast<std::size_t>(f.height < 0 ? -f.height : f.height);
    const std::size_t row_bytes = (width + 1) / 2;
    const std::size_t padded = (row_bytes + 3) / 4 * 4;
    const std::uint32_t off_bits =
        f.off_bits.value_or(14 + f.info_size + f.entries * entry_size + f.gap);
    Bytes b = {'B', 'M'};
    le32(b, 0);  // bfSize, filled below
    le32(b, 0);
    le32(b, off_bits);
    le32(b, f.info_size);
    if (core) {
        le16(b, static_cast<std::uint32_t>(f.width));
        le16(b, static_cast<std::uint32_t>(f.height));
        le16(b, 1);
        le16(b, f.bit_count);
    } else {
        le32(b, static_cast<std::uint32_t>(f.width));
        le32(b, static_cast<std::uint32_t>(f.height));
        le16(b, 1);
        le16(b, f.bit_count);
        le32(b, f.compression);
        le32(b, 0);
        le32(b, 2834);
        le32(b, 2834);
        le32(b, f.clr_used);
        le32(b, 0);
    }
    b.resize(14 + f.info_size, 0xEE);  // filler for the larger header versions
    for (unsigned i = 0; i < f.entries; ++i)
        for (unsigned c = 0; c < entry_size; ++c) b.push_back(c == 3 ? 0 : palette_byte(i, c));
    b.resize(b.size() + f.gap, 0x77);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t y = f.height < 0 ? i : rows - 1 - i;
        for (std::size_t j = 0; j < row_bytes; ++j) {
            const unsigned high = pattern_index(2 * j, y);
            const unsigned low = 2 * j + 1 < width ? pattern_index(2 * j + 1, y) : 0u;
            b.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
        if (f.pad_last_row || i + 1 < rows) b.resize(b.size() + padded - row_bytes, 0);
    }
    const auto size = static_cast<std::uint32_t>(b.size());
    for (int k = 0; k < 4; ++k) b[static_cast<std::size_t>(2 + k)] = static_cast<std::uint8_t>(size >> (8 * k));
    return b;
}

struct ReadResult {
    int status = -1;
    std::string console;
    Bmp4Image image;
};

ReadResult read(const Bytes& file, BmpLimits limits = LIMITS) {
    ReadResult result;
    ByteStream stream;
    open_memory_read(stream, file);
    result.console = console_of([&] { result.status = read_bmp(stream, limits, result.image); });
    return result;
}

void expect_pattern(const Bmp4Image& image, int width, int height, unsigned entries = 16, unsigned entry_size = 4) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.palette_entries, entries);
    for (unsigned i = 0; i < 16; ++i)
        for (unsigned c = 0; c < 3; ++c)
            EXPECT_EQ(image.palette[4 * i + c], i < entries && c < entry_size ? palette_byte(i, c) : 0) << i;
    ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(image.pixels[static_cast<std::size_t>(y * width + x)],
                      pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)))
                << x << "," << y;
}

TEST(BmpRoundTrip, WrittenFilesReadBackForEveryWidth) {
    std::array<std::uint8_t, 64> palette{};
    for (std::size_t i = 0; i < 64; ++i) palette[i] = static_cast<std::uint8_t>(i * 3 + 1);
    for (std::int32_t width = 1; width <= 17; ++width) {
        for (std::int32_t height : {1, 2, 7}) {
            Bytes pixels;
            for (std::int32_t y = 0; y < height; ++y)
                for (std::int32_t x = 0; x < width; ++x)
                    pixels.push_back(pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)));
            const Bytes file = written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); });
            const std::size_t padded = (static_cast<std::size_t>(width) + 7) / 8 * 4;  // rows padded to 4 bytes
            EXPECT_EQ(file.size(), 118 + padded * static_cast<std::size_t>(height)) << width;
            EXPECT_EQ(get_le32(file, 2), file.size());
            const ReadResult r = read(file);
            ASSERT_EQ(r.status, 0) << r.console;
            EXPECT_EQ(r.image.width, width);
            EXPECT_EQ(r.image.height, height);
            EXPECT_EQ(r.image.palette, palette);
            EXPECT_EQ(Bytes(r.image.pixels.begin(), r.image.pixels.end()), pixels) << width << "x" << height;
        }
    }
}

TEST(BmpRead, LayoutsOtherProgramsWriteAreRead) {
    struct Case { const char* what; BmpFile file; unsigned entries = 16; unsigned entry_size = 4; };
    std::vector<Case> cases = {
        {"info header 40", {}},
        {"info header 66", {.info_size = 66}},
        {"info header 124", {.info_size = 124}},
        {"OS/2 core", {.info_size = 12, .width = 7, .height = 4}, 16, 3},
        {"OS/2 core, 4 entries", {.info_size = 12, .width = 7, .height = 4, .entries = 4}, 4, 3},
        {"top-down", {.width = 6, .height = -4}},
        {"last row unpadded", {.pad_last_row = false}},
        {"gap before pixels", {.gap = 10}},
        {"offset inside the palette", {.off_bits = 14}},
        {"more than 16 colours used", {.clr_used = 300000000}},
    };
    for (std::uint32_t used : {1u, 7u, 15u}) cases.push_back({"short palette", {.clr_used = used, .entries = used}, used});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadResult r = read(build_bmp(c.file));
        ASSERT_EQ(r.status, 0) << r.console;
        EXPECT_EQ(r.console, "");
        expect_pattern(r.image, c.file.width, c.file.height < 0 ? -c.file.height : c.file.height, c.entries,
                       c.entry_size);
    }
}

// Headers whose claims the file cannot back: each must fail with one
// "Error" line, without allocating for the claim.
TEST(BmpRead, HostileHeadersFailWithOneErrorLine) {
    const Bytes good = build_bmp(BmpFile{});
    const auto patched = [&](std::size_t at, std::uint32_t value) {
        Bytes b = good;
        for (int k = 0; k < 4; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
        return b;
    };
    struct Case { const char* what; Bytes file; std::string message; };
    const std::vector<Case> cases = {
        {"width 0", patched(18, 0), "Error - bitmap size 0x3 has no pixels\n"},
        {"height 0", patched(22, 0), "Error - bitmap size 5x0 has no pixels\n"},
        {"negative width", patched(18, 0xFFFFFFFB), "Error - bitmap size -5x3 has no pixels\n"},
        {"161 wide", patched(18, 161), SIZE_MESSAGE},
        {"161 tall, top-down", patched(22, static_cast<std::uint32_t>(-161)), SIZE_MESSAGE},
        {"millions", patched(22, 3000000), SIZE_MESSAGE},
        {"2^31 pixels", patched(18, 0x7FFFFFFF), SIZE_MESSAGE},
        {"most negative height", patched(22, 0x80000000), SIZE_MESSAGE},
        {"header size 20", patched(14, 20), "Error - BMP info header of 20 bytes is not supported\n"},
        {"header size 0", patched(14, 0), "Error - BMP info header of 0 bytes is not supported\n"},
        {"header past the end", patched(14, 0xFFFFFFF0),
         "Error - BMP info header of 4294967280 bytes runs past the end of the file\n"},
        {"pixels past the end", patched(10, 5000), "Error - BMP file ends before its last pixel row\n"},
        {"pixel offset at 4 GiB", patched(10, 0xFFFFFFFF), "Error - BMP file ends before its last pixel row\n"},
        {"8 bits", patched(28, 8), "Error - only 16 color bitmaps can be imported !\n"},
        {"8 bits and RLE8", [&] { Bytes b = patched(28, 8); b[30] = 1; return b; }(),
         "Error - only 16 color bitmaps can be imported !\n"},
        {"RLE4", patched(30, 2), "Error - compressed bitmaps not supported\n"},
        {"bit fields", patched(30, 3), "Error - compressed bitmaps not supported\n"},
        {"signature BA", [&] { Bytes b = good; b[1] = 'A'; return b; }(), "Error while reading BMP header\n"},
        {"palette cut short", [] { Bytes b = build_bmp({.info_size = 124}); b.resize(14 + 124 + 20); return b; }(),
         "Error - BMP file ends before its palette\n"},
        {"signature MB", [&] { Bytes b = good; b[0] = 'M'; b[1] = 'B'; return b; }(), "Error while reading BMP header\n"},
    };
    for (const Case& c : cases) {
        const ReadResult r = read(c.file);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.console, c.message) << c.what;
        EXPECT_TRUE(r.image.pixels.empty()) << c.what;
    }
}

TEST(BmpRead, FileCutAtEveryLengthFailsCleanly) {
    BmpFile tall;
    tall.info_size = 124;
    tall.width = 9;
    tall.height = -2;
    for (const BmpFile& f : {BmpFile{}, tall}) {
        const Bytes file = build_bmp(f);
        const std::size_t row_bytes = (static_cast<std::size_t>(f.width) + 1) / 2;
        const std::size_t padding = (row_bytes + 3) / 4 * 4 - row_bytes;
        for (std::size_t length = 0; length < file.size(); ++length) {
            const ReadResult r = read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
            if (length + padding >= file.size()) {  // only the last row's padding is missing
                EXPECT_EQ(r.status, 0) << length;
                continue;
            }
            EXPECT_EQ(r.status, 1) << length;
            EXPECT_EQ(r.console.rfind("Error", 0), 0u) << length << ": " << r.console;
            EXPECT_EQ(r.console.find('\n'), r.console.size() - 1) << length;
        }
    }
}

}  // namespace
