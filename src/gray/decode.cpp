#include "gray/decode.h"

#include <algorithm>
#include <cinttypes>
#include <string>

#include "io/console.h"

namespace {

bool starts_with(std::span<const std::uint8_t> bytes, std::string_view signature, std::size_t at = 0) {
    return bytes.size() >= at + signature.size() &&
           std::equal(signature.begin(), signature.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace

PictureFormat detect_format(std::span<const std::uint8_t> first) {
    if (starts_with(first, "\xFF\xD8\xFF")) return PictureFormat::JPEG;
    if (starts_with(first, "\x89PNG\r\n\x1A\n")) return PictureFormat::PNG;
    if (starts_with(first, "GIF87a") || starts_with(first, "GIF89a")) return PictureFormat::GIF;
    if (starts_with(first, "BM")) return PictureFormat::BMP;
    if (starts_with(first, "RIFF") && starts_with(first, "WEBP", 8)) return PictureFormat::WEBP;
    if (!starts_with(first, "ftyp", 4)) return PictureFormat::UNKNOWN;  // an ISO box, and its major brand
    for (const std::string_view brand : {"avif", "avis"})
        if (starts_with(first, brand, 8)) return PictureFormat::AVIF;
    for (const std::string_view brand : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"})
        if (starts_with(first, brand, 8)) return PictureFormat::HEIC;
    return PictureFormat::UNKNOWN;
}

const char* format_name(PictureFormat format) {
    switch (format) {
        case PictureFormat::JPEG: return "JPEG";
        case PictureFormat::PNG: return "PNG";
        case PictureFormat::GIF: return "GIF";
        case PictureFormat::BMP: return "BMP";
        case PictureFormat::WEBP: return "WebP";
        case PictureFormat::HEIC: return "HEIC";
        case PictureFormat::AVIF: return "AVIF";
        default: return "unknown";
    }
}

int picture_error(const Decoding& d, std::string_view words) {
    return fail("Error - %s: %.*s\n", format_name(d.format), static_cast<int>(words.size()), words.data());
}

int check_memory(const Decoding& d, std::uint64_t bytes, std::string_view why) {
    if (bytes <= MAX_MEMORY - MEMORY_ROOM) return 0;
    return picture_error(d, "the picture is " + std::string(why) + " and needs more than " +
                                std::to_string(MAX_MEMORY >> 20) + " MiB to decode at once");
}

int stop_early(Decoding& d, Stop stop, std::string_view detail) {
    if (d.in->failed) return 1;
    if (d.in->out_of_time)
        return picture_error(d, "the picture takes more than " + std::to_string(MAX_DECODING_TIME.count()) + " s to decode");
    if (d.in->ended) stop = Stop::CUT_SHORT;  // whatever the decoder made of the end it met
    const std::string why = detail.empty() || stop == Stop::CUT_SHORT ? "" : " (" + std::string(detail) + ")";
    const GraySink& sink = d.sink;
    if (sink.rows_in == 0)
        return picture_error(d, stop == Stop::CUT_SHORT ? "the file is cut short before its first row" : "the file is damaged" + why);
    const char* how = stop == Stop::CUT_SHORT ? "cut short" : "damaged";
    const char* name = format_name(d.format);
    if (d.held_whole) {
        print("Warning - %s: the file is %s%s; the picture is made as far as it goes\n", name, how, why.c_str());
        return 0;
    }
    const std::uint64_t rows = std::uint64_t{sink.rows_in} * sink.info.height / sink.info.row_count;  // as stored
    print("Warning - %s: the file is %s after %" PRIu64 " of %" PRIu32 " rows%s; the rest is white\n", name, how, rows,
          sink.info.height, why.c_str());
    return 0;
}

PngChunks png_chunks(ByteStream& in) {
    static constexpr std::uint8_t IEND[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    PngChunks png;
    png.pieces.push_back({8, 0});
    std::vector<std::string> shown;
    std::uint8_t head[8];
    bool in_data = false;
    for (std::uint64_t at = 8; seek_to(in, at) == 0 && read_up_to(in, head, 8) == 8;) {
        const std::uint64_t chunk = 12 + std::uint64_t{number_in(std::span(head).first(4), true)};
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (in_data && type != "IDAT") break;  // the picture data is one run of chunks
        in_data = type == "IDAT";
        std::uint8_t ihdr[5] = {};
        if (type == "IHDR" && png.width == 0 && read_up_to(in, head, 8) == 8 && read_up_to(in, ihdr, 1) == 1) {
            png.width = number_in(std::span(head).first(4), true);
            png.height = number_in(std::span(head).subspan(4), true);
            png.depth = ihdr[0];
        }
        Piece& last = png.pieces.back();
        if (in_data && last.ours == nullptr && last.from + last.length == at) {
            last.length += chunk;  // one piece for the run
        } else if (in_data || ((type == "IHDR" || type == "PLTE" || type == "tRNS") &&
                               std::find(shown.begin(), shown.end(), type) == shown.end())) {
            png.pieces.push_back({chunk, at});
            shown.push_back(type);
        }
        at += chunk;
    }
    png.pieces.push_back({sizeof IEND, 0, IEND});
    return png;
}
