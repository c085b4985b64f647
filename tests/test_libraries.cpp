// tavo-gray on PNG, GIF and WebP files in every depth, colour type and
// variant (tests/pictures/, made by make.py there): each comes out with the
// levels it was made with (within one level where the format loses
// detail); then hostile files, each refused or made as far as it goes with
// one line.
#include <zlib.h>

#include <fstream>

#include "tool_fixture.h"

namespace {

// ---- Pictures of known levels ----

enum class Alpha {
    NONE,
    CLEAR,    // some pixels black of opacity 0: white once put onto white
    PARTIAL,  // and some black of opacity 0x88: gray 119, level 8
    FRAMED,   // CLEAR, and clear too outside a frame at (9, 7) of 20 x 10
};

// How a picture was made: grays of the levels it uses by pattern_index, or
// colours whose gray is the level's, and what transparency it has.
struct Look {
    std::vector<unsigned> levels;
    bool colour = false;
    Alpha alpha = Alpha::NONE;
};

const std::vector<unsigned> ALL_LEVELS = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::vector<unsigned> TWO_LEVELS = {0, 15};          // 1-bit grays
const std::vector<unsigned> FOUR_LEVELS = {0, 5, 10, 15};  // 2-bit grays
const std::vector<unsigned> THREE_LEVELS = {0, 5, 10};     // 2-bit grays, black left for transparency

bool clear_at(Alpha alpha, int x, int y) {
    const bool outside = alpha == Alpha::FRAMED && (x < 9 || x >= 29 || y < 7 || y >= 17);
    return alpha != Alpha::NONE && (outside || (x + 2 * y) % 5 == 1);
}
bool half_clear_at(Alpha alpha, int x, int y) { return alpha == Alpha::PARTIAL && !clear_at(alpha, x, y) && (3 * x + y) % 7 == 2; }

unsigned level_at(const Look& look, int x, int y) {
    if (clear_at(look.alpha, x, y)) return 0;
    if (half_clear_at(look.alpha, x, y)) return 8;
    return look.levels[pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)) % look.levels.size()];
}

Bytes levels_of(const Look& look, int width, int height) {
    Bytes levels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) levels.push_back(static_cast<std::uint8_t>(level_at(look, x, y)));
    return levels;
}

struct Variant {
    std::string name;
    Look look;
    int tolerance = 0;  // 0: the BMP file exactly; 1: each level within one
    int width = 37;     // the picture made: odd sizes, for every Adam7 pass and GIF pass
    int height = 23;    // (a file larger than 160 holds each pixel of look as 2 x 2, shrunk back)
};

class Libraries : public Tool {};

// Each variant holds grays of the export palette (or colours of exactly
// those grays), black of opacity 0 and 0x88 where it has transparency:
// tavo-gray makes every level as written, transparency put onto white.
// Windows (under Wine) has no WebP decoder: those files are refused.
TEST_F(Libraries, EveryVariantComesOutWithItsLevels) {
    const Look gray{ALL_LEVELS};
    const Look colour{ALL_LEVELS, true};
    const Look see_through{ALL_LEVELS, true, Alpha::PARTIAL};
    const Look gray_see_through{ALL_LEVELS, false, Alpha::PARTIAL};
    const std::vector<Variant> variants = {
        {"gray1.png", {TWO_LEVELS}},  // gray at 1, 2, 4, 8 and 16 bits
        {"gray2.png", {FOUR_LEVELS}},
        {"gray4.png", gray},
        {"gray8.png", gray},
        {"gray16.png", gray},
        {"gray2_trns.png", {THREE_LEVELS, false, Alpha::CLEAR}},  // black transparent by tRNS
        {"gray_alpha8.png", gray_see_through},
        {"gray_alpha16.png", gray_see_through},
        {"rgb8.png", colour},
        {"rgb16.png", colour},
        {"rgba8.png", see_through},
        {"rgba16.png", see_through},
        {"palette1.png", {TWO_LEVELS, true}},
        {"palette2.png", {FOUR_LEVELS, true}},
        {"palette4.png", colour},
        {"palette8.png", colour},
        {"palette2_trns.png", {THREE_LEVELS, true, Alpha::CLEAR}},
        {"palette8_trns.png", see_through},
        {"gray1_adam7.png", {TWO_LEVELS}},
        {"palette4_adam7.png", colour},
        {"rgba16_adam7.png", see_through},
        {"shrunk.png", see_through, 0, 160, 115},  // RGBA 8-bit, made 320 x 230
        {"plain.gif", colour},
        {"transparent.gif", {ALL_LEVELS, true, Alpha::CLEAR}},
        {"interlaced.gif", {ALL_LEVELS, true, Alpha::CLEAR}},
        {"framed.gif", {ALL_LEVELS, true, Alpha::FRAMED}},  // one frame of 20 x 10 at (9, 7)
        {"lossless.webp", see_through},
        {"lossy.webp", gray, 1},
        {"lossy_alpha.webp", gray_see_through, 1},
        {"large.webp", see_through, 0, 160, 100},     // lossless, made 320 x 200
        {"large_lossy.webp", gray, 1, 160, 23},       // made 320 x 46
    };
    const auto refused = [&](const Variant& v) { return under_wine && fs::path(v.name).extension() == ".webp"; };
    std::vector<std::string> names;
    std::string expected_out;
    for (const Variant& v : variants) {
        copy_picture(v.name);
        names.push_back(v.name);
        const std::string made = fs::path(v.name).replace_extension(".bmp").string();
        expected_out += v.name + " .. " + (refused(v) ? no_decoder_on_windows("WebP") : made) + "\n";
    }
    const ToolRun run = tavo_gray(names);
    EXPECT_EQ(run.status, under_wine ? 1 : 0);
    EXPECT_EQ(run.out, expected_out);
    for (const Variant& v : variants) {
        const Bytes expected = levels_of(v.look, v.width, v.height);
        const Bytes made = file(fs::path(v.name).replace_extension(".bmp").string());
        if (refused(v)) {
            EXPECT_FALSE(fs::exists(dir / fs::path(v.name).replace_extension(".bmp"))) << v.name;
            continue;
        }
        if (v.tolerance == 0) {
            EXPECT_EQ(made, bmp_of(v.width, v.height, expected)) << v.name;
            continue;
        }
        const Bmp4Image image = read_back(made);
        if (image.width != v.width || image.height != v.height) {
            ADD_FAILURE() << v.name << " is " << image.width << " x " << image.height;
            continue;
        }
        int off = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) off += std::abs(image.pixels[i] - expected[i]) > v.tolerance;
        EXPECT_EQ(off, 0) << v.name;
    }
}

// ---- Hostile files ----

void put_chunk(Bytes& file, const char* type, const Bytes& data) {
    put_be(file, data.size(), 4);
    const std::size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    put_be(file, crc32(0, file.data() + start, static_cast<uInt>(data.size() + 4)), 4);
}

// A PNG's signature and header chunk.
Bytes png_header(std::uint32_t width, std::uint32_t height, int depth, int colour_type, bool interlaced = false) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put_be(header, width, 4);
    put_be(header, height, 4);
    header.insert(header.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0,
                                 static_cast<std::uint8_t>(interlaced ? 1 : 0)});
    put_chunk(file, "IHDR", header);
    return file;
}

// A 40 x 30 8-bit gray PNG laid out by hand: its rows stored uncompressed
// in one IDAT chunk, so that the rows whole before a cut are known; with a
// tail, compressed and followed by data past the picture's and a checksum
// that does not match.
Bytes stored_png(const Bytes& levels, bool tail = false) {
    Bytes file = png_header(40, 30, 8, 0);
    Bytes data = {0x78, 0x01, 0x01, 0xCE, 0x04, 0x31, 0xFB};  // zlib, one final stored block of 1230 bytes
    Bytes rows;
    for (std::size_t y = 0; y < 30; ++y) {
        rows.push_back(0);  // no filter
        for (std::size_t x = 0; x < 40; ++x) rows.push_back(static_cast<std::uint8_t>(255 - 17 * levels[y * 40 + x]));
    }
    data.insert(data.end(), rows.begin(), rows.end());
    put_be(data, adler32(1, rows.data(), static_cast<uInt>(rows.size())), 4);
    if (tail) {
        rows.resize(rows.size() + 1000, 0);
        data.resize(compressBound(static_cast<uLong>(rows.size())));
        uLongf size = data.size();
        compress(data.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
        data.resize(size);
        data.back() ^= 1;
    }
    put_chunk(file, "IDAT", data);
    put_chunk(file, "IEND", {});
    return file;
}

struct Hostile {
    std::string name;       // tests/pictures/hostile-NAME
    std::string line;       // what tavo-gray says after "NAME .. "
    std::string wine_line;  // and what it says on Windows (under Wine)
};

// Each hostile file (a PNG of a bad CRC, of a header alone, 70000 pixels
// wide, interlaced of 16384 x 16383 at 16 bits; a GIF of a 65535 x 65535
// frame of no data, cut in its header and in its frame, with no colour
// table, of no picture; a damaged, a cut and an animated WebP) is refused
// with one line.
TEST_F(Libraries, HostileFilesAreRefusedWithOneLine) {
    const std::string too_large = "Error - the picture is 65535x65535 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n";
    const std::string cut_short = "Error - PNG: the file is cut short before its first row\n";
    // What Windows' decoders say of them (under Wine).
    const std::string png_refused = "Error - PNG: Windows could not decode it (0x88982F07)\n";
    const std::string gif_refused = "Error - GIF: Windows could not decode it (0x80004005)\n";
    const std::string no_webp = no_decoder_on_windows("WebP") + "\n";
    const std::vector<Hostile> cases = {
        {"bad_crc.png", "Error - PNG: the file is damaged (IHDR: CRC error)\n", png_refused},
        {"header_only.png", cut_short, png_refused},
        {"wide.png", "Error - the picture is 70000x1 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n",
         "Error - the picture is 70000x1 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n"},
        {"interlaced_huge.png", "Error - PNG: the picture is interlaced and needs more than 512 MiB to decode at once\n",
         "Error - PNG: the picture is decoded whole by Windows and needs more than 512 MiB to decode at once\n"},
        {"huge.gif", too_large, too_large},
        {"header_cut.gif", "Error - GIF: the file is cut short before its first row\n", gif_refused},
        {"frame_cut.gif", too_large, too_large},
        {"no_colours.gif", "Error - GIF: the picture has no colour table\n", gif_refused},
        {"empty.gif", "Error - GIF: the file holds no picture\n", "Error - GIF: Windows could not decode it (0x80070057)\n"},
        {"broken.webp", "Error - WebP: its header is damaged\n", no_webp},
        {"cut.webp", "Error - WebP: the file is cut short before its first row\n", no_webp},
        {"animated.webp", "Error - WebP: animated WebP is not supported\n", no_webp},
    };
    std::vector<std::string> names;
    std::string expected;
    for (const Hostile& c : cases) {
        copy_picture("hostile-" + c.name, c.name);
        names.push_back(c.name);
        expected += c.name + " .. " + (under_wine ? c.wine_line : c.line);
    }
    const ToolRun run = tavo_gray(names);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(files().size(), cases.size());  // no picture written
}

// A PNG cut short in its picture data is made as far as its whole rows go,
// the rest white, with a warning; nothing after its last row is inflated.
TEST_F(Libraries, APngCutShortIsMadeAsFarAsItGoes) {
    const Bytes levels = levels_of({ALL_LEVELS}, 40, 30);
    const Bytes whole = stored_png(levels);
    const std::size_t twelve_rows = 33 + 8 + 7 + 12 * 41;  // the header, the chunk's and the block's, 12 rows
    put("whole.png", whole);
    put("cut.png", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(twelve_rows + 30)));
    put("tail.png", stored_png(levels, true));
    ToolRun run = tavo_gray({"whole.png", "cut.png", "tail.png"});
    EXPECT_EQ(file("whole.bmp"), bmp_of(40, 30, levels));
    if (under_wine) {  // Windows' decoder refuses a file it cannot decode whole
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.starts_with("whole.png .. whole.bmp\ncut.png .. Error - PNG: Windows could not decode it")) << run.out;
        EXPECT_FALSE(fs::exists(dir / "cut.bmp"));
        return;
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "whole.png .. whole.bmp\ncut.png .. Warning - PNG: the file is cut short after 12 of 30 rows; the rest is white\n"
                       "cut.bmp\ntail.png .. tail.bmp\n");
    Bytes top = levels;
    std::fill(top.begin() + 12 * 40, top.end(), 0);
    EXPECT_EQ(file("cut.bmp"), bmp_of(40, 30, top));
    EXPECT_EQ(file("tail.bmp"), bmp_of(40, 30, levels));
}

// A GIF or WebP file (150 x 100 grays, the WebP lossy) cut short in half:
// the rows it says it made are the picture's (within a level for lossy
// WebP), the rest white. Windows (under Wine) refuses the GIF, which it
// cannot decode whole, and has no WebP decoder.
TEST_F(Libraries, AGifOrWebpCutShortIsMadeAsFarAsItGoes) {
    struct Case { std::string name; std::string format; int tolerance; std::string wine_line; };
    const Case cases[] = {{"gif-cut.gif", "GIF", 0, "Error - GIF: Windows could not decode it (0x80004005)\n"},
                          {"webp-cut.webp", "WebP", 1, no_decoder_on_windows("WebP") + "\n"}};
    std::vector<std::string> names;
    std::string wine_out;
    for (const Case& c : cases) {
        copy_picture(c.name);
        names.push_back(c.name);
        wine_out += c.name + " .. " + c.wine_line;
    }
    const ToolRun run = tavo_gray(names);
    if (under_wine) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, wine_out);
        EXPECT_EQ(files(), (std::set<std::string>{"gif-cut.gif", "webp-cut.webp"}));
        return;
    }
    EXPECT_EQ(run.status, 0);
    std::size_t at = 0;  // where the file's lines start in the output
    for (const Case& c : cases) {
        const std::string start = c.name + " .. Warning - " + c.format + ": the file is cut short after ";
        ASSERT_TRUE(std::string_view(run.out).substr(at).starts_with(start)) << run.out;
        const int rows = std::atoi(run.out.c_str() + at + start.size());
        EXPECT_TRUE(rows > 0 && rows < 100) << c.name << " " << rows;
        const std::string bmp = fs::path(c.name).replace_extension(".bmp").string();
        const std::string lines = start + std::to_string(rows) + " of 100 rows; the rest is white\n" + bmp + "\n";
        ASSERT_EQ(run.out.substr(at, lines.size()), lines);
        at += lines.size();
        const Bytes expected = levels_of({ALL_LEVELS}, 150, 100);
        const Bmp4Image made = read_back(file(bmp));
        ASSERT_EQ(made.pixels.size(), expected.size()) << c.name;
        int off = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const bool made_row = i < static_cast<std::size_t>(rows) * 150;
            off += made_row ? std::abs(made.pixels[i] - expected[i]) > c.tolerance : made.pixels[i] != 0;
        }
        EXPECT_EQ(off, 0) << c.name;
    }
    EXPECT_EQ(at, run.out.size()) << run.out;
}

// An interlaced GIF (37 x 23) is held whole: cut inside its last data block,
// it is made as far as its passes went, each row the picture's or white,
// its first three passes (the even rows) whole.
TEST_F(Libraries, AnInterlacedGifCutShortIsMadeAsFarAsItsPassesGo) {
    Bytes cut = bytes_of(PICTURES / "interlaced.gif");
    cut.resize(cut.size() - 20);
    put("cut.gif", cut);
    const ToolRun run = tavo_gray({"cut.gif"});
    if (under_wine) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "cut.gif .. Error - GIF: Windows could not decode it (0x80004005)\n");
        return;
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "cut.gif .. Warning - GIF: the file is cut short; the picture is made as far as it goes\ncut.bmp\n");
    const Bytes expected = levels_of({ALL_LEVELS, true, Alpha::CLEAR}, 37, 23);
    const Bmp4Image made = read_back(file("cut.bmp"));
    ASSERT_EQ(made.pixels.size(), expected.size());
    int white_rows = 0;
    for (std::ptrdiff_t y = 0; y < 23; ++y) {
        const auto row = made.pixels.begin() + 37 * y;
        const bool white = std::all_of(row, row + 37, [](auto level) { return level == 0; });
        const bool whole = std::equal(row, row + 37, expected.begin() + 37 * y);
        EXPECT_TRUE(y % 2 == 0 ? whole : whole || white) << y;
        white_rows += white;
    }
    EXPECT_GT(white_rows, 0);
}

#if defined(__SANITIZE_ADDRESS__)  // GCC
constexpr bool UNDER_ADDRESS_SANITIZER = true;
#elif defined(__has_feature)  // Clang
constexpr bool UNDER_ADDRESS_SANITIZER = __has_feature(address_sanitizer);
#else
constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif

// Memory follows the picture made, not the file read: a 16384 x 16383
// 16-bit PNG of zeros, half a gigabyte of samples in half a megabyte of
// file, is made black row by row; a JPEG whose 1500 APP1 segments hold
// 98 MB keeps one at a time. Windows, which would decode the PNG whole,
// refuses it from its header.
TEST_F(Libraries, MemoryFollowsThePictureMade) {
    if (UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "under AddressSanitizer memory is its shadow's and a quarter of a billion pixels take minutes";
    Bytes huge = png_header(16384, 16383, 16, 0);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, Z_DEFAULT_COMPRESSION), Z_OK);
    Bytes row(1 + 2 * 16384, 0);
    Bytes out(1 << 20);
    for (int y = 0, status = Z_OK; status != Z_STREAM_END;) {
        if (z.avail_in == 0 && y < 16383) {
            z.next_in = row.data();
            z.avail_in = static_cast<uInt>(row.size());
            ++y;
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = deflate(&z, y < 16383 || z.avail_in > 0 ? Z_NO_FLUSH : Z_FINISH);
        if (z.avail_out < out.size()) put_chunk(huge, "IDAT", Bytes(out.begin(), out.end() - z.avail_out));
    }
    deflateEnd(&z);
    put_chunk(huge, "IEND", {});
    put("huge.png", huge);
    const Bytes jpeg = bytes_of(PICTURES / "textured.jpg");
    Bytes segments;
    for (int i = 0; i < 1500; ++i) {
        segments.insert(segments.end(), {0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0});
        segments.resize(segments.size() + 65533 - 6, 'M');
    }
    Bytes app1(jpeg.begin(), jpeg.begin() + 2);
    app1.insert(app1.end(), segments.begin(), segments.end());
    app1.insert(app1.end(), jpeg.begin() + 2, jpeg.end());
    put("app1.jpg", app1);
    put("textured.jpg", jpeg);
    ASSERT_EQ(tavo_gray({"textured.jpg"}).status, 0);
    const std::string time = "/usr/bin/time";
    const bool measured = !under_wine && fs::exists(time);
    for (const std::string name : {"huge.png", "app1.jpg"}) {
        const ToolRun run = measured ? sh(time + " -v -o time.txt '" + env_or("TAVO_GRAY_BINARY", TAVO_GRAY_DEFAULT_BINARY) + "' " + name)
                                     : tavo_gray({name});
        if (under_wine && name == "huge.png") {  // Windows decodes the whole picture, 2 GiB of it
            EXPECT_EQ(run.out, "huge.png .. Error - PNG: the picture is decoded whole by Windows and needs more than 512 MiB to decode at once\n");
            continue;
        }
        const std::string made = fs::path(name).replace_extension(".bmp").string();
        EXPECT_EQ(run.out, name + " .. " + made + "\n");
        EXPECT_EQ(file(made), name == "huge.png" ? bmp_of(160, 160, Bytes(160 * 160, 15)) : file("textured.bmp"));
        if (!measured) continue;
        std::ifstream report(dir / "time.txt");
        std::string line;
        long kilobytes = -1;
        while (std::getline(report, line))
            if (line.find("Maximum resident set size (kbytes): ") != std::string::npos) kilobytes = std::stol(line.substr(line.rfind(' ')));
        EXPECT_GT(kilobytes, 0);
        EXPECT_LT(kilobytes, 64 * 1024) << name;
    }
}

}  // namespace
