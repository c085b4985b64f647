#include "convert/record_to_bmp.h"

#include <cstdio>
#include <string>

#include "convert/names.h"
#include "formats/image_record.h"
#include "io/file_system.h"

// The first of NAME.bmp, "NAME (2).bmp"... that this run has not written and
// that is not the database. A name's count goes on where it stopped, so a
// database of one name throughout costs one try a record.
static std::string claim_file_name(const std::string& record_name, ExportedFiles& files) {
    unsigned& copy = files.copies_of_name[name_key(output_file_name(record_name))];
    std::string file_name;
    do {
        file_name = output_file_name(record_name, ++copy);
    } while (!files.written.insert(name_key(file_name)).second || same_file(file_name, files.database_path));
    return file_name;
}

int record_to_bmp(std::span<const std::uint8_t> record, unsigned number, ExportedFiles& files) {
    ImageRecord image;
    if (unpack_image_record(record, number, image) != 0) return 0;
    const std::string file_name = claim_file_name(image.name, files);
    ByteStream stream;
    if (open_write(stream, file_name) != 0) return fail("Cannot write file %s\n", file_name.c_str());
    std::printf("Writing file %s\n", file_name.c_str());
    write_bmp(stream, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
    if (close_stream(stream) != 0) return fail("Cannot write file %s\n", file_name.c_str());
    return 0;
}
