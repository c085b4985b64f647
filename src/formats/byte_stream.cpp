#include "formats/byte_stream.h"

#include <algorithm>
#include <climits>

namespace {

std::size_t position(const ByteStream& stream) {
    return static_cast<std::size_t>(stream.next - stream.buffer.data());
}

// Points the cursor at buffer[at], with `valid` bytes readable (or, when
// writing, the whole buffer writable).
void set_cursor(ByteStream& stream, std::size_t at, std::size_t valid) {
    stream.next = stream.buffer.data() + at;
    stream.limit = stream.buffer.data() + (stream.writing ? stream.buffer.size() : valid);
}

int open_file(ByteStream& stream, const std::string& path, const char* mode, bool writing) {
    stream = ByteStream{};
    stream.file.reset(std::fopen(path.c_str(), mode));
    if (!stream.file) return 1;
    // The stream's own buffer is the only one: stdio reads and writes it
    // directly, a buffer at a time.
    std::setvbuf(stream.file.get(), nullptr, _IONBF, 0);
    stream.buffer.resize(STREAM_BUFFER_SIZE);
    stream.writing = writing;
    set_cursor(stream, 0, 0);
    return 0;
}

}  // namespace

int open_read(ByteStream& stream, const std::string& path) {
    return open_file(stream, path, "rb", false);
}

int open_write(ByteStream& stream, const std::string& path) {
    return open_file(stream, path, "wb", true);
}

void open_memory_read(ByteStream& stream, std::span<const std::uint8_t> bytes) {
    stream = ByteStream{};
    stream.buffer.assign(bytes.begin(), bytes.end());
    set_cursor(stream, 0, bytes.size());
}

void open_memory_write(ByteStream& stream) {
    stream = ByteStream{};
    stream.buffer.resize(4096);
    stream.writing = true;
    set_cursor(stream, 0, 0);
}

std::span<const std::uint8_t> memory_contents(const ByteStream& stream) {
    return std::span(stream.buffer).first(std::max(stream.written, position(stream)));
}

int refill_stream(ByteStream& stream) {
    if (!stream.file || stream.writing) return 1;
    stream.buffer_start += static_cast<std::size_t>(stream.limit - stream.buffer.data());
    const std::size_t got = std::fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file.get());
    set_cursor(stream, 0, got);
    return got == 0 ? 1 : 0;
}

void flush_stream(ByteStream& stream) {
    if (!stream.writing) return;
    const std::size_t used = position(stream);
    if (!stream.file) {  // memory: grow, keeping what was written
        stream.written = std::max(stream.written, used);
        if (used == stream.buffer.size()) stream.buffer.resize(stream.buffer.size() * 2);
        set_cursor(stream, used, 0);
        return;
    }
    if (used > 0 && std::fwrite(stream.buffer.data(), 1, used, stream.file.get()) != used) stream.failed = true;
    stream.buffer_start += used;
    set_cursor(stream, 0, 0);
}

// Both loops take the bytes in turns of eight, each byte through its own
// checked get or put; the loop's count and branch are paid once a turn.
constexpr std::size_t TURN = 8;

int get_bytes(ByteStream& stream, std::size_t count, std::uint8_t* bytes) {
    ByteCursor cursor = take_cursor(stream);
    const auto get = [&](std::uint8_t& byte) { return get_byte(stream, cursor, byte) != 0; };
    bool ended = false;
    std::size_t i = 0;
    for (; i + TURN <= count && !ended; i += TURN) {
        std::uint8_t* b = bytes + i;
        ended = get(b[0]) || get(b[1]) || get(b[2]) || get(b[3]) || get(b[4]) || get(b[5]) || get(b[6]) ||
                get(b[7]);
    }
    for (; i < count && !ended; ++i) ended = get(bytes[i]);
    return_cursor(stream, cursor);
    return ended ? 1 : 0;
}

void put_bytes(ByteStream& stream, std::size_t count, const std::uint8_t* bytes) {
    ByteCursor cursor = take_cursor(stream);
    std::size_t i = 0;
    for (; i + TURN <= count; i += TURN)
        for (std::size_t k = 0; k < TURN; ++k) put_byte(stream, cursor, bytes[i + k]);
    for (; i < count; ++i) put_byte(stream, cursor, bytes[i]);
    return_cursor(stream, cursor);
}

int seek_to(ByteStream& stream, std::uint64_t offset) {
    if (!stream.file) {
        const std::size_t size =
            stream.writing ? std::max(stream.written, position(stream)) : stream.buffer.size();
        if (stream.writing) stream.written = size;
        if (offset > size) {
            if (!stream.writing) set_cursor(stream, size, size);
            return 1;
        }
        set_cursor(stream, static_cast<std::size_t>(offset), size);
        return 0;
    }
    const std::size_t valid = static_cast<std::size_t>(stream.limit - stream.buffer.data());
    if (!stream.writing && offset >= stream.buffer_start && offset - stream.buffer_start <= valid) {
        set_cursor(stream, static_cast<std::size_t>(offset - stream.buffer_start), valid);
        return 0;
    }
    flush_stream(stream);
    set_cursor(stream, 0, 0);
    if (offset > static_cast<std::uint64_t>(LONG_MAX) ||
        std::fseek(stream.file.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return 1;
    stream.buffer_start = offset;
    return 0;
}

std::uint64_t tell(const ByteStream& stream) { return stream.buffer_start + position(stream); }

int stream_length(ByteStream& stream, std::uint64_t& length) {
    if (!stream.file) {
        length = stream.writing ? std::max(stream.written, position(stream)) : stream.buffer.size();
        return seek_to(stream, length);
    }
    if (!stream.writing && std::feof(stream.file.get())) {  // the buffer holds the end already
        length = tell(stream) + static_cast<std::size_t>(stream.limit - stream.next);
        stream.next = stream.limit;
        return 0;
    }
    flush_stream(stream);
    set_cursor(stream, 0, 0);
    if (std::fseek(stream.file.get(), 0, SEEK_END) != 0) return 1;
    const long end = std::ftell(stream.file.get());
    if (end < 0) return 1;
    length = static_cast<std::uint64_t>(end);
    stream.buffer_start = length;
    return 0;
}

int close_stream(ByteStream& stream) {
    int status = 0;
    if (stream.file) {
        flush_stream(stream);
        if (stream.failed) status = 1;
        if (std::fclose(stream.file.release()) != 0) status = 1;
    }
    return status;
}
