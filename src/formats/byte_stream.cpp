#include "formats/byte_stream.h"

#include <algorithm>
#include <climits>

namespace {

int open_file(ByteStream& stream, const std::string& path, const char* mode, bool writing) {
    stream = ByteStream{};
    stream.file.reset(std::fopen(path.c_str(), mode));
    if (!stream.file) return 1;
    stream.buffer.resize(STREAM_BUFFER_SIZE);
    stream.writing = writing;
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
    stream.end = bytes.size();
}

void open_memory_write(ByteStream& stream) {
    stream = ByteStream{};
    stream.buffer.resize(4096);
    stream.writing = true;
}

std::span<const std::uint8_t> memory_contents(const ByteStream& stream) {
    return std::span(stream.buffer).first(std::max(stream.end, stream.pos));
}

int refill_stream(ByteStream& stream) {
    if (!stream.file || stream.writing) return 1;
    stream.buffer_start += stream.end;
    stream.pos = 0;
    stream.end = std::fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file.get());
    return stream.end == 0 ? 1 : 0;
}

void flush_stream(ByteStream& stream) {
    if (!stream.writing) return;
    if (!stream.file) {  // memory: grow, keeping what was written
        stream.end = std::max(stream.end, stream.pos);
        if (stream.pos == stream.buffer.size()) stream.buffer.resize(stream.buffer.size() * 2);
        return;
    }
    if (stream.pos > 0 && std::fwrite(stream.buffer.data(), 1, stream.pos, stream.file.get()) != stream.pos)
        stream.failed = true;
    stream.buffer_start += stream.pos;
    stream.pos = 0;
}

int seek_to(ByteStream& stream, std::uint64_t offset) {
    if (!stream.file) {
        if (stream.writing) {
            stream.end = std::max(stream.end, stream.pos);
            if (offset > stream.end) return 1;
        } else if (offset > stream.end) {
            stream.pos = stream.end;
            return 1;
        }
        stream.pos = static_cast<std::size_t>(offset);
        return 0;
    }
    if (!stream.writing && offset >= stream.buffer_start && offset - stream.buffer_start <= stream.end) {
        stream.pos = static_cast<std::size_t>(offset - stream.buffer_start);
        return 0;
    }
    flush_stream(stream);
    stream.pos = 0;
    stream.end = 0;
    if (offset > static_cast<std::uint64_t>(LONG_MAX) ||
        std::fseek(stream.file.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return 1;
    stream.buffer_start = offset;
    return 0;
}

std::uint64_t tell(const ByteStream& stream) { return stream.buffer_start + stream.pos; }

int stream_length(ByteStream& stream, std::uint64_t& length) {
    if (!stream.file) {
        length = std::max(stream.end, stream.pos);
        stream.pos = static_cast<std::size_t>(length);
        return 0;
    }
    flush_stream(stream);
    stream.pos = 0;
    stream.end = 0;
    if (std::fseek(stream.file.get(), 0, SEEK_END) != 0) return 1;
    const long position = std::ftell(stream.file.get());
    if (position < 0) return 1;
    length = static_cast<std::uint64_t>(position);
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
