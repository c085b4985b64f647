#include "convert/names.h"

#include <algorithm>

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](char c) { return upper(c); });
    return result;
}

bool is_forbidden(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
}

// Windows opens a device for these names, whatever extension follows.
bool is_device_name(std::string_view name) {
    std::string stem = upper(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

std::string record_name_of(std::string_view file_name) {
    const std::size_t n = file_name.size();
    return std::string(n >= 4 && file_name[n - 4] == '.' ? file_name.substr(0, n - 4) : file_name);
}

std::string output_file_name(std::string_view record_name) {
    std::string name(record_name);
    std::replace_if(name.begin(), name.end(), is_forbidden, '_');
    if (is_device_name(name)) name.insert(name.begin(), '_');
    return name + ".bmp";
}

bool has_bmp_suffix(std::string_view name) { return name.size() >= 4 && upper(name.substr(name.size() - 4)) == ".BMP"; }
