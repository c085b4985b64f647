// Buffered byte streams: every file byte of the tool passes through get_byte
// and put_byte. A stream reads or writes either a C stdio file opened in
// binary mode ("rb"/"wb") or, for tests and fuzzing, a buffer in memory.
//
// The stream owns its buffer (64 KiB for files) and its FILE; get_byte and
// put_byte are inline and touch only that buffer through two pointers, so a
// byte costs a compare and a copy. Loops over many bytes (get_bytes,
// put_bytes) hold those pointers in a local ByteCursor. Whoever opens a
// stream closes it with close_stream.
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

// A copy of a stream's cursor for a loop over many bytes. Held in a local it
// stays in registers, where the stream's own fields would be reloaded after
// every byte the loop stores (a byte store may alias any object). Take it with
// take_cursor and hand it back with return_cursor before the stream is used
// any other way.
struct ByteCursor {
    std::uint8_t* next;
    std::uint8_t* limit;
};

inline ByteCursor take_cursor(const ByteStream& stream) { return {stream.next, stream.limit}; }
inline void return_cursor(ByteStream& stream, const ByteCursor& cursor) { stream.next = cursor.next; }

// Reads one byte; returns 1 (and leaves byte alone) at the end of the input.
inline int get_byte(ByteStream& stream, ByteCursor& cursor, std::uint8_t& byte) {
    if (cursor.next == cursor.limit) [[unlikely]] {
        return_cursor(stream, cursor);
        const int status = refill_stream(stream);
        cursor = take_cursor(stream);
        if (status != 0) return 1;
    }
    byte = *cursor.next++;
    return 0;
}

inline void put_byte(ByteStream& stream, ByteCursor& cursor, std::uint8_t byte) {
    if (cursor.next == cursor.limit) [[unlikely]] {
        return_cursor(stream, cursor);
        flush_stream(stream);
        cursor = take_cursor(stream);
    }
    *cursor.next++ = byte;
}

inline int get_byte(ByteStream& stream, std::uint8_t& byte) {
    ByteCursor cursor = take_cursor(stream);
    const int status = get_byte(stream, cursor, byte);
    return_cursor(stream, cursor);
    return status;
}

inline void put_byte(ByteStream& stream, std::uint8_t byte) {
    ByteCursor cursor = take_cursor(stream);
    put_byte(stream, cursor, byte);
    return_cursor(stream, cursor);
}

// Reads count bytes one at a time into bytes; returns 1 when the input ends
// first (the bytes read so far are kept).
int get_bytes(ByteStream& stream, std::size_t count, std::uint8_t* bytes);
// Writes count bytes one at a time.
void put_bytes(ByteStream& stream, std::size_t count, const std::uint8_t* bytes);

int seek_to(ByteStream& stream, std::uint64_t offset);
std::uint64_t tell(const ByteStream& stream);
// The length of a read stream: from the buffer when it already holds the end
// of the file, else by seeking to the end. The position is then at the end.
int stream_length(ByteStream& stream, std::uint64_t& length);
