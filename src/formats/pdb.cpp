#include "formats/pdb.h"

#include <cstdio>

int read_bytes(ByteStream& stream, std::size_t count, std::uint8_t* buffer) {
    return get_bytes(stream, count, buffer);
}

int write_bytes(ByteStream& stream, std::size_t count, const std::uint8_t* buffer) {
    put_bytes(stream, count, buffer);
    return 0;
}

int read_u16_be(ByteStream& stream, std::uint16_t& value) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (get_byte(stream, high) != 0 || get_byte(stream, low) != 0) return 1;
    value = static_cast<std::uint16_t>(high << 8 | low);
    return 0;
}

int write_u16_be(ByteStream& stream, std::uint16_t value) {
    put_byte(stream, static_cast<std::uint8_t>(value >> 8));
    put_byte(stream, static_cast<std::uint8_t>(value));
    return 0;
}

int read_u32_be(ByteStream& stream, std::uint32_t& value) {
    std::uint16_t high = 0;
    std::uint16_t low = 0;
    if (read_u16_be(stream, high) != 0 || read_u16_be(stream, low) != 0) return 1;
    value = static_cast<std::uint32_t>(high) << 16 | low;
    return 0;
}

int write_u32_be(ByteStream& stream, std::uint32_t value) {
    write_u16_be(stream, static_cast<std::uint16_t>(value >> 16));
    write_u16_be(stream, static_cast<std::uint16_t>(value));
    return 0;
}

namespace {

constexpr std::uint32_t four_cc(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 8 |
           static_cast<std::uint8_t>(code[3]);
}

constexpr char DATABASE_NAME[] = "Umbralith?DB";
constexpr std::uint16_t BACKUP_ATTRIBUTE = 0x0008;

// The ten 32-bit header fields, in file order.
std::array<std::uint32_t*, 10> header_words(PdbDatabase& d) {
    return {&d.creationDate, &d.modificationDate, &d.lastBackupDate, &d.modificationNumber, &d.appInfoID,
            &d.sortInfoID,   &d.type,             &d.creator,        &d.uniqueIDSeed,       &d.nextRecordListID};
}

// The end of record index: the next record's offset, or the file's end.
std::uint64_t record_end(const PdbDatabase& database, std::size_t index) {
    return index + 1 < database.records.size() ? database.records[index + 1].localChunkID
                                               : database.file_length;
}

}  // namespace

PdbDatabase new_database() {
    PdbDatabase database;
    for (std::size_t i = 0; DATABASE_NAME[i] != '\0'; ++i)
        database.name[i] = static_cast<std::uint8_t>(DATABASE_NAME[i]);
    database.attributes = BACKUP_ATTRIBUTE;
    database.type = four_cc("DATA");
    database.creator = four_cc("Umb?");
    database.records.reserve(MAX_RECORDS);
    return database;
}

int add_record(PdbDatabase& database, std::span<const std::uint8_t> data) {
    if (database.records.size() >= MAX_RECORDS) return 1;
    PdbRecordEntry entry;
    entry.size = static_cast<std::uint16_t>(data.size());
    entry.data = data.first(entry.size);
    database.records.push_back(entry);
    database.numRecords = static_cast<std::uint16_t>(database.records.size());
    return 0;
}

int write_database(ByteStream& stream, PdbDatabase& database) {
    seek_to(stream, 0);
    write_bytes(stream, database.name.size(), database.name.data());
    write_u16_be(stream, database.attributes);
    write_u16_be(stream, database.version);
    for (const std::uint32_t* word : header_words(database)) write_u32_be(stream, *word);
    write_u16_be(stream, database.numRecords);
    if (database.records.empty()) return 0;

    std::uint32_t offset = static_cast<std::uint32_t>(PDB_HEADER_SIZE + 2 + PDB_ENTRY_SIZE * database.records.size());
    for (PdbRecordEntry& entry : database.records) {
        entry.localChunkID = offset;
        offset += entry.size;
    }
    for (const PdbRecordEntry& entry : database.records) {
        write_u32_be(stream, entry.localChunkID);
        put_byte(stream, entry.attributes);
        write_bytes(stream, entry.uniqueID.size(), entry.uniqueID.data());
    }
    write_u16_be(stream, 0);
    for (const PdbRecordEntry& entry : database.records) write_bytes(stream, entry.data.size(), entry.data.data());
    return 0;
}

int read_database(ByteStream& stream, PdbDatabase& database) {
    database = PdbDatabase{};
    if (stream_length(stream, database.file_length) != 0 || database.file_length < PDB_HEADER_SIZE ||
        seek_to(stream, 0) != 0) {
        std::printf("Error - the file is shorter than a database header (%zu bytes)\n", PDB_HEADER_SIZE);
        return 1;
    }
    read_bytes(stream, database.name.size(), database.name.data());
    read_u16_be(stream, database.attributes);
    read_u16_be(stream, database.version);
    for (std::uint32_t* word : header_words(database)) read_u32_be(stream, *word);
    read_u16_be(stream, database.numRecords);

    const std::uint64_t list_end = PDB_HEADER_SIZE + std::uint64_t{PDB_ENTRY_SIZE} * database.numRecords;
    if (list_end > database.file_length) {
        std::printf("Error - the database file ends inside its list of %u records\n",
                    static_cast<unsigned>(database.numRecords));
        return 1;
    }
    database.records.resize(database.numRecords);
    for (PdbRecordEntry& entry : database.records) {
        read_u32_be(stream, entry.localChunkID);
        get_byte(stream, entry.attributes);
        read_bytes(stream, entry.uniqueID.size(), entry.uniqueID.data());
    }
    for (std::size_t i = 0; i < database.records.size(); ++i) {
        const std::uint64_t start = database.records[i].localChunkID;
        const std::uint64_t end = record_end(database, i);
        if (start <= end && end <= database.file_length)
            database.records[i].size = static_cast<std::uint32_t>(end - start);
    }
    return 0;
}

int read_record(ByteStream& stream, const PdbDatabase& database, std::uint16_t index,
                ByteBuffer& data) {
    data.clear();
    if (index >= database.records.size()) return 1;
    const unsigned number = index + 1u;
    const std::uint64_t start = database.records[index].localChunkID;
    const std::uint64_t end = record_end(database, index);
    if (start > database.file_length) {
        std::printf("Error - record %u starts past the end of the database file\n", number);
        return 1;
    }
    if (end < start) {
        std::printf("Error - record %u starts after the record that follows it\n", number);
        return 1;
    }
    if (end > database.file_length) {
        std::printf("Error - record %u runs past the end of the database file\n", number);
        return 1;
    }
    data.resize(static_cast<std::size_t>(end - start));
    if (seek_to(stream, start) != 0 || read_bytes(stream, data.size(), data.data()) != 0) {
        std::printf("Error - record %u could not be read\n", number);
        data.clear();
        return 1;
    }
    return 0;
}

void free_database(PdbDatabase& database) {
    database.records.clear();
    database.records.shrink_to_fit();
    database.numRecords = 0;
}
