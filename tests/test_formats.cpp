// The file formats and the palette ranking, on bytes in memory.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "convert/bmp_to_record.h"
#include "formats/pdb.h"
#include "test_support.h"

namespace {

// ---- BMP files ----

// A picture as another program might store it, laid out without the code under test.
struct BmpFile {
    std::uint32_t info_size = 40;  // 12: the OS/2 core header
    std::int32_t width = 5;
    std::int32_t height = 3;  // negative: top-down
    std::uint32_t clr_used = 0;
    unsigned entries = 16;  // palette entries written
    std::uint32_t gap = 0;  // bytes between palette and pixels
    std::optional<std::uint32_t> off_bits = std::nullopt;
    bool pad_last_row = true;
};

std::uint8_t palette_byte(unsigned i) { return i % 4 == 3 ? 0 : static_cast<std::uint8_t>(i * 5 + 1); }

Bytes build_bmp(const BmpFile& f) {
    const bool core = f.info_size == 12;
    const unsigned entry_size = core ? 3 : 4;
    const auto width = static_cast<std::size_t>(f.width);
    const auto rows = static_cast<std::size_t>(std::abs(f.height));
    const std::size_t row_bytes = (width + 1) / 2;
    Bytes b = {'B', 'M'};
    put_le(b, 0, 8);  // bfSize (set below) and bfReserved
    put_le(b, f.off_bits.value_or(14 + f.info_size + f.entries * entry_size + f.gap), 4);
    put_le(b, f.info_size, 4);
    put_le(b, static_cast<std::uint32_t>(f.width), core ? 2 : 4);
    put_le(b, static_cast<std::uint32_t>(f.height), core ? 2 : 4);
    put_le(b, 0x00040001, 4);  // one plane, 4 bits
    if (!core) {
        put_le(b, 0, 8);  // no compression, biSizeImage 0
        put_le(b, 2834 | std::uint64_t{2834} << 32, 8);
        put_le(b, f.clr_used, 8);  // and biClrImportant 0
    }
    b.resize(14 + f.info_size, 0xEE);  // filler for the larger header versions
    for (unsigned i = 0; i < 4 * f.entries; ++i)
        if (i % 4 < entry_size) b.push_back(palette_byte(i));
    b.resize(b.size() + f.gap, 0x77);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t y = f.height < 0 ? i : rows - 1 - i;
        for (std::size_t x = 0; x < width; x += 2)
            b.push_back(static_cast<std::uint8_t>(unsigned{pattern_index(x, y)} << 4 | (x + 1 < width ? pattern_index(x + 1, y) : 0)));
        if (f.pad_last_row || i + 1 < rows) b.resize(b.size() + (4 - row_bytes % 4) % 4, 0);
    }
    for (std::size_t k = 0; k < 4; ++k) b[2 + k] = static_cast<std::uint8_t>(b.size() >> (8 * k));
    return b;
}

struct ReadResult {
    int status = -1;
    std::string console;
    Bmp4Image image;
};

// The picture as the reader takes it, and what import says of the file.
ReadResult read(const Bytes& file) {
    ReadResult r;
    ByteStream stream;
    open_memory(stream, file);
    BmpHeader header;
    r.status = read_bmp_header(stream, header) != 0 || read_bmp_pixels(stream, header, {160, 160}, r.image) != BmpError::NONE;
    open_memory(stream, file);
    std::vector<std::uint8_t> record;
    r.console = console_of([&] { convert_bmp(stream, "x", record); });
    return r;
}

void expect_pattern(const ReadResult& r, int width, int height, unsigned entries, unsigned entry_size) {
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console, "");
    ASSERT_EQ(r.image.width, width);
    ASSERT_EQ(r.image.height, height);
    ASSERT_EQ(r.image.palette_entries, entries);
    for (unsigned i = 0; i < 64; ++i)
        EXPECT_EQ(r.image.palette[i], i / 4 < entries && i % 4 < entry_size ? palette_byte(i) : 0) << i;
    EXPECT_EQ(r.image.pixels, pattern(width, height));
}

// Whole, each layout reads as the picture it holds, at every width from 1 to
// 17; cut anywhere, it gets the one message of where it ends (only a missing
// last pad is fine).
TEST(Bmp, LayoutsOtherProgramsWriteAreReadAndFailCleanlyWhenCut) {
    struct Case { const char* what; BmpFile file; unsigned entries = 16; };
    std::vector<Case> cases = {
        {"info header 40", {}},
        {"info header 66", {.info_size = 66}},
        {"info header 124, top-down", {.info_size = 124, .width = 9, .height = -2}},
        {"OS/2 core", {.info_size = 12, .width = 7, .height = 4}},
        {"OS/2 core, 12 entries", {.info_size = 12, .entries = 12}, 12},
        {"OS/2 core, 36 bytes in all", {.info_size = 12, .width = 1, .height = 1, .entries = 2}, 2},
        {"last row unpadded", {.pad_last_row = false}},
        {"gap before pixels", {.gap = 10}},
        {"offset inside the palette", {.off_bits = 14}},
        {"more than 16 colours used", {.clr_used = 300000000}},
        {"one colour, 160 x 1", {.width = 160, .height = 1, .clr_used = 1, .entries = 1}, 1},
        {"15 colours", {.clr_used = 15, .entries = 15}, 15},
    };
    for (std::int32_t width = 1; width <= 17; ++width) cases.push_back({"", {.width = width, .height = width % 4 + 1}});
    for (const auto& [what, f, entries] : cases) {
        SCOPED_TRACE(std::string(what) + " " + std::to_string(f.width) + "x" + std::to_string(f.height));
        const unsigned entry_size = f.info_size == 12 ? 3 : 4;
        const Bytes file = build_bmp(f);
        expect_pattern(read(file), f.width, std::abs(f.height), entries, entry_size);
        const std::size_t header_end = f.info_size == 12 ? 26 : 50;  // what the reader takes of the headers
        const std::size_t palette_end = 14 + f.info_size + entries * entry_size;
        const std::size_t padding = f.pad_last_row ? (4 - (static_cast<std::size_t>(f.width) + 1) / 2 % 4) % 4 : 0;
        for (std::size_t length = 0; length + padding < file.size(); ++length)
            EXPECT_EQ(read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length))).console,
                      length < header_end           ? "Error while reading BMP header\n"
                      : length < 14 + f.info_size   ? "Error - BMP info header of " + std::to_string(f.info_size) +
                                                        " bytes runs past the end of the file\n"
                      : length < palette_end        ? "Error - BMP file ends before its palette\n"
                                                    : "Error - BMP file ends before its last pixel row\n")
                << "cut at " << length;
    }
}

// Headers whose claims the file cannot back fail with their one "Error" line,
// before anything is allocated for the claim.
TEST(Bmp, BadHeadersFailWithOneErrorLine) {
    const Bytes good = build_bmp({});
    const std::string size_message = "Error - maximum bitmap size is 160x160.\n";
    struct Case { Bytes file; std::string message; };
    const Case cases[] = {
        {patched(good, 0, 'C', 1), "Error while reading BMP header\n"},
        {patched(good, 1, 'A', 1), "Error while reading BMP header\n"},
        {patched(good, 28, 0x10008), "Error - only 16 color bitmaps can be imported !\n"},  // and RLE8
        {patched(good, 30, 2), "Error - compressed bitmaps not supported\n"},
        {patched(good, 14, 20), "Error - BMP info header of 20 bytes is not supported\n"},
        {patched(good, 18, 0), "Error - bitmap size 0x3 has no pixels\n"},
        {patched(good, 22, 0), "Error - bitmap size 5x0 has no pixels\n"},
        {patched(good, 18, 0xFFFFFFFB), "Error - bitmap size -5x3 has no pixels\n"},
        {patched(good, 18, 161), size_message},
        {patched(good, 22, static_cast<std::uint32_t>(-161)), size_message},
        {patched(good, 22, 0x80000000), size_message},
        {patched(good, 14, 0xFFFFFFF0), "Error - BMP info header of 4294967280 bytes runs past the end of the file\n"},
        {patched(good, 10, 0xFFFFFFFF), "Error - BMP file ends before its last pixel row\n"},
    };
    for (const Case& c : cases) {
        const ReadResult r = read(c.file);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.console, c.message);
        EXPECT_TRUE(r.image.pixels.empty()) << c.message;
    }
}

// ---- Image records ----

TEST(ImageRecord, PackRefusesPicturesTheLayoutCannotHold) {
    std::vector<std::uint8_t> record;
    for (const auto& [width, height, levels] : {std::array{0, 1, 1}, {1, 0, 1}, {1, 256, 256}, {511, 1, 511}, {4, 4, 15}}) {
        EXPECT_EQ(pack_image_record("x", width, height, Bytes(static_cast<std::size_t>(levels)), IDENTITY_LEVELS, record), 1);
        EXPECT_TRUE(record.empty());
    }
    EXPECT_EQ(pack_image_record("x", 510, 255, Bytes(510 * 255), IDENTITY_LEVELS, record), 0);
    EXPECT_EQ(record.size(), MAX_RECORD_SIZE);
}

// ---- Databases ----

TEST(Pdb, WritesTheLayout) {
    const std::vector<Bytes> records = {Bytes(100, 1), {}, Bytes(50, 2)};
    PdbDatabase database = new_database();
    EXPECT_EQ(written_by([&](ByteStream& s) { write_database(s, database); }), database_of({}));
    for (const Bytes& r : records) ASSERT_EQ(add_record(database, r), 0);
    EXPECT_EQ(written_by([&](ByteStream& s) { write_database(s, database); }), database_of(records));
}

// A database with the given record offsets, filled with counting bytes up to length.
Bytes raw_database(const std::vector<std::uint32_t>& offsets, std::size_t length) {
    Bytes b(76, 0);
    put_be(b, offsets.size(), 2);
    for (std::uint64_t offset : offsets) put_be(b, offset << 32, 8);
    while (b.size() < length) b.push_back(static_cast<std::uint8_t>(b.size()));
    return b;
}

TEST(Pdb, RecordsAreReadWithinTheirBoundsOrRefusedByNumber) {
    struct Case { std::vector<std::uint32_t> offsets; std::size_t max_size; std::vector<std::string> read; };
    const Case cases[] = {  // in a file of 140 bytes; a read record shows as its size
        {{110, 120, 130}, 1000, {"10", "10", "10"}},
        {{110, 130, 120}, 1000, {"20", "Error - record 2 starts after the record that follows it\n", "20"}},
        {{110, 120, 5000}, 1000, {"10", "Error - record 2 runs past the end of the database file\n", "0"}},
        {{0xFFFFFFFF, 110}, 1000, {"Error - record 1 starts after the record that follows it\n", "30"}},
        {{110, 130}, 4, {"4", "4"}},
    };
    for (const Case& c : cases) {
        ByteStream in;
        open_memory(in, raw_database(c.offsets, 140));
        PdbDatabase database;
        ASSERT_EQ(read_pdb_header(in, database) | read_record_list(in, database), 0);
        for (std::uint16_t i = 0; i < c.offsets.size(); ++i) {
            std::vector<std::uint8_t> data{1};
            int status = -1;
            const std::string console = console_of([&] { status = read_record(in, database, i, c.max_size, data); });
            EXPECT_EQ(status == 0 ? std::to_string(data.size()) : console, c.read[i]) << c.offsets[0] << " record " << i;
            EXPECT_EQ(status == 0, console.empty());
            EXPECT_TRUE(data.empty() || data[0] == static_cast<std::uint8_t>(c.offsets[i]));  // bytes count up from 0
        }
    }
}

// ---- Palette ranking ----

TEST(RankPalette, BrightestIsWhiteDarkestBlackAndBlueDarkerThanRedDarkerThanGreen) {
    std::array<std::uint8_t, 64> p{};  // blue, green, red, reserved; entries 5..15 black
    for (const auto& [entry, bgr] : {std::pair{0, 0xFF0000}, {1, 0xFF}, {2, 0xFF00}, {3, 0}, {4, 0xFFFFFF}})
        for (unsigned c = 0; c < 3; ++c) p[static_cast<std::size_t>(4 * entry) + c] = static_cast<std::uint8_t>(bgr >> (16 - 8 * c));
    p[7] = 0xFF;  // a reserved byte takes no part
    EXPECT_EQ(brightness(std::span(p).first<4>()), 255u);
    const auto levels = rank_palette(p);
    EXPECT_EQ(std::vector<GrayLevel>(levels.begin(), levels.begin() + 5), (std::vector<GrayLevel>{3, 2, 1, levels[3], 0}));
    EXPECT_GE(levels[3], 4);  // black, like the 11 entries after white
}

TEST(RankPalette, ShortPalettesSpreadOverTheWholeRange) {
    const std::vector<std::vector<GrayLevel>> cases = {{0}, {0, 15}, {0, 8, 15}, {0, 4, 8, 11, 15},
                                                       {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15}};
    for (const auto& brightest_first : cases) {
        const auto entries = static_cast<unsigned>(brightest_first.size());
        std::array<std::uint8_t, 64> p{};  // entry i is darker the higher i is
        for (unsigned i = 0; i < 4 * entries; ++i) p[i] = static_cast<std::uint8_t>(250 - 10 * (i / 4));
        const auto levels = rank_palette(p, entries);
        for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(levels[i], i < entries ? brightest_first[i] : 15) << entries << ", " << i;
    }
}

}  // namespace
