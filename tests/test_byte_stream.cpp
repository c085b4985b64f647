#include <string>

#include "formats/byte_stream.h"
#include "test_support.h"

namespace {

Bytes counting(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(1 + i * 7);
    return b;
}

TEST(ByteStream, GetBytesReadsWhatIsThereAndReportsTheEnd) {
    // Counts on both sides of the eight-byte turns.
    constexpr std::size_t COUNTS[] = {0, 1, 7, 8, 9, 15, 16, 17, 25};
    for (const std::size_t have : COUNTS)
        for (const std::size_t want : COUNTS) {
            SCOPED_TRACE(std::to_string(have) + " bytes, " + std::to_string(want) + " wanted");
            const Bytes input = counting(have);
            ByteStream stream;
            open_memory_read(stream, input);
            Bytes got(want, 0xEE);
            EXPECT_EQ(get_bytes(stream, want, got.data()), want > have ? 1 : 0);
            const auto read = static_cast<std::ptrdiff_t>(std::min(have, want));
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + read, input.begin()));
            std::uint8_t next = 0;  // after a short read the stream is at its end
            EXPECT_EQ(get_byte(stream, next), want < have ? 0 : 1);
            EXPECT_EQ(next, want < have ? input[want] : 0);
        }
}

// Memory streams grow from 4 KiB; files flush and refill every 64 KiB, and
// give their length from the buffer when it holds the end.
TEST(ByteStream, BytesPutComeBackThroughMemoryAndFiles) {
    const std::string path = testing::TempDir() + "tavo_stream_test.bin";
    for (const std::size_t count : {std::size_t{0}, std::size_t{25}, std::size_t{4097}, STREAM_BUFFER_SIZE - 1,
                                    STREAM_BUFFER_SIZE * 3 + 7}) {
        SCOPED_TRACE(count);
        const Bytes bytes = counting(count);
        Bytes expected{0x42};
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        const auto write = [&](ByteStream& s) {
            put_byte(s, 0x42);
            put_bytes(s, count, bytes.data());
        };
        EXPECT_EQ(written_by(write), expected);

        ByteStream out;
        ASSERT_EQ(open_write(out, path), 0);
        write(out);
        ASSERT_EQ(close_stream(out), 0);
        ByteStream in;
        ASSERT_EQ(open_read(in, path), 0);
        std::uint8_t first = 0;
        EXPECT_EQ(get_byte(in, first), 0);
        std::uint64_t length = 0;
        ASSERT_EQ(stream_length(in, length), 0);
        EXPECT_EQ(length, count + 1);
        EXPECT_EQ(get_byte(in, first), 1);  // the position is at the end
        ASSERT_EQ(seek_to(in, 0), 0);
        Bytes back(count + 1);
        EXPECT_EQ(get_bytes(in, back.size(), back.data()), 0);
        EXPECT_EQ(get_byte(in, first), 1);
        close_stream(in);
        EXPECT_EQ(back, expected);
    }
    std::remove(path.c_str());
}

}  // namespace
