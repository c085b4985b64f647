#include "formats/pdb.h"

#include <algorithm>
#include <string_view>

#include "io/console.h"

int read_bytes(ByteStream& stream, std::size_t count, std::uint8_t* buffer) {
    return read_up_to(stream, buffer, count) == count ? 0 : 1;
}

int read_u16_be(ByteStream& stream, std::uint16_t& value) {
    std::array<std::uint8_t, 2> b{};
    if (read_bytes(stream, b.size(), b.data()) != 0) return 1;
    value = static_cast<std::uint16_t>(number_in(b, true));
    return 0;
}

int read_u32_be(ByteStream& stream, std::uint32_t& value) {
    std::array<std::uint8_t, 4> b{};
    if (read_bytes(stream, b.size(), b.data()) != 0) return 1;
    value = number_in(b, true);
    return 0;
}

namespace {

constexpr std::string_view DATABASE_NAME = "Umbralith?DB";
constexpr std::uint16_t BACKUP_ATTRIBUTE = 0x0008;

// The ten 32-bit header fields, in file order.
std::array<std::uint32_t*, 10> header_words(PdbDatabase& d) {
    return {&d.creationDate, &d.modificationDate, &d.lastBackupDate, &d.modificationNumber, &d.appInfoID,
            &d.sortInfoID,   &d.type,             &d.creator,        &d.uniqueIDSeed,       &d.nextRecordListID};
}

int cannot_read() { return fail("Error - the database file cannot be read\n"); }

}  // namespace

PdbDatabase new_database() {
    PdbDatabase database;
    std::copy(DATABASE_NAME.begin(), DATABASE_NAME.end(), database.name.begin());
    database.attributes = BACKUP_ATTRIBUTE;
    database.type = TYPE_DATA;
    database.creator = CREATOR_UMB;
    return database;
}

int add_record(PdbDatabase& database, std::span<const std::uint8_t> data) {
    if (database.records.size() >= MAX_RECORDS)
        return fail("Error - the database is full, it holds at most %zu pictures\n", MAX_RECORDS);
    database.records.push_back({.data = data.first(static_cast<std::uint16_t>(data.size()))});
    database.numRecords = static_cast<std::uint16_t>(database.records.size());
    return 0;
}

void write_database(ByteStream& stream, PdbDatabase& database) {
    for (const std::uint8_t byte : database.name) put_byte(stream, byte);
    put_number(stream, database.attributes, 2, true);
    put_number(stream, database.version, 2, true);
    for (const std::uint32_t* word : header_words(database)) put_number(stream, *word, 4, true);
    put_number(stream, database.numRecords, 2, true);
    if (database.records.empty()) return;

    auto offset = static_cast<std::uint32_t>(PDB_HEADER_SIZE + 2 + PDB_ENTRY_SIZE * database.records.size());
    for (PdbRecordEntry& entry : database.records) {
        entry.localChunkID = offset;
        offset += static_cast<std::uint32_t>(entry.data.size());
        put_number(stream, entry.localChunkID, 4, true);
        put_byte(stream, entry.attributes);
        for (const std::uint8_t byte : entry.uniqueID) put_byte(stream, byte);
    }
    put_number(stream, 0, 2, true);
    for (const PdbRecordEntry& entry : database.records)
        for (const std::uint8_t byte : entry.data) put_byte(stream, byte);
}

int read_pdb_header(ByteStream& stream, PdbDatabase& database) {
    database = PdbDatabase{};
    bool ok = read_bytes(stream, database.name.size(), database.name.data()) == 0 &&
              read_u16_be(stream, database.attributes) == 0 && read_u16_be(stream, database.version) == 0;
    for (std::uint32_t* word : header_words(database)) ok = ok && read_u32_be(stream, *word) == 0;
    if (!ok || read_u16_be(stream, database.numRecords) != 0) {
        if (stream.failed) return cannot_read();
        return fail("Error - the file is shorter than a database header (%zu bytes)\n", PDB_HEADER_SIZE);
    }
    return 0;
}

int read_record_list(ByteStream& stream, PdbDatabase& database) {
    // The table grows only as far as the file backs it.
    for (unsigned i = 0; i < database.numRecords; ++i) {
        PdbRecordEntry entry;
        if (read_u32_be(stream, entry.localChunkID) != 0 || get_byte(stream, entry.attributes) != 0 ||
            read_bytes(stream, entry.uniqueID.size(), entry.uniqueID.data()) != 0) {
            if (stream.failed) return cannot_read();
            return fail("Error - the database file ends inside its list of %u records\n",
                        static_cast<unsigned>(database.numRecords));
        }
        database.records.push_back(entry);
    }
    return 0;
}

bool has_palm_name(const PdbDatabase& database) {
    const auto end = std::find(database.name.begin(), database.name.end(), 0);
    return end != database.name.end() && std::none_of(database.name.begin(), end, is_control_character);
}

bool has_palm_codes(const PdbDatabase& database) {
    const auto printable = [](std::uint32_t code) {
        for (unsigned shift = 0; shift < 32; shift += 8)
            if (const auto c = static_cast<std::uint8_t>(code >> shift); c < 0x20 || c > 0x7E) return false;
        return true;
    };
    return printable(database.type) && printable(database.creator);
}

bool records_start_in_file(const PdbDatabase& database, std::uint64_t file_size) {
    const std::uint64_t list_end = PDB_HEADER_SIZE + PDB_ENTRY_SIZE * database.records.size();
    return database.records.empty() ||
           (database.records[0].localChunkID >= list_end && database.records[0].localChunkID <= file_size);
}

bool is_own_database(std::span<const std::uint8_t> first_bytes, std::uint16_t& records) {
    constexpr std::size_t TYPE_AT = 60, RECORDS_AT = 76;
    ByteStream bytes;
    open_memory(bytes, first_bytes);
    std::uint32_t type = 0;
    std::uint32_t creator = 0;
    records = 0;
    if (seek_to(bytes, TYPE_AT) != 0 || read_u32_be(bytes, type) != 0 || read_u32_be(bytes, creator) != 0 ||
        type != TYPE_DATA || creator != CREATOR_UMB)
        return false;
    seek_to(bytes, RECORDS_AT);
    read_u16_be(bytes, records);  // left 0 when the bytes end first
    return true;
}

int read_record(ByteStream& stream, const PdbDatabase& database, std::uint16_t index, std::size_t max_size,
                std::vector<std::uint8_t>& data) {
    data.clear();
    if (index >= database.records.size()) return 1;
    const unsigned number = index + 1u;
    const bool last = number == database.records.size();
    const std::uint64_t start = database.records[index].localChunkID;
    const std::uint64_t end = last ? start + max_size : database.records[number].localChunkID;
    if (end < start) return fail("Error - record %u starts after the record that follows it\n", number);
    data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(end - start, max_size)));
    seek_to(stream, start);  // a failed seek shows as a failed read
    const std::size_t got = read_up_to(stream, data.data(), data.size());
    const bool cut = got < data.size();
    data.resize(got);
    // The last record runs to the end of the file, whatever it holds.
    if (stream.failed || (cut && !last)) data.clear();
    if (stream.failed) return cannot_read();
    return cut && !last ? fail("Error - record %u runs past the end of the database file\n", number) : 0;
}

void free_database(PdbDatabase& database) {
    database.records.clear();
    database.records.shrink_to_fit();
    database.numRecords = 0;
}
