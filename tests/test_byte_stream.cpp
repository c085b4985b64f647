#include <string>

#include "formats/byte_stream.h"
#include "test_support.h"

namespace {

Bytes counting(std::size_t n, std::uint8_t first = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i * 7);
    return b;
}

// Counts on both sides of the eight-byte turns of get_bytes and put_bytes.
constexpr std::size_t COUNTS[] = {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 25};

TEST(ByteStream, GetBytesReadsWhatIsThereAndReportsTheEnd) {
    for (const std::size_t have : COUNTS)
        for (const std::size_t want : COUNTS) {
            const Bytes input = counting(have);
            ByteStream stream;
            open_memory_read(stream, input);
            Bytes got(want, 0xEE);
            EXPECT_EQ(get_bytes(stream, want, got.data()), want > have ? 1 : 0) << have << " " << want;
            const std::size_t read = std::min(have, want);
            EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(read)),
                      Bytes(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(read)))
                << have << " " << want;
            // After a short read the stream is at its end; otherwise the next byte follows.
            std::uint8_t next = 0;
            EXPECT_EQ(get_byte(stream, next), want < have ? 0 : 1) << have << " " << want;
            if (want < have) {
                EXPECT_EQ(next, input[want]);
            }
        }
}

TEST(ByteStream, PutBytesKeepsOrderAcrossBufferEnds) {
    // Memory streams grow from 4 KiB; files flush every 64 KiB.
    const std::string path = testing::TempDir() + "tavo_stream_test.bin";
    for (const std::size_t count : {std::size_t{0}, std::size_t{25}, std::size_t{4095}, std::size_t{4097},
                                    STREAM_BUFFER_SIZE - 3, STREAM_BUFFER_SIZE * 2 + 5}) {
        const Bytes bytes = counting(count, 3);
        const Bytes in_memory = written_by([&](ByteStream& s) {
            put_byte(s, 0x42);
            put_bytes(s, count, bytes.data());
        });
        Bytes expected{0x42};
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        EXPECT_EQ(in_memory, expected) << count;

        ByteStream out;
        ASSERT_EQ(open_write(out, path), 0);
        put_byte(out, 0x42);
        put_bytes(out, count, bytes.data());
        ASSERT_EQ(close_stream(out), 0);
        ByteStream in;
        ASSERT_EQ(open_read(in, path), 0);
        Bytes back(count + 1);
        EXPECT_EQ(get_bytes(in, back.size(), back.data()), 0) << count;
        std::uint8_t extra = 0;
        EXPECT_EQ(get_byte(in, extra), 1) << count;
        close_stream(in);
        EXPECT_EQ(back, expected) << count;
    }
    std::remove(path.c_str());
}

TEST(ByteStream, LengthOfAFileWhetherItsEndIsInTheBufferOrNot) {
    const std::string path = testing::TempDir() + "tavo_length_test.bin";
    for (const std::size_t size : {std::size_t{0}, std::size_t{10}, STREAM_BUFFER_SIZE, STREAM_BUFFER_SIZE + 1,
                                   STREAM_BUFFER_SIZE * 3 + 7}) {
        const Bytes bytes = counting(size, 5);
        ByteStream out;
        ASSERT_EQ(open_write(out, path), 0);
        put_bytes(out, size, bytes.data());
        ASSERT_EQ(close_stream(out), 0);

        ByteStream in;
        ASSERT_EQ(open_read(in, path), 0);
        std::uint8_t first = 0;
        EXPECT_EQ(get_byte(in, first), size == 0 ? 1 : 0) << size;
        std::uint64_t length = 0;
        ASSERT_EQ(stream_length(in, length), 0) << size;
        EXPECT_EQ(length, size);
        EXPECT_EQ(get_byte(in, first), 1) << "the position is at the end, " << size;
        if (size > 0) {
            ASSERT_EQ(seek_to(in, 1), 0) << size;
            Bytes back(size - 1);
            EXPECT_EQ(get_bytes(in, back.size(), back.data()), 0) << size;
            EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin() + 1)) << size;
        }
        close_stream(in);
    }
    std::remove(path.c_str());
}

}  // namespace
