#include "convert/record_to_bmp.h"

#include <algorithm>
#include <cstdio>


namespace {

bool is_forbidden(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device for these names, whatever extension follows.
bool is_device_name(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), upper);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

std::string output_file_name(std::string_view record_name) {
    std::string name(record_name);
    std::replace_if(name.begin(), name.end(), is_forbidden, '_');
    if (is_device_name(name)) name.insert(name.begin(), '_');
    return name + ".bmp";
}

int prepare_record_export(std::span<const std::uint8_t> record, unsigned number, ImageRecord& image,
                          std::string& file_name) {
    if (unpack_image_record(record, image) != 0) {
        if (record.size() < RECORD_HEADER_SIZE)
            std::printf("Error - record %u is shorter than a picture header (%zu of %zu bytes)\n", number,
                        record.size(), RECORD_HEADER_SIZE);
        else
            std::printf("Error - record %u is shorter than its %ux%u picture\n", number, 2u * record[0],
                        static_cast<unsigned>(record[1]));
        return 1;
    }
    file_name = output_file_name(image.name);
    return 0;
}

int write_record_bmp(ByteStream& stream, const ImageRecord& image) {
    return write_bmp(stream, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
}

int record_to_bmp(std::span<const std::uint8_t> record, unsigned number) {
    ImageRecord image;
    std::string file_name;
    if (prepare_record_export(record, number, image, file_name) != 0) return 1;
    ByteStream stream;
    if (open_write(stream, file_name) != 0) {
        std::printf("Cannot write file %s\n", file_name.c_str());
        return 1;
    }
    std::printf("Writing file %s\n", file_name.c_str());
    write_record_bmp(stream, image);
    if (close_stream(stream) != 0) {
        std::printf("Cannot write file %s\n", file_name.c_str());
        return 1;
    }
    return 0;
}
