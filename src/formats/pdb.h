// Palm database files (PDB), all integers big-endian:
//
//   offset   size        content
//   0        32          name, NUL-terminated, zero-filled
//   32       2           attributes
//   34       2           version
//   36       4 each      creationDate, modificationDate, lastBackupDate,
//                        modificationNumber, appInfoID, sortInfoID,
//                        type, creator, uniqueIDSeed, nextRecordListID
//   76       2           numRecords (n)
//   78       8 * n       record entries: localChunkID (4, the offset of the
//                        record's data), attributes (1), uniqueID (3)
//   78 + 8n  2           two zero bytes, only when n > 0
//   80 + 8n  ...         the records' data back to back, in table order
//
// Record sizes are not stored: a record runs to the next record's offset,
// the last one to the end of the file. A database with no records is 78 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/byte_stream.h"

inline constexpr std::size_t MAX_RECORDS = 256;
inline constexpr std::size_t PDB_HEADER_SIZE = 78;
inline constexpr std::size_t PDB_ENTRY_SIZE = 8;

struct PdbRecordEntry {
    std::uint32_t localChunkID = 0;
    std::uint8_t attributes = 0;
    std::array<std::uint8_t, 3> uniqueID{};
    std::span<const std::uint8_t> data;  // writing only; the bytes stay the caller's
};

struct PdbDatabase {
    std::array<std::uint8_t, 32> name{};
    std::uint16_t attributes = 0;
    std::uint16_t version = 0;
    std::uint32_t creationDate = 0;
    std::uint32_t modificationDate = 0;
    std::uint32_t lastBackupDate = 0;
    std::uint32_t modificationNumber = 0;
    std::uint32_t appInfoID = 0;
    std::uint32_t sortInfoID = 0;
    std::uint32_t type = 0;
    std::uint32_t creator = 0;
    std::uint32_t uniqueIDSeed = 0;
    std::uint32_t nextRecordListID = 0;
    std::uint16_t numRecords = 0;
    std::vector<PdbRecordEntry> records;  // numRecords entries
};

// Field primitives; the readers return 1 when the input ends first.
int read_bytes(ByteStream& stream, std::size_t count, std::uint8_t* buffer);
int write_bytes(ByteStream& stream, std::size_t count, const std::uint8_t* buffer);
int read_u16_be(ByteStream& stream, std::uint16_t& value);
int write_u16_be(ByteStream& stream, std::uint16_t value);
int read_u32_be(ByteStream& stream, std::uint32_t& value);
int write_u32_be(ByteStream& stream, std::uint32_t value);

// A new database named "Umbralith?DB", type "DATA", creator "Umb?", no records.
PdbDatabase new_database();

// Appends a record (attributes and uniqueID 0) whose bytes must outlive the
// database, its size taken modulo 65536; a full table refuses it (message, 1).
int add_record(PdbDatabase& database, std::span<const std::uint8_t> data);

// Writes the whole file, assigning every record's localChunkID.
int write_database(ByteStream& stream, PdbDatabase& database);

// Reads the header and the record list; refuses a file that ends inside them.
int read_database(ByteStream& stream, PdbDatabase& database);

// Reads record index into data (the caller's), at most max_size bytes of it.
// A record before its predecessor or cut short by the end of the file is
// reported by its number (from 1) and refused, as is a read error (failed).
int read_record(ByteStream& stream, const PdbDatabase& database, std::uint16_t index, std::size_t max_size,
                std::vector<std::uint8_t>& data);

void free_database(PdbDatabase& database);
