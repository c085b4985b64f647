#include "gray/decode.h"

#include <algorithm>
#include <string_view>

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
    return PictureFormat::UNKNOWN;
}

const char* format_name(PictureFormat format) {
    switch (format) {
        case PictureFormat::JPEG: return "JPEG";
        case PictureFormat::PNG: return "PNG";
        case PictureFormat::GIF: return "GIF";
        case PictureFormat::BMP: return "BMP";
        case PictureFormat::WEBP: return "WebP";
        default: return "unknown";
    }
}
