// BMP files through tavo-gray: every depth and layout other programs write,
// the colour masks and opacity, RLE with its escapes, files cut short and
// hostile headers; then the picture fuzz target's corpus replayed.
#include <functional>
#include <tuple>
#include <sstream>

#include "make_pictures.h"
#include "tool_fixture.h"

// The picture fuzz target (fuzz/fuzz_gray.cpp): aborts when a property breaks.
int fuzz_gray_input(const std::uint8_t* data, std::size_t size);

namespace {

using LevelOf = std::function<std::uint8_t(int, int)>;

Rgba ramp_picture(int width, int height, const LevelOf& level) {
    return picture_of(width, height, [&](int x, int y) { return ramp(level(x, y)); });
}

Bytes levels_of(int width, int height, const LevelOf& level) {
    Bytes levels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) levels.push_back(level(x, y));
    return levels;
}

std::uint8_t pattern_level(int x, int y) { return pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)); }

Bytes patched(Bytes b, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    for (std::size_t k = 0; k < size; ++k) b[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
    return b;
}

class BmpRead : public Tool {
protected:
    void SetUp() override {
        Tool::SetUp();
        fs::create_directory(dir / "out");
    }
    // Runs tavo-gray on the files into out/.
    ToolRun make(const std::vector<std::string>& names, bool line_art = false) const {
        std::vector<std::string> args = {"-o", "out"};
        if (line_art) args.insert(args.begin(), "--line-art");
        args.insert(args.end(), names.begin(), names.end());
        return tavo_gray(args);
    }
    // Puts each file, makes them all in one run without dithering, and
    // checks that each comes out with its levels (top row first).
    void expect_levels(const std::vector<std::tuple<std::string, Bytes, Bytes>>& files) const {
        std::vector<std::string> names;
        for (const auto& [name, bytes, levels] : files) {
            put(name, bytes);
            names.push_back(name);
        }
        const ToolRun run = make(names, true);
        EXPECT_EQ(run.status, 0) << run.out;
        for (const auto& [name, bytes, levels] : files) {
            EXPECT_NE(run.out.find(name + " .. out/" + name + "\n"), std::string::npos) << run.out;
            EXPECT_EQ(read_back(file("out/" + name)).pixels, levels) << name;
        }
    }
};

// A picture of the ramp's grays comes out with exactly its levels from every
// depth, RLE, top-down and bottom-up, small or shrunk (made without
// dithering: 5-5-5 keeps five bits of a gray, each pixel its nearest gray).
TEST_F(BmpRead, EveryDepthAndLayoutComesOutExactly) {
    const LevelOf two = [](int x, int y) { return static_cast<std::uint8_t>(pattern_level(x, y) % 2 * 15); };
    const LevelOf runs = [](int x, int y) {  // runs, single pixels and runs of one nibble pair
        return static_cast<std::uint8_t>(x < 9 ? pattern_level(x, y) : x < 40 ? (x / 5 + y) % 16 : y % 3);
    };
    const LevelOf halves = [](int x, int y) { return pattern_level(x / 2, y / 2); };  // shrinks to pattern
    struct Case { std::string name; int width; int height; BmpOptions options; LevelOf level; int out_width; int out_height; };
    const std::vector<Case> cases = {
        {"1.bmp", 13, 5, {.bits = 1}, two, 13, 5},
        {"1-top.bmp", 33, 3, {.bits = 1, .top_down = true}, two, 33, 3},
        {"4.bmp", 13, 7, {.bits = 4}, pattern_level, 13, 7},
        {"4-top.bmp", 6, 5, {.bits = 4, .top_down = true}, pattern_level, 6, 5},
        {"8.bmp", 17, 6, {.bits = 8}, pattern_level, 17, 6},
        {"8-top.bmp", 3, 9, {.bits = 8, .top_down = true}, pattern_level, 3, 9},
        {"24.bmp", 7, 9, {.bits = 24}, pattern_level, 7, 9},
        {"24-top.bmp", 10, 4, {.bits = 24, .top_down = true}, pattern_level, 10, 4},
        {"24-large.bmp", 320, 200, {.bits = 24}, halves, 160, 100},
        {"32.bmp", 10, 4, {.bits = 32}, pattern_level, 10, 4},
        {"rle8.bmp", 50, 6, {.bits = 8, .rle = true}, runs, 50, 6},
        {"rle8-large.bmp", 320, 200, {.bits = 8, .rle = true}, halves, 160, 100},
        {"rle8-wide.bmp", 160, 3, {.bits = 8, .rle = true}, [](int, int y) { return static_cast<std::uint8_t>(y); }, 160, 3},
        {"rle4.bmp", 50, 6, {.bits = 4, .rle = true}, runs, 50, 6},
        {"rle4-odd.bmp", 13, 7, {.bits = 4, .rle = true}, pattern_level, 13, 7},
        {"16.bmp", 11, 5, {.bits = 16}, pattern_level, 11, 5},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        const Rgba rgba = ramp_picture(c.width, c.height, c.level);
        ASSERT_TRUE(write_bmp_file((dir / c.name).string(), c.width, c.height, rgba, c.options)) << c.name;
        names.push_back(c.name);
    }
    const ToolRun run = make(names, true);
    EXPECT_EQ(run.status, 0) << run.out;
    for (const Case& c : cases) {
        EXPECT_NE(run.out.find(c.name + " .. out/" + c.name + "\n"), std::string::npos) << run.out;
        const Bmp4Image image = read_back(file("out/" + c.name));
        EXPECT_EQ(image.width * 1000 + image.height, c.out_width * 1000 + c.out_height) << c.name;
        EXPECT_EQ(image.pixels, levels_of(c.out_width, c.out_height, c.width == c.out_width ? c.level : pattern_level)) << c.name;
    }
}

// The pixels the writer above does not make: colour masks, opacity and the
// 4th byte that is not opacity, core headers, 2 bits, an index past the
// palette. Each row of pixels, left to right, and its levels made without
// dithering.
TEST_F(BmpRead, MasksOpacityAndOtherHeaders) {
    const auto u16s = [](std::initializer_list<std::uint32_t> values) {
        Bytes b;
        for (const std::uint32_t v : values) put_le(b, v, 2);
        b.resize((b.size() + 3) / 4 * 4, 0);
        return b;
    };
    const auto u32s = [](std::initializer_list<std::uint32_t> values) {
        Bytes b;
        for (const std::uint32_t v : values) put_le(b, v, 4);
        return b;
    };
    const std::vector<std::uint32_t> rgba_masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const Bytes black_fading = u32s({0x00000000, 0x88000000, 0xFF000000});  // black, opacity 0, 0x88 / 255 and 1
    struct Case { std::string name; RawBmp file; Bytes levels; };
    const std::vector<Case> cases = {
        // 5-6-5: red 255, green 32 * 255 / 63, blue 255, white, black; read as 5-5-5 the second is nearly black
        {"565.bmp", {.width = 5, .bits = 16, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F}, .pixels = u16s({0xF800, 0x0400, 0x1F, 0xFFFF, 0})},
         {11, 11, 13, 0, 15}},
        {"565-v3.bmp", {.info_size = 56, .width = 3, .bits = 16, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F, 0}, .pixels = u16s({0x0400, 0xFFFF, 0})},
         {11, 0, 15}},
        {"555-top-bit.bmp", {.width = 3, .bits = 16, .pixels = u16s({0x8000, 0xFFFF, 0x7C00})}, {15, 0, 11}},
        {"32-fourth-byte-0.bmp", {.width = 3, .bits = 32, .pixels = u32s({0, 0xFFFFFF, 0xFF0000})}, {15, 0, 11}},
        {"32-v3-rgb-opaque.bmp", {.info_size = 56, .width = 3, .bits = 32, .masks = rgba_masks, .pixels = black_fading}, {15, 15, 15}},
        {"32-v5-alpha.bmp", {.info_size = 124, .width = 3, .bits = 32, .masks = rgba_masks, .pixels = black_fading}, {0, 8, 15}},
        {"32-v4-alpha-bitfields.bmp", {.info_size = 108, .width = 3, .bits = 32, .compression = 3, .masks = rgba_masks, .pixels = black_fading},
         {0, 8, 15}},
        {"32-alphabitfields.bmp", {.width = 3, .bits = 32, .compression = 6, .masks = rgba_masks, .pixels = black_fading}, {0, 8, 15}},
        {"32-bitfields-no-alpha.bmp", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .pixels = black_fading},
         {15, 15, 15}},
        // red in the low byte: bytes red, green, blue, 0
        {"32-bitfields-rgb.bmp", {.width = 3, .bits = 32, .compression = 3, .masks = {0xFF, 0xFF00, 0xFF0000}, .pixels = u32s({0xFF, 0xFF0000, 0xFFFFFF})},
         {11, 13, 0}},
        // bottom row black, white; top row red, black (its padding missing)
        {"core-24.bmp", {.info_size = 12, .width = 2, .height = 2, .pixels = {0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0}},
         {11, 15, 15, 0}},
        {"core-8.bmp", {.info_size = 12, .width = 3, .bits = 8, .palette = {0xFFFFFF, 0x888888}, .pixels = {1, 0, 1, 0}}, {7, 0, 7}},
        {"2-bit.bmp", {.width = 5, .bits = 2, .palette = {0, 0xFFFFFF, 0xFF0000, 0x888888}, .pixels = {0x1B, 0x40, 0, 0}}, {15, 0, 11, 7, 0}},
        {"index-past-palette.bmp", {.width = 3, .bits = 8, .palette = {0xFFFFFF}, .pixels = {0, 200, 0, 0}}, {0, 15, 0}},
    };
    std::vector<std::tuple<std::string, Bytes, Bytes>> files;
    for (const Case& c : cases) files.emplace_back(c.name, raw_bmp(c.file), c.levels);
    expect_levels(files);
}

// RLE as other programs and hostile files use it, each with a palette of
// levels 15 (index 0), 0, 5 and 10: a delta skips pixels and rows, which
// stay index 0, as do those after an early end of the bitmap; a run or an
// absolute run past the row's end writes nothing past it, and a delta past
// the last row ends the picture, whatever follows.
TEST_F(BmpRead, RunLengthEscapesAndRunsPastTheRow) {
    const std::vector<std::uint32_t> palette = {0x000000, 0xFFFFFF, 0xAAAAAA, 0x555555};
    struct Case { std::string name; std::uint16_t bits; int width; int height; Bytes data; Bytes levels; };  // levels top row first
    const std::vector<Case> cases = {
        {"delta.bmp", 8, 4, 3, {2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 4, 3, 0, 1}, {10, 10, 10, 10, 15, 15, 15, 5, 0, 0, 15, 15}},
        {"early-end.bmp", 8, 3, 3, {3, 2, 0, 1, 3, 1, 3, 1}, {15, 15, 15, 15, 15, 15, 5, 5, 5}},
        {"end-without-eol.bmp", 8, 2, 2, {2, 1, 0, 0, 1, 2, 0, 1}, {5, 15, 0, 0}},
        {"run-past-row.bmp", 8, 3, 2, {200, 1, 0, 0, 250, 2, 0, 0}, {5, 5, 5, 0, 0, 0}},
        {"absolute-past-row.bmp", 8, 3, 2, {0, 5, 1, 2, 3, 1, 2, 0, 0, 0, 1, 3, 0, 1}, {10, 15, 15, 0, 5, 10}},
        {"delta-past-row.bmp", 8, 3, 1, {0, 2, 200, 0, 5, 1, 0, 1}, {15, 15, 15}},
        {"delta-past-picture.bmp", 8, 2, 3, {2, 1, 0, 2, 0, 200, 2, 2, 0, 0, 2, 3, 0, 1}, {15, 15, 15, 15, 0, 0}},
        {"rle4-absolute-odd.bmp", 4, 5, 1, {0, 5, 0x12, 0x30, 0x10, 0, 0, 1}, {0, 5, 10, 15, 0}},
        {"rle4-run-pair.bmp", 4, 5, 1, {5, 0x13, 0, 1}, {0, 10, 0, 10, 0}},
        {"rle4-absolute-past-row.bmp", 4, 2, 1, {0, 7, 0x21, 0x33, 0x33, 0x30, 0, 1}, {5, 0}},
    };
    std::vector<std::tuple<std::string, Bytes, Bytes>> files;
    for (const Case& c : cases)
        files.emplace_back(c.name, raw_bmp({.width = c.width, .height = c.height, .bits = c.bits, .compression = c.bits == 8 ? 1u : 2u,
                                            .palette = palette, .pixels = c.data}), c.levels);
    expect_levels(files);
}

// A file cut short after some rows is made as far as it goes, the rest
// white, with a warning; cut before its first row, it is refused.
TEST_F(BmpRead, CutShortIsMadeAsFarAsItGoes) {
    const std::vector<std::uint32_t> palette = {0x000000, 0xFFFFFF};
    struct Case { std::string name; Bytes file; std::string warning; Bytes levels; };
    const auto cut = [](const Bytes& whole, std::size_t drop) { return Bytes(whole.begin(), whole.end() - std::ptrdiff_t(drop)); };
    const RawBmp bottom_up = {.width = 2, .height = 4, .pixels = Bytes(32, 0)};  // rows of 8 bytes, all black
    RawBmp top_down = bottom_up;
    top_down.height = -4;
    const RawBmp rle = {.width = 2, .height = 3, .bits = 8, .compression = 1, .palette = palette, .pixels = {2, 1, 0, 0, 2, 0, 0, 0, 2}};
    const std::vector<Case> cases = {
        {"bottom-up.bmp", cut(raw_bmp(bottom_up), 11), "2 of 4", {0, 0, 0, 0, 15, 15, 15, 15}},
        {"top-down.bmp", cut(raw_bmp(top_down), 11), "2 of 4", {15, 15, 15, 15, 0, 0, 0, 0}},
        {"rle.bmp", raw_bmp(rle), "2 of 3", {0, 0, 15, 15, 0, 0}},
        {"unpadded-last-row.bmp", cut(raw_bmp(bottom_up), 2), "", {15, 15, 15, 15, 15, 15, 15, 15}},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        put(c.name, c.file);
        names.push_back(c.name);
    }
    put("no-row.bmp", cut(raw_bmp(bottom_up), 25));
    names.push_back("no-row.bmp");
    const ToolRun run = make(names);
    EXPECT_EQ(run.status, 1);
    for (const Case& c : cases) {
        const std::string warning =
            c.warning.empty() ? "" : "Warning - BMP: the file is cut short after " + c.warning + " rows; the rest is white\n";
        EXPECT_NE(run.out.find(c.name + " .. " + warning + "out/" + c.name + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(read_back(file("out/" + c.name)).pixels, c.levels) << c.name;
    }
    EXPECT_NE(run.out.find("no-row.bmp .. Error - BMP: the file is cut short before its first row\n"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir / "out/no-row.bmp"));
}

// Headers that cannot make a picture: one line each saying why, status 1,
// nothing written.
TEST_F(BmpRead, HostileHeadersAreRefused) {
    const Bytes good = raw_bmp({.width = 5, .height = 3, .pixels = Bytes(48, 0x80)});
    const Bytes short_palette = raw_bmp({.width = 2, .bits = 8, .palette = {0, 0, 0}, .pixels = {0, 0, 0, 0}});
    const std::string too_large = "pixels, more than tavo-gray takes";
    struct Case { Bytes file; std::string message; };
    const std::vector<Case> cases = {
        {patched(patched(good, 18, 0), 22, 0), "Error - the picture is 0x0 pixels: it has none\n"},
        {patched(good, 18, 0), "Error - the picture is 0x3 pixels: it has none\n"},
        {patched(good, 18, 70000), "Error - the picture is 70000x3 " + too_large},
        {patched(good, 22, 0x80000000), "Error - the picture is 5x2147483648 " + too_large},
        {patched(patched(good, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF), "Error - the picture is 2147483647x2147483647 " + too_large},
        {patched(patched(good, 18, 60000), 22, 60000), "Error - the picture is 60000x60000 " + too_large},
        {patched(good, 18, static_cast<std::uint32_t>(-5)), "Error - BMP: its width is negative (-5)\n"},
        {patched(good, 28, 7, 2), "Error - BMP: 7 bits a pixel is not a BMP depth (1, 2, 4, 8, 16, 24 or 32)\n"},
        {patched(good, 28, 0, 2), "Error - BMP: 0 bits a pixel is not a BMP depth (1, 2, 4, 8, 16, 24 or 32)\n"},
        {patched(good, 30, 4), "Error - BMP: compression 4 at 24 bits a pixel is not one tavo-gray reads\n"},
        {patched(good, 30, 1), "Error - BMP: compression 1 at 24 bits a pixel is not one tavo-gray reads\n"},
        {patched(good, 30, 3), "Error - BMP: compression 3 at 24 bits a pixel is not one tavo-gray reads\n"},
        {patched(good, 14, 20), "Error - BMP: an info header of 20 bytes is not one BMP files have\n"},
        {patched(good, 14, 0xFFFFFFF0), "Error - BMP: the file is cut short in its header\n"},
        {Bytes(good.begin(), good.begin() + 30), "Error - BMP: the file is cut short in its header\n"},
        {patched(good, 10, 0xFFFFFFFF), "Error - BMP: the file is cut short before its first row\n"},
        {patched(good, 10, static_cast<std::uint32_t>(good.size())), "Error - BMP: the file is cut short before its first row\n"},
        {raw_bmp({.width = 2, .bits = 8, .palette = std::vector<std::uint32_t>(3, 0)}), "Error - BMP: the file is cut short before its first row\n"},
        {patched(short_palette, 46, 200), "Error - BMP: the file is cut short in its palette\n"},  // 200 entries claimed
    };
    std::vector<std::string> names;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        names.push_back("bad" + std::to_string(i) + ".bmp");
        put(names.back(), cases[i].file);
    }
    const ToolRun run = make(names);
    EXPECT_EQ(run.status, 1);
    std::istringstream lines(run.out);  // one line a file, starting with its message
    std::string line;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string start = names[i] + " .. " + cases[i].message;
        ASSERT_TRUE(std::getline(lines, line)) << run.out;
        EXPECT_TRUE((line + "\n").starts_with(start)) << names[i] << ": " << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << run.out;
    EXPECT_TRUE(run.out.ends_with("\n")) << run.out;
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// What the picture fuzz target found and starts from passes it.
TEST(Replay, PicturesAndCrashersPassTheGrayFuzzTarget) {
    std::size_t replayed = 0;
    for (const char* folder : {TAVO_SOURCE_DIR "/fuzz/pictures", TAVO_SOURCE_DIR "/fuzz/crashers/gray"}) {
        if (!fs::exists(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const Bytes input(std::istreambuf_iterator<char>(in), {});
            console_of([&] { EXPECT_EQ(fuzz_gray_input(input.data(), input.size()), 0) << entry.path(); });
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 8u);
}

}  // namespace
