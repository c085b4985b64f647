// The fuzz target: the input as a BMP file through the import of one picture,
// and as a database through the export of each of its records, into memory.
// It aborts when a property breaks. libFuzzer drives it (fuzz/run); the
// tests replay fuzz/crashers/ and examples/ through it.
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/bmp_to_record.h"
#include "convert/names.h"
#include "convert/record_to_bmp.h"
#include "formats/pdb.h"

// The BMP file export writes for a record, of the expected size.
static std::span<const std::uint8_t> export_bmp(const ImageRecord& image, ByteStream& out) {
    open_memory(out);
    write_bmp(out, 2 * image.row_bytes, image.height, GRAY_PALETTE, image.levels);
    const std::span<const std::uint8_t> bytes(out.buffer.data(), out.next);
    if (bytes.size() != 118 + padded_row_bytes(2u * image.row_bytes) * image.height) std::abort();
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteStream in;
    ByteStream out;
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> again;
    ImageRecord image;
    open_memory(in, {data, size});
    if (convert_bmp(in, "fuzz", record) == 0) {  // what imports exports and imports again unchanged
        if (unpack_image_record(record, 1, image) != 0 || image.row_bytes > 80 || image.height > 160) std::abort();
        open_memory(in, export_bmp(image, out));
        if (convert_bmp(in, "fuzz", again) != 0 || again != record) std::abort();
    }
    open_memory(in, {data, size});
    PdbDatabase database;
    if (read_pdb_header(in, database) != 0 || read_record_list(in, database) != 0) return 0;
    for (std::uint16_t index = 0; index < database.numRecords; ++index) {
        if (read_record(in, database, index, MAX_RECORD_SIZE, record) != 0) continue;
        if (record.size() > MAX_RECORD_SIZE) std::abort();
        if (unpack_image_record(record, index + 1u, image) != 0) continue;
        if (file_stem_of_record(image.name).find_first_of("/\\:") != std::string::npos) std::abort();
        export_bmp(image, out);
    }
    return 0;
}
