#include <string>

#include "formats/image_record.h"
#include "test_support.h"

namespace {

std::vector<GrayLevel> pattern_levels(int width, int height) {
    std::vector<GrayLevel> levels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) levels.push_back(pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)));
    return levels;
}

TEST(ImageRecord, NameFieldKeepsAtMost29Characters) {
    const std::vector<GrayLevel> levels = {0, 0};
    ByteBuffer record(64, 0xEE);  // reused: no byte of an earlier record may show through
    for (const std::string& name : {std::string(200, 'w'), std::string(), std::string("a"), std::string(28, 'x'),
                                   std::string(29, 'y'), std::string(30, 'z')}) {
        ASSERT_EQ(pack_image_record(name, 2, 1, levels, record), 0);
        ASSERT_EQ(record.size(), 33u);
        const std::size_t kept = std::min<std::size_t>(name.size(), 29);
        for (std::size_t i = 0; i < 30; ++i)
            EXPECT_EQ(record[2 + i], i < kept ? name[i] : 0) << name << " byte " << i;
        ImageRecord image;
        ASSERT_EQ(unpack_image_record(record, image), 0);
        EXPECT_EQ(image.name, name.substr(0, kept));
    }
    std::fill(record.begin() + 2, record.begin() + 32, 'q');  // no terminator at all
    ImageRecord image;
    ASSERT_EQ(unpack_image_record(record, image), 0);
    EXPECT_EQ(image.name, std::string(29, 'q'));
}

TEST(ImageRecord, RoundTripsEveryWidthColumnMajor) {
    for (int width = 1; width <= 17; ++width) {
        for (int height : {1, 2, 5}) {
            const auto levels = pattern_levels(width, height);
            ByteBuffer record;
            ASSERT_EQ(pack_image_record("F", width, height, levels, record), 0);
            const int row_bytes = (width + 1) / 2;
            ASSERT_EQ(record.size(), 32u + static_cast<std::size_t>(row_bytes * height));
            // byte (row r, column j) lies at 32 + j * height + r
            for (int r = 0; r < height; ++r)
                for (int j = 0; j < row_bytes; ++j) {
                    const auto at = [&](int x) { return x < width ? levels[static_cast<std::size_t>(r * width + x)] : 0; };
                    EXPECT_EQ(record[static_cast<std::size_t>(32 + j * height + r)], at(2 * j) << 4 | at(2 * j + 1));
                }
            ImageRecord image;
            ASSERT_EQ(unpack_image_record(record, image), 0);
            ASSERT_EQ(image.levels.size(), static_cast<std::size_t>(2 * row_bytes * height));
            for (int r = 0; r < height; ++r)
                for (int x = 0; x < 2 * row_bytes; ++x)
                    EXPECT_EQ(image.levels[static_cast<std::size_t>(r * 2 * row_bytes + x)],
                              x < width ? levels[static_cast<std::size_t>(r * width + x)] : 0)
                        << width << "x" << height << " at " << x << "," << r;
        }
    }
}

TEST(ImageRecord, UnpackRefusesEveryShortRecord) {
    ByteBuffer record;
    ASSERT_EQ(pack_image_record("cut", 5, 3, pattern_levels(5, 3), record), 0);
    for (std::size_t length = 0; length < record.size(); ++length) {
        ImageRecord image;
        EXPECT_EQ(unpack_image_record(std::span(record).first(length), image), 1) << length;
        EXPECT_TRUE(image.levels.empty());
    }
    // Bytes after the picture are ignored.
    record.push_back(0xAB);
    ImageRecord image;
    EXPECT_EQ(unpack_image_record(record, image), 0);
}

TEST(ImageRecord, PackRefusesPicturesTheLayoutCannotHold) {
    struct Case { int width, height; std::size_t levels; };
    for (const Case c : {Case{0, 1, 1}, Case{1, 0, 1}, Case{-2, 1, 4}, Case{1, 256, 256}, Case{511, 1, 511},
                         Case{4, 4, 15}}) {
        ByteBuffer record{1, 2, 3};
        const std::vector<GrayLevel> levels(c.levels, 1);
        EXPECT_EQ(pack_image_record("x", c.width, c.height, levels, record), 1) << c.width << "x" << c.height;
        EXPECT_TRUE(record.empty());
    }
    ByteBuffer record;
    EXPECT_EQ(pack_image_record("x", 510, 255, std::vector<GrayLevel>(510 * 255, 3), record), 0);
}

}  // namespace
