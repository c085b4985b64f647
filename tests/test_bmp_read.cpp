// BMP files through tavo-gray (tests/pictures/, laid out by make.py there):
// every depth and layout other programs write, the colour masks and
// opacity, RLE with its escapes, files cut short and hostile headers; then
// the picture fuzz target's corpus replayed.
#include <functional>
#include <sstream>

#include "tool_fixture.h"

// The picture fuzz target (fuzz/fuzz_gray.cpp): aborts when a property breaks.
int fuzz_gray_input(const std::uint8_t* data, std::size_t size);

namespace {

using LevelOf = std::function<std::uint8_t(int, int)>;

Bytes levels_of(int width, int height, const LevelOf& level) {
    Bytes levels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) levels.push_back(level(x, y));
    return levels;
}

std::uint8_t pattern_level(int x, int y) { return pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)); }

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
    // Copies each picture, makes them all in one run without dithering, and
    // checks that each comes out with its levels (top row first).
    void expect_levels(const std::vector<std::pair<std::string, Bytes>>& files) const {
        std::vector<std::string> names;
        for (const auto& [name, levels] : files) {
            copy_picture(name);
            names.push_back(name);
        }
        const ToolRun run = make(names, true);
        EXPECT_EQ(run.status, 0) << run.out;
        for (const auto& [name, levels] : files) {
            EXPECT_NE(run.out.find(name + " .. out/" + name + "\n"), std::string::npos) << run.out;
            EXPECT_EQ(read_back(file("out/" + name)).pixels, levels) << name;
        }
    }
};

// A picture of the ramp's grays comes out with exactly its levels from every
// depth (its name's number), RLE, top-down and bottom-up, small or shrunk
// (made without dithering: 5-5-5 keeps five bits of a gray, each pixel its
// nearest gray).
TEST_F(BmpRead, EveryDepthAndLayoutComesOutExactly) {
    const LevelOf two = [](int x, int y) { return static_cast<std::uint8_t>(pattern_level(x, y) % 2 * 15); };
    const LevelOf runs = [](int x, int y) {  // runs, single pixels and runs of one nibble pair
        return static_cast<std::uint8_t>(x < 9 ? pattern_level(x, y) : x < 40 ? (x / 5 + y) % 16 : y % 3);
    };
    struct Case { std::string name; int width; int height; LevelOf level; };  // the picture made
    const std::vector<Case> cases = {
        {"1.bmp", 13, 5, two},
        {"1-top.bmp", 33, 3, two},
        {"4.bmp", 13, 7, pattern_level},
        {"4-top.bmp", 6, 5, pattern_level},
        {"8.bmp", 17, 6, pattern_level},
        {"8-top.bmp", 3, 9, pattern_level},
        {"24.bmp", 7, 9, pattern_level},
        {"24-top.bmp", 10, 4, pattern_level},
        {"24-large.bmp", 160, 2, pattern_level},  // made 320 x 4, each pixel 2 x 2
        {"32.bmp", 10, 4, pattern_level},
        {"rle8.bmp", 50, 6, runs},
        {"rle8-large.bmp", 160, 2, pattern_level},  // made 320 x 4, each pixel 2 x 2
        {"rle8-wide.bmp", 160, 3, [](int, int y) { return static_cast<std::uint8_t>(y); }},
        {"rle4.bmp", 50, 6, runs},
        {"rle4-odd.bmp", 13, 7, pattern_level},
        {"16.bmp", 11, 5, pattern_level},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        copy_picture(c.name);
        names.push_back(c.name);
    }
    const ToolRun run = make(names, true);
    EXPECT_EQ(run.status, 0) << run.out;
    for (const Case& c : cases) {
        EXPECT_NE(run.out.find(c.name + " .. out/" + c.name + "\n"), std::string::npos) << run.out;
        const Bmp4Image image = read_back(file("out/" + c.name));
        EXPECT_EQ(image.width * 1000 + image.height, c.width * 1000 + c.height) << c.name;
        EXPECT_EQ(image.pixels, levels_of(c.width, c.height, c.level)) << c.name;
    }
}

// The pixels the writer of the files above does not make: colour masks,
// opacity and the 4th byte that is not opacity, core headers, 2 bits, an
// index past the palette. Each file's row (or rows) and its levels made
// without dithering.
TEST_F(BmpRead, MasksOpacityAndOtherHeaders) {
    expect_levels({
        {"565.bmp", {11, 11, 13, 0, 15}},  // 5-6-5: red, green 32 * 255 / 63 (5-5-5: nearly black), blue, white, black
        {"565-v3.bmp", {11, 0, 15}},       // the masks in a 56-byte header: green 32 * 255 / 63, white, black
        {"555-top-bit.bmp", {15, 0, 11}},  // black with the unused top bit set, white, red
        {"32-fourth-byte-0.bmp", {15, 0, 11}},  // black, white, red
        // black of opacity 0, 0x88 / 255 and 1: opaque without an alpha mask or
        // BI_BITFIELDS in a 56-byte header, transparent with one
        {"32-v3-rgb-opaque.bmp", {15, 15, 15}},
        {"32-v5-alpha.bmp", {0, 8, 15}},
        {"32-v4-alpha-bitfields.bmp", {0, 8, 15}},
        {"32-alphabitfields.bmp", {0, 8, 15}},
        {"32-bitfields-no-alpha.bmp", {15, 15, 15}},
        {"32-bitfields-rgb.bmp", {11, 13, 0}},  // red in the low byte: red, blue, white
        {"core-24.bmp", {11, 15, 15, 0}},       // an OS/2 header; top row red, black (its padding missing); then black, white
        {"core-8.bmp", {7, 0, 7}},              // an OS/2 header: palette entries of 3 bytes, white and gray 0x88
        {"2-bit.bmp", {15, 0, 11, 7, 0}},       // black, white, red, gray 0x88, white
        {"index-past-palette.bmp", {0, 15, 0}},  // a palette of white alone: index 200 black
    });
}

// RLE as other programs and hostile files use it, each with a palette of
// levels 15 (index 0), 0, 5 and 10: a delta skips pixels and rows, which
// stay index 0, as do those after an early end of the bitmap; a run or an
// absolute run past the row's end writes nothing past it, and a delta past
// the last row ends the picture, whatever follows.
TEST_F(BmpRead, RunLengthEscapesAndRunsPastTheRow) {
    expect_levels({
        {"delta.bmp", {10, 10, 10, 10, 15, 15, 15, 5, 0, 0, 15, 15}},
        {"early-end.bmp", {15, 15, 15, 15, 15, 15, 5, 5, 5}},
        {"end-without-eol.bmp", {5, 15, 0, 0}},
        {"run-past-row.bmp", {5, 5, 5, 0, 0, 0}},
        {"absolute-past-row.bmp", {10, 15, 15, 0, 5, 10}},
        {"delta-past-row.bmp", {15, 15, 15}},
        {"delta-past-picture.bmp", {15, 15, 15, 15, 0, 0}},
        {"rle4-absolute-odd.bmp", {0, 5, 10, 15, 0}},
        {"rle4-run-pair.bmp", {0, 10, 0, 10, 0}},
        {"rle4-absolute-past-row.bmp", {5, 0}},
    });
}

// A file cut short after some rows is made as far as it goes, the rest
// white, with a warning; cut before its first row, it is refused. 2 x 4
// black at 24 bits, bottom-up or top-down, 11 bytes short, or 2 short (the
// last row's padding), or 25 (no row); RLE8 of 2 x 3 ending after 2 rows.
TEST_F(BmpRead, CutShortIsMadeAsFarAsItGoes) {
    struct Case { std::string name; std::string warning; Bytes levels; };
    const std::vector<Case> cases = {
        {"bottom-up.bmp", "2 of 4", {0, 0, 0, 0, 15, 15, 15, 15}},
        {"top-down.bmp", "2 of 4", {15, 15, 15, 15, 0, 0, 0, 0}},
        {"rle.bmp", "2 of 3", {0, 0, 15, 15, 0, 0}},
        {"unpadded-last-row.bmp", "", {15, 15, 15, 15, 15, 15, 15, 15}},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        copy_picture(c.name);
        names.push_back(c.name);
    }
    copy_picture("no-row.bmp");
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
    const Bytes good = bytes_of(PICTURES / "good.bmp");  // 5 x 3 at 24 bits
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
        {bytes_of(PICTURES / "palette-no-pixels.bmp"), "Error - BMP: the file is cut short before its first row\n"},
        {bytes_of(PICTURES / "short-palette.bmp"), "Error - BMP: the file is cut short in its palette\n"},  // 3 of 200 entries
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
            const Bytes input = bytes_of(entry.path());
            console_of([&] { EXPECT_EQ(fuzz_gray_input(input.data(), input.size()), 0) << entry.path(); });
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 8u);
}

}  // namespace
