// The three file formats and the palette ranking, on bytes in memory.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "convert/bmp_to_record.h"
#include "formats/bmp4.h"
#include "formats/image_record.h"
#include "formats/pdb.h"
#include "test_support.h"

namespace {

// ---- BMP files ----

// A picture as another program might store it, laid out without the code under test.
struct BmpFile {
    std::uint32_t info_size = 40;  // 12: OS/2 core header
    std::int32_t width = 5;
    std::int32_t height = 3;  // negative: top-down
    std::uint32_t clr_used = 0;
    unsigned entries = 16;  // palette entries written
    std::uint32_t gap = 0;  // bytes between palette and pixels
    std::optional<std::uint32_t> off_bits = std::nullopt;
    bool pad_last_row = true;
};

std::uint8_t palette_byte(unsigned entry, unsigned channel) {
    return channel == 3 ? 0 : static_cast<std::uint8_t>(entry * 16 + channel * 5 + 1);
}

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
        put_le(b, 0, 8);  // no compression, biSizeImage
        put_le(b, 2834, 4);
        put_le(b, 2834, 4);
        put_le(b, f.clr_used, 4);
        put_le(b, 0, 4);
    }
    b.resize(14 + f.info_size, 0xEE);  // filler for the larger header versions
    for (unsigned i = 0; i < f.entries; ++i)
        for (unsigned c = 0; c < entry_size; ++c) b.push_back(palette_byte(i, c));
    b.resize(b.size() + f.gap, 0x77);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t y = f.height < 0 ? i : rows - 1 - i;
        for (std::size_t j = 0; j < row_bytes; ++j) {
            const unsigned low = 2 * j + 1 < width ? pattern_index(2 * j + 1, y) : 0u;
            b.push_back(static_cast<std::uint8_t>(unsigned{pattern_index(2 * j, y)} << 4 | low));
        }
        if (f.pad_last_row || i + 1 < rows) b.resize(b.size() + (row_bytes + 3) / 4 * 4 - row_bytes, 0);
    }
    const auto size = static_cast<std::uint32_t>(b.size());
    for (std::size_t k = 0; k < 4; ++k) b[2 + k] = static_cast<std::uint8_t>(size >> (8 * k));
    return b;
}

struct ReadResult {
    int status = -1;
    std::string console;
    Bmp4Image image;
};

ReadResult read(const Bytes& file) {
    ReadResult r;
    ByteStream stream;
    open_memory_read(stream, file);
    r.console = console_of([&] { r.status = read_bmp(stream, BmpLimits{160, 160}, r.image); });
    return r;
}

void expect_pattern(const Bmp4Image& image, int width, int height, unsigned entries, unsigned entry_size) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.palette_entries, entries);
    for (unsigned i = 0; i < 64; ++i)
        EXPECT_EQ(image.palette[i], i / 4 < entries && i % 4 < entry_size ? palette_byte(i / 4, i % 4) : 0) << i;
    ASSERT_EQ(image.pixels.size(), static_cast<std::size_t>(width * height));
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        ASSERT_EQ(image.pixels[i], pattern_index(i % static_cast<std::size_t>(width), i / static_cast<std::size_t>(width)))
            << "pixel " << i;
}

TEST(Bmp, WriterAndReaderAgreeWithTheLayoutAtEveryWidth) {
    std::array<std::uint8_t, 64> palette{};
    for (unsigned i = 0; i < 64; ++i) palette[i] = palette_byte(i / 4, i % 4);
    for (std::int32_t width = 1; width <= 17; ++width)
        for (std::int32_t height : {1, 2, 7}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            Bytes pixels;
            for (std::int32_t i = 0; i < width * height; ++i)
                pixels.push_back(pattern_index(static_cast<std::size_t>(i % width), static_cast<std::size_t>(i / width)));
            const Bytes file = build_bmp({.width = width, .height = height});
            EXPECT_EQ(written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); }), file);
            const ReadResult r = read(file);
            ASSERT_EQ(r.status, 0) << r.console;
            expect_pattern(r.image, width, height, 16, 4);
        }
}

TEST(Bmp, LayoutsOtherProgramsWriteAreRead) {
    struct Case { const char* what; BmpFile file; unsigned entries = 16; };
    const Case cases[] = {
        {"info header 66", {.info_size = 66}},
        {"info header 124", {.info_size = 124, .width = 9, .height = -2}},
        {"OS/2 core", {.info_size = 12, .width = 7, .height = 4}},
        {"OS/2 core, 12 entries", {.info_size = 12, .entries = 12}, 12},
        {"OS/2 core, 36 bytes in all", {.info_size = 12, .width = 1, .height = 1, .entries = 2}, 2},
        {"top-down", {.width = 6, .height = -4}},
        {"last row unpadded", {.pad_last_row = false}},
        {"gap before pixels", {.gap = 10}},
        {"offset inside the palette", {.off_bits = 14}},
        {"more than 16 colours used", {.clr_used = 300000000}},
        {"one colour, 160 x 1", {.width = 160, .height = 1, .clr_used = 1, .entries = 1}, 1},
        {"7 colours", {.clr_used = 7, .entries = 7}, 7},
        {"15 colours", {.clr_used = 15, .entries = 15}, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadResult r = read(build_bmp(c.file));
        ASSERT_EQ(r.status, 0) << r.console;
        EXPECT_EQ(r.console, "");
        expect_pattern(r.image, c.file.width, std::abs(c.file.height), c.entries, c.file.info_size == 12 ? 3 : 4);
    }
}

// Headers whose claims the file cannot back: each fails with its one
// "Error" line, without allocating for the claim.
TEST(Bmp, BadHeadersFailWithOneErrorLine) {
    const auto patched = [](std::size_t at, std::uint32_t value, int size = 4) {
        Bytes b = build_bmp({});
        for (int k = 0; k < size; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
        return b;
    };
    const std::string size_message = "Error - maximum bitmap size is 160x160.\n";
    const std::string header_message = "Error while reading BMP header\n";
    struct Case { const char* what; Bytes file; std::string message; };
    const Case cases[] = {
        {"signature CM", patched(0, 'C', 1), header_message},
        {"signature BA", patched(1, 'A', 1), header_message},
        {"8 bits", patched(28, 8, 2), "Error - only 16 color bitmaps can be imported !\n"},
        {"8 bits and RLE8", patched(28, 0x10008), "Error - only 16 color bitmaps can be imported !\n"},
        {"RLE4", patched(30, 2), "Error - compressed bitmaps not supported\n"},
        {"info header 20", patched(14, 20), "Error - BMP info header of 20 bytes is not supported\n"},
        {"width 0", patched(18, 0), "Error - bitmap size 0x3 has no pixels\n"},
        {"height 0", patched(22, 0), "Error - bitmap size 5x0 has no pixels\n"},
        {"negative width", patched(18, 0xFFFFFFFB), "Error - bitmap size -5x3 has no pixels\n"},
        {"161 wide", patched(18, 161), size_message},
        {"161 tall, top-down", patched(22, static_cast<std::uint32_t>(-161)), size_message},
        {"2^31 - 1 wide", patched(18, 0x7FFFFFFF), size_message},
        {"most negative height", patched(22, 0x80000000), size_message},
        {"info header of 4 GiB", patched(14, 0xFFFFFFF0), "Error - BMP file ends before its palette\n"},
        {"pixels at 4 GiB", patched(10, 0xFFFFFFFF), "Error - BMP file ends before its last pixel row\n"},
    };
    for (const Case& c : cases) {
        const ReadResult r = read(c.file);
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.console, c.message) << c.what;
        EXPECT_TRUE(r.image.pixels.empty()) << c.what;
    }
}

TEST(Bmp, FileCutAtEveryLengthGetsTheMessageOfWhereItEnds) {
    const BmpFile files[] = {{}, {.info_size = 124, .width = 9, .height = -2}, {.info_size = 12, .width = 1, .height = 1, .entries = 2}};
    for (const BmpFile& f : files) {
        const Bytes file = build_bmp(f);
        const bool core = f.info_size == 12;
        const std::size_t header_end = core ? 26 : 50;  // what the reader needs of the headers
        const std::size_t palette_end = 14 + f.info_size + f.entries * (core ? 3 : 4);
        const std::size_t padding = (4 - (static_cast<std::size_t>(f.width) + 1) / 2 % 4) % 4;
        for (std::size_t length = 0; length < file.size(); ++length) {
            const ReadResult r = read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_EQ(r.status, length + padding >= file.size() ? 0 : 1) << length;
            if (r.status == 0) continue;  // only the last row's padding is missing
            EXPECT_EQ(r.console, length < header_end    ? "Error while reading BMP header\n"
                                 : length < palette_end ? "Error - BMP file ends before its palette\n"
                                                        : "Error - BMP file ends before its last pixel row\n")
                << f.info_size << " cut at " << length;
        }
    }
}

// ---- Image records ----

TEST(ImageRecord, PacksColumnMajorAndUnpacksAtEveryWidth) {
    for (int width = 1; width <= 17; ++width)
        for (int height : {1, 2, 5}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            std::vector<GrayLevel> levels;
            for (int i = 0; i < width * height; ++i)
                levels.push_back(pattern_index(static_cast<std::size_t>(i % width), static_cast<std::size_t>(i / width)));
            const auto level = [&](int x, int r) { return x < width ? levels[static_cast<std::size_t>(r * width + x)] : 0; };
            std::vector<std::uint8_t> record;
            ASSERT_EQ(pack_image_record("F", width, height, levels, record), 0);
            const int row_bytes = (width + 1) / 2;
            ASSERT_EQ(record.size(), static_cast<std::size_t>(32 + row_bytes * height));
            EXPECT_EQ(record[0], row_bytes);
            EXPECT_EQ(record[1], height);
            for (int r = 0; r < height; ++r)  // the byte of row r, column j lies at 32 + j * height + r
                for (int j = 0; j < row_bytes; ++j)
                    EXPECT_EQ(record[static_cast<std::size_t>(32 + j * height + r)], level(2 * j, r) << 4 | level(2 * j + 1, r));
            ImageRecord image;
            ASSERT_EQ(unpack_image_record(record, 1, image), 0);
            ASSERT_EQ(image.levels.size(), static_cast<std::size_t>(2 * row_bytes * height));
            for (std::size_t i = 0; i < image.levels.size(); ++i)
                EXPECT_EQ(image.levels[i], level(static_cast<int>(i) % (2 * row_bytes), static_cast<int>(i) / (2 * row_bytes))) << i;
        }
}

TEST(ImageRecord, NameFieldKeepsAtMost29Characters) {
    std::vector<std::uint8_t> record;
    for (const std::string& name : {std::string(200, 'w'), std::string(), std::string(28, 'x'), std::string(29, 'y')}) {
        ASSERT_EQ(pack_image_record(name, 2, 1, std::vector<GrayLevel>{1, 2}, record), 0);
        const std::size_t kept = std::min<std::size_t>(name.size(), 29);
        for (std::size_t i = 0; i < 30; ++i) EXPECT_EQ(record[2 + i], i < kept ? name[i] : 0) << name << " byte " << i;
        ImageRecord image;
        ASSERT_EQ(unpack_image_record(record, 1, image), 0);
        EXPECT_EQ(image.name, name.substr(0, kept));
    }
    std::fill(record.begin() + 2, record.begin() + 32, 'q');  // no terminator at all
    ImageRecord image;
    ASSERT_EQ(unpack_image_record(record, 1, image), 0);
    EXPECT_EQ(image.name, std::string(29, 'q'));
}

TEST(ImageRecord, DamagedRecordsAreRefusedByNumber) {
    std::vector<std::uint8_t> record;
    ASSERT_EQ(pack_image_record("cut", 5, 3, std::vector<GrayLevel>(15, 7), record), 0);
    for (std::size_t length = 0; length < record.size(); ++length) {
        ImageRecord image;
        const std::string console = console_of([&] { EXPECT_EQ(unpack_image_record(std::span(record).first(length), 4, image), 1); });
        EXPECT_EQ(console, length < 32 ? "Error - record 4 is shorter than a picture header (" + std::to_string(length) + " of 32 bytes)\n"
                                       : "Error - record 4 is shorter than its 6x3 picture\n");
    }
    for (const auto& [row_bytes, height] : {std::pair{0, 3}, std::pair{3, 0}}) {
        record[0] = static_cast<std::uint8_t>(row_bytes);
        record[1] = static_cast<std::uint8_t>(height);
        ImageRecord image;
        const std::string console = console_of([&] { EXPECT_EQ(unpack_image_record(record, 2, image), 1); });
        EXPECT_EQ(console, "Error - record 2 holds a " + std::to_string(2 * row_bytes) + "x" + std::to_string(height) +
                               " picture, which has no pixels\n");
    }
}

TEST(ImageRecord, PackRefusesPicturesTheLayoutCannotHold) {
    struct Case { int width, height; std::size_t levels; };
    for (const Case c : {Case{0, 1, 1}, Case{1, 0, 1}, Case{1, 256, 256}, Case{511, 1, 511}, Case{4, 4, 15}}) {
        std::vector<std::uint8_t> record{1, 2, 3};
        EXPECT_EQ(pack_image_record("x", c.width, c.height, std::vector<GrayLevel>(c.levels, 1), record), 1) << c.width;
        EXPECT_TRUE(record.empty());
    }
    std::vector<std::uint8_t> record;
    EXPECT_EQ(pack_image_record("x", 510, 255, std::vector<GrayLevel>(510 * 255, 3), record), 0);
    EXPECT_EQ(record.size(), MAX_RECORD_SIZE);
}

// ---- Databases ----

std::array<std::uint32_t, 10> words_of(const PdbDatabase& d) {
    return {d.creationDate, d.modificationDate, d.lastBackupDate, d.modificationNumber, d.appInfoID,
            d.sortInfoID,   d.type,             d.creator,        d.uniqueIDSeed,       d.nextRecordListID};
}

TEST(Pdb, WritesTheLayoutAndReadsItBack) {
    const std::vector<Bytes> records = {Bytes(100, 1), {}, Bytes(50, 2)};
    PdbDatabase database = new_database();
    for (const Bytes& r : records) ASSERT_EQ(add_record(database, r), 0);
    Bytes expected = {'U', 'm', 'b', 'r', 'a', 'l', 'i', 't', 'h', '?', 'D', 'B'};
    expected.resize(32, 0);
    put_be(expected, 0x00080000, 4);  // attributes: backup; version 0
    expected.resize(60, 0);
    expected.insert(expected.end(), {'D', 'A', 'T', 'A', 'U', 'm', 'b', '?'});
    expected.resize(76, 0);
    put_be(expected, 3, 2);
    for (std::uint64_t offset : {104u, 204u, 204u}) put_be(expected, offset << 32, 8);  // offset, attributes and uniqueID 0
    expected.resize(expected.size() + 2, 0);
    for (const Bytes& r : records) expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(written_by([&](ByteStream& s) { EXPECT_EQ(write_database(s, database), 0); }), expected);

    // Every field read back from where it was written.
    database.version = 0x0102;
    std::uint32_t value = 0x01010101;
    for (std::uint32_t* word : {&database.creationDate, &database.modificationDate, &database.lastBackupDate,
                                &database.modificationNumber, &database.appInfoID, &database.sortInfoID, &database.type,
                                &database.creator, &database.uniqueIDSeed, &database.nextRecordListID})
        *word = value++;
    database.records[1].attributes = 0x40;
    database.records[1].uniqueID = {0xAA, 0xBB, 0xCC};
    const Bytes file = written_by([&](ByteStream& s) { write_database(s, database); });
    ByteStream in;
    open_memory_read(in, file);
    PdbDatabase back;
    ASSERT_EQ(read_database(in, back), 0);
    EXPECT_EQ(back.name, database.name);
    EXPECT_EQ(back.attributes, 8);
    EXPECT_EQ(back.version, 0x0102);
    EXPECT_EQ(words_of(back), words_of(database));
    ASSERT_EQ(back.numRecords, 3);
    EXPECT_EQ(back.records[1].attributes, 0x40);
    EXPECT_EQ(back.records[1].uniqueID, database.records[1].uniqueID);
    std::vector<std::uint8_t> data;
    for (std::uint16_t i = 0; i < 3; ++i) {
        ASSERT_EQ(read_record(in, back, i, MAX_RECORD_SIZE, data), 0);
        EXPECT_EQ(Bytes(data.begin(), data.end()), records[i]) << i;
    }
}

// A database with the given record offsets, filled with counting bytes up to length.
Bytes raw_database(const std::vector<std::uint32_t>& offsets, std::size_t length) {
    Bytes b(76, 0);
    put_be(b, static_cast<std::uint32_t>(offsets.size()), 2);
    for (std::uint64_t offset : offsets) put_be(b, offset << 32, 8);
    while (b.size() < length) b.push_back(static_cast<std::uint8_t>(b.size()));
    return b;
}

TEST(Pdb, FileShorterThanItsHeaderOrListIsRefused) {
    const Bytes file = raw_database({96, 196}, 246);
    for (std::size_t length = 0; length < 94; ++length) {
        ByteStream in;
        open_memory_read(in, std::span(file).first(length));
        PdbDatabase database;
        const std::string console = console_of([&] { EXPECT_EQ(read_database(in, database), 1); });
        EXPECT_EQ(console, length < 78 ? "Error - the file is shorter than a database header (78 bytes)\n"
                                       : "Error - the database file ends inside its list of 2 records\n")
            << length;
    }
}

TEST(Pdb, RecordsAreReadWithinTheirBoundsOrRefusedByNumber) {
    struct Case { const char* what; std::vector<std::uint32_t> offsets; std::size_t length, max_size; std::vector<std::string> read; };
    const Case cases[] = {
        {"in order", {110, 120, 130}, 140, 1000, {"10", "10", "10"}},
        {"descending", {110, 130, 120}, 140, 1000, {"20", "Error - record 2 starts after the record that follows it\n", "20"}},
        {"past the end", {110, 120, 5000}, 140, 1000, {"10", "Error - record 2 runs past the end of the database file\n", "0"}},
        {"far offset", {0xFFFFFFFF, 110}, 140, 1000, {"Error - record 1 starts after the record that follows it\n", "30"}},
        {"larger than a picture", {110, 130}, 140, 4, {"4", "4"}},
    };
    for (const Case& c : cases) {
        const Bytes file = raw_database(c.offsets, c.length);
        ByteStream in;
        open_memory_read(in, file);
        PdbDatabase database;
        ASSERT_EQ(read_database(in, database), 0) << c.what;
        for (std::uint16_t i = 0; i < c.offsets.size(); ++i) {
            std::vector<std::uint8_t> data{1};
            int status = -1;
            const std::string console = console_of([&] { status = read_record(in, database, i, c.max_size, data); });
            const bool read = c.read[i].find("Error") == std::string::npos;
            EXPECT_EQ(read ? std::to_string(data.size()) : console, c.read[i]) << c.what << " record " << i;
            EXPECT_EQ(status, read ? 0 : 1) << c.what << " record " << i;
            if (read && !data.empty()) {  // the file's bytes count up from 0
                EXPECT_EQ(data[0], static_cast<std::uint8_t>(c.offsets[i])) << c.what << " record " << i;
            }
        }
    }
}

// ---- Palette ranking ----

using Palette = std::array<std::uint8_t, 64>;

Palette palette_of(std::initializer_list<std::array<std::uint8_t, 3>> rgb) {
    Palette p{};
    std::size_t i = 0;
    for (const auto& c : rgb) {
        p[4 * i] = c[2];
        p[4 * i + 1] = c[1];
        p[4 * i + 2] = c[0];
        ++i;
    }
    return p;
}

TEST(RankPalette, BrightestIsWhiteDarkestBlackBlueDarkerThanRedDarkerThanGreen) {
    Palette p = palette_of({{0, 0, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}, {255, 255, 255}});
    p[7] = 0xFF;  // a reserved byte takes no part
    EXPECT_EQ(brightness(std::span(p).first<4>()), 255u);
    const auto levels = rank_palette(p);
    EXPECT_EQ(levels[4], 0);  // white
    // The 11 unset entries are black like entry 3: those 12 share levels 4..15.
    std::vector<GrayLevel> blacks = {levels[3]};
    blacks.insert(blacks.end(), levels.begin() + 5, levels.end());
    std::sort(blacks.begin(), blacks.end());
    for (std::size_t i = 0; i < blacks.size(); ++i) EXPECT_EQ(blacks[i], i + 4);
    EXPECT_EQ(levels[2], 1);  // green
    EXPECT_EQ(levels[1], 2);  // red
    EXPECT_EQ(levels[0], 3);  // blue
}

TEST(RankPalette, ShortPalettesSpreadOverTheWholeRange) {
    struct Case { unsigned entries; std::vector<GrayLevel> brightest_first; };
    const Case cases[] = {
        {1, {0}}, {2, {0, 15}}, {3, {0, 8, 15}}, {5, {0, 4, 8, 11, 15}}, {15, {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15}},
    };
    for (const Case& c : cases) {
        Palette p{};  // entry i is darker the higher i is
        for (unsigned i = 0; i < c.entries; ++i) p[4 * i] = p[4 * i + 1] = p[4 * i + 2] = static_cast<std::uint8_t>(250 - 10 * i);
        const auto levels = rank_palette(p, c.entries);
        for (unsigned i = 0; i < 16; ++i)
            EXPECT_EQ(levels[i], i < c.entries ? c.brightest_first[i] : 15) << c.entries << " entries, index " << i;
    }
}

}  // namespace
