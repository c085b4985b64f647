#include "formats/byte_stream.h"

#include <algorithm>

#ifdef _WIN32
#define fseeko _fseeki64  // 64-bit offsets on Windows too
#endif

static int open_file(ByteStream& stream, const std::string& path, bool writing) {
    stream = ByteStream{};
    stream.file.reset(std::fopen(path.c_str(), writing ? "wb" : "rb"));
    if (!stream.file) return 1;
    stream.buffer.resize(64 * 1024);
    stream.writing = writing;
    return 0;
}

int open_read(ByteStream& stream, const std::string& path) { return open_file(stream, path, false); }
int open_write(ByteStream& stream, const std::string& path) { return open_file(stream, path, true); }

void open_memory_read(ByteStream& stream, std::span<const std::uint8_t> bytes) {
    stream = ByteStream{};
    stream.buffer.assign(bytes.begin(), bytes.end());
    stream.end = bytes.size();
}

void open_memory_write(ByteStream& stream) {
    stream = ByteStream{};
    stream.writing = true;
}

int refill_stream(ByteStream& stream) {
    if (!stream.file || stream.failed) return 1;
    stream.start += stream.end;
    stream.next = 0;
    stream.end = std::fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file.get());
    stream.failed = std::ferror(stream.file.get()) != 0;
    return stream.end == 0 ? 1 : 0;
}

void flush_stream(ByteStream& stream) {
    if (!stream.file) {
        stream.buffer.resize(std::max<std::size_t>(256, 2 * stream.buffer.size()));
    } else {
        if (std::fwrite(stream.buffer.data(), 1, stream.next, stream.file.get()) != stream.next) stream.failed = true;
        stream.next = 0;
    }
}

int seek_to(ByteStream& stream, std::uint64_t offset) {
    if (offset >= stream.start && offset - stream.start <= stream.end) {  // inside the buffer
        stream.next = static_cast<std::size_t>(offset - stream.start);
    } else if (!stream.file) {  // past the end of the memory
        stream.next = stream.end;
    } else if (fseeko(stream.file.get(), static_cast<std::int64_t>(offset), SEEK_SET) != 0) {
        stream.failed = true;
        return 1;
    } else {
        stream.start = offset;
        stream.next = stream.end = 0;
    }
    return 0;
}

int close_stream(ByteStream& stream) {
    if (!stream.file) return 0;
    if (stream.writing) flush_stream(stream);
    const bool closed = std::fclose(stream.file.release()) == 0;
    return stream.failed || !closed ? 1 : 0;
}
