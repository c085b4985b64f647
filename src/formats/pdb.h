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

#include "io/byte_stream.h"

inline constexpr std::size_t MAX_RECORDS = 256;
inline constexpr std::size_t PDB_HEADER_SIZE = 78;
inline constexpr std::size_t PDB_ENTRY_SIZE = 8;
inline constexpr std::uint32_t TYPE_DATA = 0x44415441;    // "DATA"
inline constexpr std::uint32_t CREATOR_UMB = 0x556D623F;  // "Umb?": this application's

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
int read_u16_be(ByteStream& stream, std::uint16_t& value);
int read_u32_be(ByteStream& stream, std::uint32_t& value);

// A new database named "Umbralith?DB", type "DATA", creator "Umb?", no records.
PdbDatabase new_database();

// Appends a record (attributes and uniqueID 0) whose bytes must outlive the
// database, its size taken modulo 65536; a full table refuses it (message, 1).
int add_record(PdbDatabase& database, std::span<const std::uint8_t> data);

// Writes the whole file, assigning every record's localChunkID; a write
// that fails shows in the stream.
void write_database(ByteStream& stream, PdbDatabase& database);

// Read the header, and the record list after it; each refuses a file that
// ends inside what it reads.
int read_pdb_header(ByteStream& stream, PdbDatabase& database);
int read_record_list(ByteStream& stream, PdbDatabase& database);

// What a Palm database holds and other files seldom do: a name of text ended
// by a zero within its 32 bytes, a type and a creator of four printable
// characters each (an archive or an SQLite file has zeros there), and a first
// record that starts between the end of the record list and the end of the
// file.
bool has_palm_name(const PdbDatabase& database);
bool has_palm_codes(const PdbDatabase& database);
bool records_start_in_file(const PdbDatabase& database, std::uint64_t file_size);

// Whether a file's first bytes are a database of this application: its type
// and creator read "DATA" and "Umb?", whatever its name and the rest of its
// header. records is its record count, 0 when the bytes end before it.
bool is_own_database(std::span<const std::uint8_t> first_bytes, std::uint16_t& records);

// Reads record index into data (the caller's), at most max_size bytes of it.
// A record before its predecessor or cut short by the end of the file is
// reported by its number (from 1) and refused, as is a read error (failed).
int read_record(ByteStream& stream, const PdbDatabase& database, std::uint16_t index, std::size_t max_size,
                std::vector<std::uint8_t>& data);

void free_database(PdbDatabase& database);
