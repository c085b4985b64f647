// Buffered byte streams: every file byte of the tool passes through get_byte
// and put_byte. A stream reads or writes either a C stdio file opened in
// binary mode ("rb"/"wb") or, for tests and fuzzing, a buffer in memory.
//
// The stream owns its buffer (64 KiB for files) and its FILE; get_byte and
// put_byte are inline and touch only that buffer through two pointers, so a
// byte costs a compare and a copy. Whoever opens a stream closes it with
// close_stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/byte_buffer.h"

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct ByteStream {
    std::unique_ptr<std::FILE, FileCloser> file;  // empty for a memory stream
    ByteBuffer buffer;
    std::uint8_t* next = nullptr;   // the next byte to read or write
    std::uint8_t* limit = nullptr;  // reading: end of the valid bytes; writing: end of the buffer
    std::uint64_t buffer_start = 0; // file offset of buffer[0]
    std::size_t written = 0;        // memory writing: bytes written so far
    bool writing = false;
    bool failed = false;            // a write to the file did not go through
};

inline constexpr std::size_t STREAM_BUFFER_SIZE = 64 * 1024;

// Each returns 0 on success, 1 on failure (nothing is printed).
int open_read(ByteStream& stream, const std::string& path);
int open_write(ByteStream& stream, const std::string& path);  // creates or truncates
void open_memory_read(ByteStream& stream, std::span<const std::uint8_t> bytes);
void open_memory_write(ByteStream& stream);
int close_stream(ByteStream& stream);  // flushes a file; 1 when any write failed

// The bytes a memory write stream holds; valid until the next write.
std::span<const std::uint8_t> memory_contents(const ByteStream& stream);

int refill_stream(ByteStream& stream);  // 1 at the end of the input
void flush_stream(ByteStream& stream);

// Reads one byte; returns 1 (and leaves byte alone) at the end of the input.
inline int get_byte(ByteStream& stream, std::uint8_t& byte) {
    if (stream.next == stream.limit && refill_stream(stream) != 0) return 1;
    byte = *stream.next++;
    return 0;
}

inline void put_byte(ByteStream& stream, std::uint8_t byte) {
    if (stream.next == stream.limit) flush_stream(stream);
    *stream.next++ = byte;
}

int seek_to(ByteStream& stream, std::uint64_t offset);
std::uint64_t tell(const ByteStream& stream);
// The length of a read stream, found by seeking to its end; the position is
// then at the end.
int stream_length(ByteStream& stream, std::uint64_t& length);
