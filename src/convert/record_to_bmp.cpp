#include "convert/record_to_bmp.h"

#include <cstdio>
#include <string>

#include "convert/names.h"
#include "formats/image_record.h"
#include "io/console.h"

int record_to_bmp(std::span<const std::uint8_t> record, unsigned number, WrittenFiles& files) {
    ImageRecord image;
    if (unpack_image_record(record, number, image) != 0) return 0;
    const std::string stem = file_stem_of_record(image.name);
    const FileName file = free_file_name("", stem, files);
    ByteStream stream;
    if (open_write(stream, file.name) != 0) return fail("Cannot write file %s\n", file.name.c_str());
    print("Writing file %s\n", file.name.c_str());
    write_bmp(stream, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
    if (close_stream(stream) != 0) return fail("Cannot write file %s\n", file.name.c_str());
    take_file_name(files, stem, file);
    return 0;
}
