#include "io/byte_stream.h"

#include <algorithm>

#ifdef _WIN32
#define fseeko _fseeki64  // 64-bit offsets on Windows too
#endif

static int start_file(ByteStream& stream, std::FILE* file, bool writing) {
    if (file == nullptr) return 1;
    stream.file.reset(file);
    std::setvbuf(file, nullptr, _IONBF, 0);  // the stream's buffer is the only one
    stream.buffer.resize(64 * 1024);
    stream.next = stream.buffer.data();
    stream.end = writing ? stream.next + stream.buffer.size() : stream.next;
    stream.writing = writing;
    return 0;
}

int open_read(ByteStream& stream, const std::string& path) {
    stream = ByteStream{};
    return start_file(stream, open_regular_file(path, stream.size, stream.identity), false);
}

int open_write(ByteStream& stream, const std::string& path, bool sync) {
    stream = ByteStream{};
    stream.sync = sync;
    return start_file(stream, create_replacement(path, stream.pending), true);
}

int open_new(ByteStream& stream, const std::string& folder) {
    stream = ByteStream{};
    return start_file(stream, create_new_file(folder, stream.pending), true);
}

void open_memory(ByteStream& stream, std::span<const std::uint8_t> bytes) {
    stream = ByteStream{};
    stream.buffer.assign(bytes.begin(), bytes.end());
    stream.next = stream.buffer.data();
    stream.end = stream.next + bytes.size();
    stream.size = bytes.size();
}

int refill_stream(ByteStream& stream) {
    if (!stream.file || stream.failed) return 1;
    stream.start += static_cast<std::size_t>(stream.end - stream.buffer.data());
    const std::size_t got = std::fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file.get());
    stream.failed = std::ferror(stream.file.get()) != 0;
    stream.next = stream.buffer.data();
    stream.end = stream.next + got;
    return got == 0 ? 1 : 0;
}

void flush_stream(ByteStream& stream) {
    const auto used = static_cast<std::size_t>(stream.next - stream.buffer.data());
    if (!stream.file) {
        stream.buffer.resize(std::max<std::size_t>(256, 2 * used));  // memory grows instead
    } else if (std::fwrite(stream.buffer.data(), 1, used, stream.file.get()) != used) {
        stream.failed = true;
    }
    stream.next = stream.buffer.data() + (stream.file ? 0 : used);
    stream.end = stream.buffer.data() + stream.buffer.size();
}

int seek_to(ByteStream& stream, std::uint64_t offset) {
    std::uint8_t* const base = stream.buffer.data();
    if (offset >= stream.start && offset - stream.start <= static_cast<std::size_t>(stream.end - base)) {
        stream.next = base + (offset - stream.start);  // inside the buffer
    } else if (!stream.file) {
        stream.next = stream.end;  // memory holds nothing past its end
    } else if (fseeko(stream.file.get(), static_cast<std::int64_t>(offset), SEEK_SET) == 0) {
        stream.start = offset;
        stream.next = stream.end = base;
    } else {
        stream.failed = true;
    }
    return stream.failed ? 1 : 0;
}

int close_stream(ByteStream& stream) {
    if (!stream.file) return 0;
    if (!stream.writing) return std::fclose(stream.file.release()) != 0 || stream.failed ? 1 : 0;
    if (!stream.failed) flush_stream(stream);
    return finish_file(stream.file.release(), stream.pending, !stream.failed, stream.sync);
}

int name_new(ByteStream& stream, const std::string& path, bool& taken) {
    return name_new_file(stream.pending, path, taken);
}
