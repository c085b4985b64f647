// Helpers shared by the tests: byte builders that do not use the code under
// test, captured console output and memory streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/byte_stream.h"

using Bytes = std::vector<std::uint8_t>;

inline void put_le(Bytes& b, std::uint64_t value, int size) {
    for (int k = 0; k < size; ++k) b.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}
inline void put_be(Bytes& b, std::uint64_t value, int size) {
    for (int k = size; k-- > 0;) b.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
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
    return Bytes(stream.buffer.begin(), stream.buffer.begin() + static_cast<std::ptrdiff_t>(stream.next));
}

// An asymmetric picture: no row, column or nibble swap leaves it unchanged.
inline std::uint8_t pattern_index(std::size_t x, std::size_t y) {
    return static_cast<std::uint8_t>((x * 7 + y * 3 + (x == 0 ? 5 : 0) + (y == 0 ? 9 : 0)) % 16);
}
