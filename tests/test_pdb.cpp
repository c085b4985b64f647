#include <string>

#include "formats/pdb.h"
#include "test_support.h"

namespace {

Bytes filled(std::size_t size, std::uint8_t first) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

struct ReadBack {
    int status = -1;
    std::string console;
    PdbDatabase database;
    ByteStream stream;
};

void read_back(const Bytes& file, ReadBack& r) {
    open_memory_read(r.stream, file);
    r.console = console_of([&] { r.status = read_database(r.stream, r.database); });
}

// A database file with the given record offsets and total length, built by hand.
Bytes raw_database(const std::vector<std::uint32_t>& offsets, std::size_t length) {
    Bytes b(76, 0);
    be16(b, static_cast<std::uint32_t>(offsets.size()));
    for (std::uint32_t offset : offsets) {
        be32(b, offset);
        be32(b, 0);
    }
    for (std::size_t i = b.size(); i < length; ++i) b.push_back(static_cast<std::uint8_t>(i));
    return b;
}

TEST(PdbRoundTrip, RecordsAreLaidOutAfterListAndGapAndReadBack) {
    const std::vector<Bytes> records = {filled(100, 1), {}, filled(50, 150)};
    PdbDatabase database = new_database();
    for (const Bytes& r : records) ASSERT_EQ(add_record(database, r), 0);
    const Bytes file = written_by([&](ByteStream& s) { EXPECT_EQ(write_database(s, database), 0); });
    ASSERT_EQ(file.size(), 254u);
    EXPECT_EQ(Bytes(file.begin() + 76, file.begin() + 104),
              (Bytes{0, 3, 0, 0, 0, 104, 0, 0, 0, 0, 0, 0, 0, 204, 0, 0, 0, 0, 0, 0, 0, 204, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 104, file.begin() + 204), records[0]);
    EXPECT_EQ(Bytes(file.begin() + 204, file.end()), records[2]);

    ReadBack r;
    read_back(file, r);
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.database.name, database.name);
    EXPECT_EQ(r.database.creator, 0x556D623Fu);
    ASSERT_EQ(r.database.numRecords, records.size());
    ByteBuffer data;  // reused, as export does
    for (std::uint16_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(read_record(r.stream, r.database, i, data), 0);
        EXPECT_EQ(Bytes(data.begin(), data.end()), records[i]) << i;
    }
}

TEST(PdbRead, OtherDatabasesAndTheirFieldsAreKept) {
    Bytes file;
    for (char c : std::string("Other")) file.push_back(static_cast<std::uint8_t>(c));
    file.resize(32, 0);
    be16(file, 0x1234);
    be16(file, 0x0102);
    for (std::uint32_t v = 1; v <= 10; ++v) be32(file, v * 0x01010101u);
    be16(file, 1);
    be32(file, 88);
    file.insert(file.end(), {0x40, 0xAA, 0xBB, 0xCC, 0, 0});
    file.insert(file.end(), {9, 8, 7});

    ReadBack r;
    read_back(file, r);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.database.attributes, 0x1234);
    EXPECT_EQ(r.database.version, 0x0102);
    EXPECT_EQ(r.database.creationDate, 0x01010101u);
    EXPECT_EQ(r.database.nextRecordListID, 0x0A0A0A0Au);
    EXPECT_EQ(r.database.records[0].attributes, 0x40);
    EXPECT_EQ(r.database.records[0].uniqueID, (std::array<std::uint8_t, 3>{0xAA, 0xBB, 0xCC}));
    ByteBuffer data;
    ASSERT_EQ(read_record(r.stream, r.database, 0, data), 0);
    EXPECT_EQ(data, (ByteBuffer{9, 8, 7}));
}

TEST(PdbRead, FileShorterThanHeaderOrListIsRefused) {
    const Bytes file = raw_database({96, 196}, 246);
    for (std::size_t length = 0; length < 94; ++length) {
        ReadBack r;
        read_back(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), r);
        EXPECT_EQ(r.status, 1) << length;
        EXPECT_EQ(r.console, length < 78 ? "Error - the file is shorter than a database header (78 bytes)\n"
                                         : "Error - the database file ends inside its list of 2 records\n")
            << length;
    }
    Bytes huge = raw_database({}, 78);
    huge[76] = 0xFF;
    huge[77] = 0xFF;
    ReadBack r;
    read_back(huge, r);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.database.records.empty());
}

TEST(PdbRead, DamagedRecordsAreNamedAndSkipped) {
    struct Case { const char* what; std::vector<std::uint32_t> offsets; std::size_t length; std::vector<std::string> lines; };
    const std::vector<Case> cases = {
        {"all fine", {100, 110, 120}, 130, {"", "", ""}},
        {"last beyond the end", {100, 110, 5000}, 130,
         {"", "Error - record 2 runs past the end of the database file\n",
          "Error - record 3 starts past the end of the database file\n"}},
        {"descending", {100, 120, 110}, 130, {"", "Error - record 2 starts after the record that follows it\n", ""}},
        {"far offset", {0xFFFFFFFF, 100}, 130,
         {"Error - record 1 starts past the end of the database file\n", ""}},
        {"last at the very end", {100, 130}, 130, {"", ""}},
    };
    for (const Case& c : cases) {
        ReadBack r;
        read_back(raw_database(c.offsets, c.length), r);
        ASSERT_EQ(r.status, 0) << c.what;
        for (std::uint16_t i = 0; i < c.offsets.size(); ++i) {
            ByteBuffer data{1};
            int status = -1;
            const std::string console = console_of([&] { status = read_record(r.stream, r.database, i, data); });
            EXPECT_EQ(console, c.lines[i]) << c.what << " record " << i;
            EXPECT_EQ(status, c.lines[i].empty() ? 0 : 1) << c.what << " record " << i;
            if (status == 0) {
                EXPECT_EQ(data.size(), r.database.records[i].size);
            } else {
                EXPECT_TRUE(data.empty());
                EXPECT_EQ(r.database.records[i].size, 0u);
            }
        }
    }
}

}  // namespace
