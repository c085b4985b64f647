// Buffered byte streams: every file byte of the tool passes through get_byte
// and put_byte. A stream reads or writes either a C stdio file opened in
// binary mode ("rb"/"wb") or, for tests and fuzzing, a buffer in memory.
//
// The stream owns its buffer (64 KiB for files) and its FILE; get_byte and
// put_byte are inline and touch only that buffer, so a byte costs a compare
// and a copy. Whoever opens a stream closes it with close_stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct ByteStream {
    std::unique_ptr<std::FILE, FileCloser> file;  // empty for a memory stream
    std::vector<std::uint8_t> buffer;
    std::size_t pos = 0;            // next byte to read or write in buffer
    std::size_t end = 0;            // reading: valid bytes; memory writing: bytes written
    std::uint64_t buffer_start = 0; // file offset of buffer[0]
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
    if (stream.pos == stream.end && refill_stream(stream) != 0) return 1;
    byte = stream.buffer[stream.pos++];
    return 0;
}

inline void put_byte(ByteStream& stream, std::uint8_t byte) {
    if (stream.pos == stream.buffer.size()) flush_stream(stream);
    stream.buffer[stream.pos++] = byte;
}

int seek_to(ByteStream& stream, std::uint64_t offset);
std::uint64_t tell(const ByteStream& stream);
// The length of a read stream, found by seeking to its end; the position is
// then at the end.
int stream_length(ByteStream& stream, std::uint64_t& length);
