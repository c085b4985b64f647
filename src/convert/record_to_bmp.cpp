#include "convert/record_to_bmp.h"

#include <cstdio>
#include <string>

#include "cli/platform.h"
#include "convert/names.h"
#include "formats/image_record.h"

int record_to_bmp(std::span<const std::uint8_t> record, unsigned number, const std::string& database_path) {
    ImageRecord image;
    if (unpack_image_record(record, number, image) != 0) return 1;
    const std::string file_name = output_file_name(image.name);
    ByteStream stream;
    if (same_file(file_name, database_path) || open_write(stream, file_name) != 0) {
        std::printf("Cannot write file %s\n", file_name.c_str());
        return 1;
    }
    std::printf("Writing file %s\n", file_name.c_str());
    write_bmp(stream, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
    if (close_stream(stream) != 0) {
        std::printf("Cannot write file %s\n", file_name.c_str());
        return 1;
    }
    return 0;
}
