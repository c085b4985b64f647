#include <algorithm>

#include "convert/bmp_to_record.h"
#include "convert/record_to_bmp.h"
#include "test_support.h"

namespace {

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

TEST(RankPalette, BlueIsDarkerThanRedIsDarkerThanGreen) {
    const Palette p = palette_of({{0, 0, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}, {255, 255, 255}});
    EXPECT_EQ(brightness(std::span(p).first<4>()), 255u);
    EXPECT_EQ(brightness(std::span(p).subspan<4, 4>()), 510u);
    const auto levels = rank_palette(p, 5);
    EXPECT_EQ(levels[3], 15);  // black
    EXPECT_EQ(levels[4], 0);   // white
    EXPECT_GT(levels[0], levels[1]);
    EXPECT_GT(levels[1], levels[2]);
    // The reserved byte takes no part.
    Palette reserved = p;
    reserved[7] = 0xFF;
    EXPECT_EQ(rank_palette(reserved, 5), levels);
}

TEST(RankPalette, EqualEntriesTakeConsecutiveLevels) {
    // Entry 0 white, entries 1..15 black: white is 0, the blacks share 1..15.
    const Palette p = palette_of({{255, 255, 255}});
    const auto levels = rank_palette(p);
    EXPECT_EQ(levels[0], 0);
    std::vector<GrayLevel> blacks(levels.begin() + 1, levels.end());
    std::sort(blacks.begin(), blacks.end());
    for (std::size_t i = 0; i < blacks.size(); ++i) EXPECT_EQ(blacks[i], i + 1);
}

TEST(RankPalette, ShortPalettesSpreadOverTheWholeRange) {
    struct Case { unsigned entries; std::vector<GrayLevel> brightest_first; };
    const std::vector<Case> cases = {
        {1, {0}}, {2, {0, 15}}, {3, {0, 8, 15}}, {5, {0, 4, 8, 11, 15}}, {15, {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15}},
    };
    for (const Case& c : cases) {
        Palette p{};  // entry i is brighter the lower i is
        for (unsigned i = 0; i < c.entries; ++i)
            for (unsigned ch = 0; ch < 3; ++ch) p[4 * i + ch] = static_cast<std::uint8_t>(250 - 10 * i);
        const auto levels = rank_palette(p, c.entries);
        for (unsigned i = 0; i < 16; ++i)
            EXPECT_EQ(levels[i], i < c.entries ? c.brightest_first[i] : 15) << c.entries << " entries, index " << i;
    }
}

TEST(ConvertBmp, EveryPixelTakesTheLevelOfItsIndexAtEveryWidth) {
    // Entry i is gray 17 * (7i mod 16): a scrambled ramp, so index i takes
    // level 15 - (7i mod 16).
    Palette palette{};
    for (std::size_t i = 0; i < 16; ++i)
        for (std::size_t c = 0; c < 3; ++c) palette[4 * i + c] = static_cast<std::uint8_t>(17 * (i * 7 % 16));
    for (int width = 1; width <= 17; ++width)
        for (int height : {1, 2, 3}) {
            Bytes indices;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) indices.push_back(static_cast<std::uint8_t>((x * 5 + y * 3 + width) % 16));
            const Bytes bmp = written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, indices); });
            ByteStream in;
            open_memory_read(in, bmp);
            ByteBuffer record;
            const std::string console = console_of([&] { EXPECT_EQ(convert_bmp(in, "F.bmp", record), 0); });
            EXPECT_EQ(console, "OK\n");
            ImageRecord image;
            ASSERT_EQ(unpack_image_record(record, image), 0);
            const int wide = 2 * image.row_bytes;
            ASSERT_EQ(wide, width + width % 2);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < wide; ++x) {
                    const std::size_t index = indices[static_cast<std::size_t>(y * width + std::min(x, width - 1))];
                    const int expected = x < width ? 15 - static_cast<int>(index * 7 % 16) : 0;
                    EXPECT_EQ(image.levels[static_cast<std::size_t>(y * wide + x)], expected)
                        << width << "x" << height << " at " << x << "," << y;
                }
        }
}

}  // namespace
