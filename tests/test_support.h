// Helpers shared by the tests: file builders that do not use the code under
// test, captured console output and memory streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/image_record.h"
#include "io/byte_stream.h"

using Bytes = std::vector<std::uint8_t>;

inline void put_le(Bytes& b, std::uint64_t value, int size) {
    for (int k = 0; k < size; ++k) b.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}
inline void put_be(Bytes& b, std::uint64_t value, int size) {
    for (int k = size; k-- > 0;) b.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

// b with value written little-endian over size bytes at at.
inline Bytes patched(Bytes b, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    for (std::size_t k = 0; k < size; ++k) b[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
    return b;
}

// A database file of this tool's identity holding records, laid out by hand.
inline Bytes database_of(const std::vector<Bytes>& records) {
    Bytes b = {'U', 'm', 'b', 'r', 'a', 'l', 'i', 't', 'h', '?', 'D', 'B'};
    b.resize(32, 0);
    put_be(b, 0x00080000, 4);  // attributes: the backup bit; version 0
    b.resize(60, 0);
    b.insert(b.end(), {'D', 'A', 'T', 'A', 'U', 'm', 'b', '?'});
    b.resize(76, 0);
    put_be(b, records.size(), 2);
    std::uint64_t offset = 80 + 8 * records.size();
    for (const Bytes& r : records) {
        put_be(b, offset << 32, 8);  // the offset, then attributes and uniqueID 0
        offset += r.size();
    }
    if (!records.empty()) b.resize(b.size() + 2, 0);
    for (const Bytes& r : records) b.insert(b.end(), r.begin(), r.end());
    return b;
}

// Runs f with standard output captured and returns what it printed.
template <typename F>
std::string console_of(F&& f) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Runs f on a memory write stream and returns the bytes it wrote.
template <typename F>
Bytes written_by(F&& f) {
    ByteStream stream;
    open_memory(stream);
    f(stream);
    return Bytes(stream.buffer.data(), stream.next);
}

inline constexpr LevelTable IDENTITY_LEVELS = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// An asymmetric picture: no row, column or nibble swap leaves it unchanged.
inline std::uint8_t pattern_index(std::size_t x, std::size_t y) {
    return static_cast<std::uint8_t>((x * 7 + y * 3 + (x == 0 ? 5 : 0) + (y == 0 ? 9 : 0)) % 16);
}
inline std::vector<std::uint8_t> pattern(int width, int height) {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < width * height; ++i)
        p.push_back(pattern_index(static_cast<std::size_t>(i % width), static_cast<std::size_t>(i / width)));
    return p;
}
