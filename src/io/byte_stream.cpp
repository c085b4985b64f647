#include "io/byte_stream.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#define fseeko _fseeki64  // 64-bit offsets on Windows too
#endif

static int start_file(ByteStream& stream, std::FILE* file, bool writing) {
    if (file == nullptr) {
        stream.error = errno;
        return 1;
    }
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
    if (stream.failed || past_deadline(stream)) return 1;
    if (!stream.file) {
        stream.ended = true;  // memory holds nothing past its end
        return 1;
    }
    stream.start += static_cast<std::size_t>(stream.end - stream.buffer.data());
    const std::size_t got = std::fread(stream.buffer.data(), 1, stream.buffer.size(), stream.file.get());
    stream.failed = std::ferror(stream.file.get()) != 0;
    if (stream.failed) stream.error = errno;
    stream.ended = got == 0 && !stream.failed;
    stream.next = stream.buffer.data();
    stream.end = stream.next + got;
    return got == 0 ? 1 : 0;
}

bool past_deadline(ByteStream& stream) {
    if (stream.deadline != std::chrono::steady_clock::time_point{} && std::chrono::steady_clock::now() > stream.deadline)
        stream.out_of_time = true;
    return stream.out_of_time;
}

std::size_t read_up_to(ByteStream& stream, std::uint8_t* into, std::size_t count) {
    std::size_t got = 0;
    while (got < count && (stream.next != stream.end || refill_stream(stream) == 0)) {
        const std::size_t n = std::min(count - got, static_cast<std::size_t>(stream.end - stream.next));
        std::copy_n(stream.next, n, into + got);
        stream.next += n;
        got += n;
    }
    return got;
}

std::span<const std::uint8_t> take_buffered(ByteStream& stream) {
    if (stream.next == stream.end && refill_stream(stream) != 0) return {};
    const std::span<const std::uint8_t> bytes(stream.next, stream.end);
    stream.next = stream.end;
    return bytes;
}

void flush_stream(ByteStream& stream) {
    const auto used = static_cast<std::size_t>(stream.next - stream.buffer.data());
    if (!stream.file) {
        stream.buffer.resize(std::max<std::size_t>(256, 2 * used));  // memory grows instead
    } else if (std::fwrite(stream.buffer.data(), 1, used, stream.file.get()) != used) {
        if (!stream.failed) stream.error = errno;
        stream.failed = true;
    }
    stream.next = stream.buffer.data() + (stream.file ? 0 : used);
    stream.end = stream.buffer.data() + stream.buffer.size();
}

int seek_to(ByteStream& stream, std::uint64_t offset) {
    std::uint8_t* const base = stream.buffer.data();
    stream.ended = false;
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
    const bool failed = stream.failed;
    if (finish_file(stream.file.release(), stream.pending, !failed, stream.sync) == 0) return 0;
    if (!failed) stream.error = errno;
    return 1;
}

int name_new(ByteStream& stream, const std::string& path, bool& taken) {
    if (name_new_file(stream.pending, path, taken) == 0) return 0;
    stream.error = errno;
    return 1;
}
