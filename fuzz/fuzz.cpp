// The fuzz target: the input as a BMP file through the import of one picture,
// and as a database through the export of each of its records, into memory.
// It aborts when a property breaks; libFuzzer drives it (cmake --workflow
// --preset fuzz), and the tests replay fuzz/crashers/ and examples/ through it.
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "convert/bmp_to_record.h"
#include "convert/names.h"
#include "convert/record_to_bmp.h"
#include "formats/pdb.h"

namespace {

void require(bool property) {
    if (!property) std::abort();
}

// The BMP file export writes for a record; it must import to the same record.
std::span<const std::uint8_t> export_bmp(const ImageRecord& image, ByteStream& out) {
    open_memory_write(out);
    write_bmp(out, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
    require(out.next == 118 + padded_row_bytes(2u * image.row_bytes) * image.height);
    return std::span(out.buffer).first(out.next);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    ByteStream stream;
    ByteStream out;
    std::vector<std::uint8_t> record;
    ImageRecord image;
    open_memory_read(stream, input);
    if (convert_bmp(stream, "fuzz", record) == 0) {
        require(unpack_image_record(record, 1, image) == 0 && image.row_bytes <= 80 && image.height <= 160);
        std::vector<std::uint8_t> again;
        open_memory_read(stream, export_bmp(image, out));
        require(convert_bmp(stream, "fuzz", again) == 0 && again == record);
    }

    open_memory_read(stream, input);
    PdbDatabase database;
    if (read_database(stream, database) != 0) return 0;
    for (std::uint16_t index = 0; index < database.numRecords; ++index) {
        if (read_record(stream, database, index, MAX_RECORD_SIZE, record) != 0) continue;
        require(record.size() <= MAX_RECORD_SIZE);
        if (unpack_image_record(record, index + 1u, image) != 0) continue;
        require(output_file_name(image.name).find_first_of("/\\:") == std::string::npos);
        export_bmp(image, out);
    }
    return 0;
}
