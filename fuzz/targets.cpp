#include "targets.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/bmp_to_record.h"
#include "convert/record_to_bmp.h"
#include "formats/pdb.h"

namespace {

void require(bool property) {
    if (!property) std::abort();
}

using Bytes = ByteBuffer;  // records and files; built from ranges, never by count

Bytes contents(const ByteStream& stream) {
    const auto bytes = memory_contents(stream);
    return Bytes(bytes.begin(), bytes.end());
}

int import_from(std::span<const std::uint8_t> file, Bytes& record) {
    ByteStream stream;
    open_memory_read(stream, file);
    return convert_bmp(stream, "fuzz.bmp", record);
}

Bytes export_to_bmp(const ImageRecord& image) {
    ByteStream out;
    open_memory_write(out);
    write_record_bmp(out, image);
    return contents(out);
}

}  // namespace

int fuzz_bmp_import(std::span<const std::uint8_t> data) {
    Bytes record;
    if (import_from(data, record) != 0) return 0;
    ImageRecord image;
    require(unpack_image_record(record, image) == 0);
    require(record.size() == RECORD_HEADER_SIZE + std::size_t{image.row_bytes} * image.height);
    require(image.row_bytes >= 1 && image.row_bytes <= 80 && image.height >= 1 && image.height <= 160);
    return 0;
}

int fuzz_pdb_export(std::span<const std::uint8_t> data) {
    ByteStream stream;
    open_memory_read(stream, data);
    PdbDatabase database;
    if (read_database(stream, database) != 0) return 0;
    Bytes record;
    for (std::uint16_t index = 0; index < database.numRecords; ++index) {
        if (read_record(stream, database, index, record) != 0) continue;
        require(record.size() <= data.size());
        ImageRecord image;
        std::string file_name;
        if (prepare_record_export(record, index + 1u, image, file_name) != 0) continue;
        require(file_name.find_first_of("/\\:") == std::string::npos);
        const Bytes bmp = export_to_bmp(image);
        require(bmp.size() == 118 + bmp_padded_row_bytes(2u * image.row_bytes) * image.height);
    }
    free_database(database);
    return 0;
}

int fuzz_round_trip(std::span<const std::uint8_t> data) {
    if (data.size() < 3) return 0;
    // A picture of even width: width, height and name from the first bytes.
    const int width = 2 * (1 + data[0] % 80);
    const int height = 1 + data[1] % 160;
    const std::size_t name_length = std::min<std::size_t>(data[2] % 40, data.size() - 3);
    const std::string name(data.begin() + 3, data.begin() + 3 + static_cast<std::ptrdiff_t>(name_length));
    const auto rest = data.subspan(3 + name_length);
    std::vector<GrayLevel> levels(static_cast<std::size_t>(width * height));
    for (std::size_t i = 0; i < levels.size() && !rest.empty(); ++i) levels[i] = rest[i % rest.size()] & 15;

    Bytes packed;
    require(pack_image_record(name, width, height, levels, packed) == 0);
    PdbDatabase database = new_database();
    require(add_record(database, packed) == 0);
    ByteStream file;
    open_memory_write(file);
    write_database(file, database);
    const Bytes pdb = contents(file);

    ByteStream in;
    open_memory_read(in, pdb);
    PdbDatabase read;
    Bytes record;
    require(read_database(in, read) == 0 && read.numRecords == 1);
    require(read_record(in, read, 0, record) == 0 && record == packed);
    ImageRecord image;
    require(unpack_image_record(record, image) == 0);
    require(std::ranges::equal(image.levels, levels) && image.row_bytes * 2 == width && image.height == height);
    require(image.name == name.substr(0, std::min(name.find('\0'), RECORD_NAME_MAX)));

    // Any BMP that imports exports and imports again to the same record.
    Bytes imported;
    if (import_from(data, imported) != 0) return 0;
    require(unpack_image_record(imported, image) == 0);
    Bytes again;
    require(import_from(export_to_bmp(image), again) == 0);
    require(again == imported);
    return 0;
}
