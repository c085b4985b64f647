// Buffered byte streams: every byte the tool reads or writes goes through
// get_byte or put_byte on the stream's own buffer, which reaches the file only
// when it runs empty or full. A written file replaces its path only once
// complete. A stream over memory (tests, fuzzing) reads a copy of its bytes,
// or writes into buffer[0, next). Whoever opens one closes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "io/file_system.h"

struct FileCloser { void operator()(std::FILE* file) const { std::fclose(file); } };

struct ByteStream {
    std::unique_ptr<std::FILE, FileCloser> file;  // empty for memory
    std::vector<std::uint8_t> buffer;  // a window on the file, or the memory itself
    std::uint8_t* next = nullptr;      // the next byte to read or write
    std::uint8_t* end = nullptr;       // reading: the end of the data; writing: the end of the buffer
    std::uint64_t start = 0;           // reading: the file offset of buffer[0]
    std::uint64_t size = 0;            // reading: the length of the file when opened, or of the memory
    FileIdentity identity;             // reading: the file's, to tell it from others
    bool writing = false;
    bool failed = false;               // a read, seek or write of the file failed
    int error = 0;                     // why opening, reading or writing failed: errno's code
    bool ended = false;                // reading: a read found the end of the input
    std::chrono::steady_clock::time_point deadline{};  // reading: when set, the input ends there
    bool out_of_time = false;          // it did
    PendingFile pending;               // writing: the file being written and its path
    bool sync = false;                 // writing: synced to disk before it replaces the path
};

int open_read(ByteStream& stream, const std::string& path);  // 1 unless a regular file opens
int open_write(ByteStream& stream, const std::string& path, bool sync = false);  // see create_replacement
// A new file in folder, which takes a name with name_new once closed.
int open_new(ByteStream& stream, const std::string& folder);
void open_memory(ByteStream& stream, std::span<const std::uint8_t> bytes = {});
// Flushes and closes; a written file then replaces its path, or a new one
// waits for its name. 1 when any read or write failed, and then a written
// file is removed (set failed to drop one).
int close_stream(ByteStream& stream);
// Names a closed new file path: 1 when the name is taken (taken set) or
// cannot be given (the file is removed). See name_new_file.
int name_new(ByteStream& stream, const std::string& path, bool& taken);

int refill_stream(ByteStream& stream);  // 1 at the end of the input, on a read error or past the deadline
void flush_stream(ByteStream& stream);

// True, out_of_time set, once the stream's deadline has passed.
bool past_deadline(ByteStream& stream);

// Copies up to count bytes into `into`: fewer at the end of the input.
std::size_t read_up_to(ByteStream& stream, std::uint8_t* into, std::size_t count);

// The bytes buffered next, all taken (refilled when none are); empty at the
// end of the input.
std::span<const std::uint8_t> take_buffered(ByteStream& stream);

// 1 at the end of the input or on a read error (stream.failed tells which).
inline int get_byte(ByteStream& stream, std::uint8_t& byte) {
    if (stream.next == stream.end && refill_stream(stream) != 0) return 1;
    byte = *stream.next++;
    return 0;
}

inline void put_byte(ByteStream& stream, std::uint8_t byte) {
    if (stream.next == stream.end) flush_stream(stream);
    std::uint8_t* at = stream.next;  // stored through before the cursor moves, so it stays in a register
    *at = byte;
    stream.next = at + 1;
}

// The number that bytes (1 to 4 of them) hold, big-endian or little-endian.
constexpr std::uint32_t number_in(std::span<const std::uint8_t> bytes, bool big_endian) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < bytes.size(); ++k) value |= std::uint32_t{bytes[big_endian ? bytes.size() - 1 - k : k]} << (8 * k);
    return value;
}

// Writes value as size bytes, big-endian or little-endian.
inline void put_number(ByteStream& stream, std::uint32_t value, int size, bool big_endian) {
    for (int k = 0; k < size; ++k) put_byte(stream, static_cast<std::uint8_t>(value >> (8 * (big_endian ? size - 1 - k : k))));
}

// Where a read stream stands: the offset of the next byte.
inline std::uint64_t stream_position(const ByteStream& stream) {
    return stream.start + static_cast<std::uint64_t>(stream.next - stream.buffer.data());
}

// Moves a read stream; as with files, a seek past the end leaves nothing to read.
int seek_to(ByteStream& stream, std::uint64_t offset);
