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

TEST(PdbWrite, EmptyDatabaseIs78BytesWithTheFixedIdentity) {
    PdbDatabase database = new_database();
    const Bytes file = written_by([&](ByteStream& s) { EXPECT_EQ(write_database(s, database), 0); });
    Bytes expected = {'U', 'm', 'b', 'r', 'a', 'l', 'i', 't', 'h', '?', 'D', 'B'};
    expected.resize(32, 0);
    be16(expected, 0x0008);
    expected.resize(60, 0);
    for (char c : std::string("DATAUmb?")) expected.push_back(static_cast<std::uint8_t>(c));
    expected.resize(78, 0);
    EXPECT_EQ(file, expected);
}

TEST(PdbWrite, TwoRecordsLayOutHeaderListGapAndData) {
    const Bytes first = filled(100, 1);
    const Bytes second = filled(50, 150);
    PdbDatabase database = new_database();
    ASSERT_EQ(add_record(database, first), 0);
    ASSERT_EQ(add_record(database, second), 0);
    const Bytes file = written_by([&](ByteStream& s) { write_database(s, database); });
    ASSERT_EQ(file.size(), 246u);
    EXPECT_EQ(file[76], 0);
    EXPECT_EQ(file[77], 2);
    EXPECT_EQ(Bytes(file.begin() + 78, file.begin() + 96),
              (Bytes{0, 0, 0, 96, 0, 0, 0, 0, 0, 0, 0, 196, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 96, file.begin() + 196), first);
    EXPECT_EQ(Bytes(file.begin() + 196, file.end()), second);
    EXPECT_EQ(database.records[1].localChunkID, 196u);
}

TEST(PdbRoundTrip, ReadingBackGivesEveryFieldOffsetAndRecord) {
    std::vector<Bytes> records;
    for (std::size_t size : {1u, 33u, 0u, 12832u, 7u}) records.push_back(filled(size, static_cast<std::uint8_t>(size)));
    PdbDatabase database = new_database();
    for (const Bytes& r : records) ASSERT_EQ(add_record(database, r), 0);
    const Bytes file = written_by([&](ByteStream& s) { write_database(s, database); });

    ReadBack r;
    read_back(file, r);
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console, "");
    EXPECT_EQ(r.database.name, database.name);
    EXPECT_EQ(r.database.attributes, 8);
    EXPECT_EQ(r.database.type, 0x44415441u);
    EXPECT_EQ(r.database.creator, 0x556D623Fu);
    ASSERT_EQ(r.database.numRecords, records.size());
    for (std::uint16_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(r.database.records[i].localChunkID, database.records[i].localChunkID);
        EXPECT_EQ(r.database.records[i].size, records[i].size());
        ByteBuffer data;
        ASSERT_EQ(read_record(r.stream, r.database, i, data), 0);
        EXPECT_EQ(Bytes(data.begin(), data.end()), records[i]);
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

TEST(PdbRead, BytesAppendedAfterWritingJoinTheLastRecord) {
    const Bytes record = filled(10, 0);
    PdbDatabase database = new_database();
    add_record(database, record);
    Bytes file = written_by([&](ByteStream& s) { write_database(s, database); });
    file.push_back(0xEE);
    ReadBack r;
    read_back(file, r);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.database.records[0].size, 11u);
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

TEST(PdbAdd, TableHoldsAtMost256Records) {
    const Bytes record = filled(3, 0);
    PdbDatabase database = new_database();
    for (std::size_t i = 0; i < MAX_RECORDS; ++i) ASSERT_EQ(add_record(database, record), 0);
    EXPECT_EQ(add_record(database, record), 1);
    EXPECT_EQ(database.numRecords, 256);
    EXPECT_EQ(database.records.size(), 256u);
    const Bytes file = written_by([&](ByteStream& s) { write_database(s, database); });
    EXPECT_EQ(file.size(), 80u + 8 * 256 + 3 * 256);
    EXPECT_EQ(get_be32(file, 78 + 8 * 255), 80u + 8 * 256 + 3 * 255);
}

TEST(PdbFile, WritesAndReadsThroughFilesBiggerThanTheBuffer) {
    const std::string path = testing::TempDir() + "tavo_pdb_disk_test.pdb";
    std::vector<Bytes> records;
    for (std::size_t i = 0; i < 12; ++i) records.push_back(filled(12832 - 1000 * i, static_cast<std::uint8_t>(i)));
    PdbDatabase database = new_database();
    for (const Bytes& r : records) add_record(database, r);
    ByteStream out;
    ASSERT_EQ(open_write(out, path), 0);
    write_database(out, database);
    ASSERT_EQ(close_stream(out), 0);

    ByteStream in;
    ASSERT_EQ(open_read(in, path), 0);
    PdbDatabase read;
    ASSERT_EQ(read_database(in, read), 0);
    ByteBuffer data;  // reused, as export does
    for (std::uint16_t i = 12; i-- > 0;) {  // backwards: every read seeks
        ASSERT_EQ(read_record(in, read, i, data), 0);
        EXPECT_EQ(Bytes(data.begin(), data.end()), records[i]) << i;
    }
    close_stream(in);
    std::remove(path.c_str());
}

}  // namespace
