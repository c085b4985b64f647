// Helpers shared by the unit tests: byte builders that do not use the code
// under test, captured console output, and memory streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/byte_stream.h"

using Bytes = std::vector<std::uint8_t>;

inline void le16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void le32(Bytes& b, std::uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
inline void be16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
inline void be32(Bytes& b, std::uint32_t v) {
    be16(b, v >> 16);
    be16(b, v & 0xFFFF);
}
inline std::uint32_t get_be32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}
inline std::uint32_t get_le32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at + 3]) << 24 | static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 1]) << 8 | b[at];
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
    open_memory_write(stream);
    f(stream);
    const auto bytes = memory_contents(stream);
    return Bytes(bytes.begin(), bytes.end());
}

// An asymmetric test picture: no row, column or nibble swap leaves it unchanged.
inline std::uint8_t pattern_index(std::size_t x, std::size_t y) {
    return static_cast<std::uint8_t>((x * 7 + y * 3 + (x == 0 ? 5 : 0) + (y == 0 ? 9 : 0)) % 16);
}
