// The tool end to end: console text, exit status and the bytes of every file.
#include <algorithm>
#include <set>

#include "convert/record_to_bmp.h"
#include "e2e_support.h"
#include "formats/bmp4.h"
#include "formats/image_record.h"
#include "formats/pdb.h"

namespace {

constexpr char USAGE_LINES_1_TO_18[] =
    "TAVO.exe is Umbralith 2.x import/export utility.\n"
    "Usage: tavo.exe [i] [path]\n"
    "[path] - Path to source database when exporting.\n"
    "         Path to target database when importing (will be overwritten).\n"
    "         The default value Umbralith_DB.pdb is used when omitted.\n"
    "[i] - use import instead of export. Omit when you want to export\n\n"
    "Export - all images stored in given database are converted to 16 levels \n"
    "grayscale images in standart uncompressed Windows BMP format. Files are\n"
    "written in the current directory.\n\n"
    "Import - all Windows BMP files in the current directory will be converted\n"
    "and written into new database with given name. The database filename doesn't\n"
    "have to be Umbralith_DB.pdb, however the database name will always be\n"
    "Umbralith?DB when installed in Palm.\n"
    "It means that old database on Palm will be always overwritten !\n"
    "Only uncompressed 16 color bitmaps are converted. Pallete is converted \n"
    "only by brightness. The brightest color will be the white on Palm and \n"
    "the darkest color will be the black on Palm\n\n"
    "TAVO 1.1 (Aug 29,2002)\n";

// The 78-byte header of a database this tool writes, with n records.
Bytes database_header(std::size_t n) {
    Bytes b = {'U', 'm', 'b', 'r', 'a', 'l', 'i', 't', 'h', '?', 'D', 'B'};
    b.resize(32, 0);
    be16(b, 8);
    b.resize(60, 0);
    b.insert(b.end(), {'D', 'A', 'T', 'A', 'U', 'm', 'b', '?'});
    b.resize(76, 0);
    be16(b, static_cast<std::uint32_t>(n));
    return b;
}

Bytes database_of(const std::vector<Bytes>& records) {
    Bytes b = database_header(records.size());
    std::uint32_t offset = static_cast<std::uint32_t>(80 + 8 * records.size());
    for (const Bytes& r : records) {
        be32(b, offset);
        be32(b, 0);
        offset += static_cast<std::uint32_t>(r.size());
    }
    if (!records.empty()) be16(b, 0);
    for (const Bytes& r : records) b.insert(b.end(), r.begin(), r.end());
    return b;
}

Bytes record_of(const std::string& name, int width, int height, const std::vector<GrayLevel>& levels) {
    ByteBuffer record;
    EXPECT_EQ(pack_image_record(name, width, height, levels, record), 0);
    return Bytes(record.begin(), record.end());
}

std::vector<GrayLevel> pattern(int width, int height) {
    std::vector<GrayLevel> p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.push_back(pattern_index(static_cast<std::size_t>(x), static_cast<std::size_t>(y)));
    return p;
}

Bytes bmp_of(int width, int height, const std::vector<std::uint8_t>& pixels,
             const std::array<std::uint8_t, 64>& palette = GRAY_PALETTE) {
    return written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); });
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The records of a database file, in table order.
std::vector<Bytes> records_in(const Bytes& file) {
    ByteStream stream;
    open_memory_read(stream, file);
    PdbDatabase database;
    std::vector<Bytes> records;
    if (read_database(stream, database) != 0) return records;
    for (std::uint16_t i = 0; i < database.numRecords; ++i) {
        ByteBuffer data;
        read_record(stream, database, i, data);
        records.emplace_back(data.begin(), data.end());
    }
    return records;
}

using Cli = TavoTest;

TEST_F(Cli, ImportConvertsWhatItCanAndReportsTheRest) {
    const Bytes a = bmp_of(3, 2, {1, 2, 3, 4, 5, 6});
    Bytes rle = a;
    rle[30] = 2;
    put("a.bmp", a);
    put("b.BMP", rle);
    put("wide.bmp", bmp_of(161, 1, std::vector<std::uint8_t>(161, 1)));
    put("skipped.bmpx", a);
    fs::create_directory(dir / "folder.bmp");
    const ToolRun run = tavo({"i"});
    EXPECT_EQ(run.status, 0);
    // The listing's order is the platform's; a folder cannot be opened on
    // Windows, so nothing completes its line there.
    for (const char* line : {"a.bmp .. OK\n", "b.BMP .. Error - compressed bitmaps not supported\n",
                             "wide.bmp .. Error - maximum bitmap size is 160x160.\n", "folder.bmp .. "})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
    EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("\nWriting database file Umbralith_DB.PDB\nConversion complete\n")) << run.out;
    Bytes record = {2, 2, 'a'};
    record.resize(32, 0);
    record.insert(record.end(), {0x12, 0x45, 0x30, 0x60});
    EXPECT_EQ(file("Umbralith_DB.PDB"), database_of({record}));
}

TEST_F(Cli, ArgumentsPickModeAndPath) {
    const std::string usage_start = "TAVO.exe is Umbralith";
    struct Case { std::vector<std::string> args; std::string out; int status; std::string created; };
    const auto imported = [](const std::string& path) {
        return "Writing database file " + path + "\nConversion complete\n";
    };
    const auto missing = [](const std::string& path) { return "Error while opening " + path + "\n"; };
    const std::vector<Case> cases = {
        {{}, missing("Umbralith_DB.PDB"), 1, ""},
        {{"/-i"}, imported("Umbralith_DB.PDB"), 0, "Umbralith_DB.PDB"},
        {{"-/i"}, missing("/i"), 1, ""},
        {{"I"}, missing("I"), 1, ""},
        {{"x.pdb", "i"}, imported("x.pdb"), 0, "x.pdb"},
        {{"a.pdb", "b.pdb"}, missing("b.pdb"), 1, ""},
        {{"/data/x.pdb"}, missing("data/x.pdb"), 1, ""},
        {{"-"}, missing(""), 1, ""},
        {{"i", "no/such/folder.pdb"}, "", 1, ""},
        {{"i", "?"}, usage_start, 0, ""},
        {{"-?", "x.pdb"}, usage_start, 0, ""},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "] ";
        const ToolRun run = tavo(c.args);
        EXPECT_EQ(run.status, c.status) << shown;
        EXPECT_EQ(c.out == usage_start ? run.out.substr(0, usage_start.size()) : run.out, c.out) << shown;
        EXPECT_EQ(files(), c.created.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.created})
            << shown;
        if (!c.created.empty()) {
            EXPECT_EQ(file(c.created), database_of({})) << shown;
        }
    }
}

TEST_F(Cli, UsageTextIsVerbatim) {
    const ToolRun run = tavo({"?"});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.out.rfind(USAGE_LINES_1_TO_18, 0), 0u) << run.out;
    const std::string credit = run.out.substr(sizeof USAGE_LINES_1_TO_18 - 1);
    EXPECT_EQ(std::count(credit.begin(), credit.end(), '\n'), 1);
    EXPECT_NE(credit.find("README"), std::string::npos) << credit;
}

TEST_F(Cli, ExportWritesGrayBmpsByteForByte) {
    Bytes cat = {2, 3, 'C', 'A', 'T'};
    cat.resize(32, 0);
    cat.insert(cat.end(), {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB});  // columns: x 0-1, then x 2-3
    put("x.pdb", database_of({cat}));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Reading database file x.pdb\nWriting file CAT.bmp\nConversion complete\n");
    Bytes expected = {'B', 'M', 130, 0, 0, 0, 0, 0, 0, 0, 118, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0,
                      1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x0B, 0, 0, 0x12, 0x0B, 0, 0};
    expected.resize(54, 0);
    for (int i = 0; i < 16; ++i) {
        const auto g = static_cast<std::uint8_t>(255 - 17 * i);
        expected.insert(expected.end(), {g, g, g, 0});
    }
    // rows bottom first: row 2 = 0x45 0xAB, row 1 = 0x23 0x89, row 0 = 0x01 0x67
    expected.insert(expected.end(), {0x45, 0xAB, 0, 0, 0x23, 0x89, 0, 0, 0x01, 0x67, 0, 0});
    EXPECT_EQ(file("CAT.bmp"), expected);
}

TEST_F(Cli, ExportThenImportGivesTheSameRecords) {
    // Pixel bytes 0x0A, 0x0D and 0x1A must pass both ways untranslated.
    std::vector<Bytes> records = {record_of("ctl", 4, 3, {0, 10, 0, 13, 1, 10, 1, 10, 0, 13, 1, 10})};
    for (int w : {2, 6, 16, 160}) records.push_back(record_of("r" + std::to_string(w), w, w, pattern(w, w)));
    put("a.pdb", database_of(records));
    ASSERT_EQ(tavo({"a.pdb"}).status, 0);
    fs::remove(dir / "a.pdb");
    ASSERT_EQ(tavo({"i", "b.pdb"}).status, 0);
    const auto back = records_in(file("b.pdb"));
    EXPECT_EQ(std::multiset<Bytes>(back.begin(), back.end()), std::multiset<Bytes>(records.begin(), records.end()));
}

TEST_F(Cli, RecordNamesCannotEscapeTheFolder) {
    struct Case { std::string record; std::string written; };
    const std::vector<Case> cases = {
        {"../up", ".._up.bmp"},  {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j.bmp"},
        {"tab\there", "tab_here.bmp"}, {"nul.txt", "_nul.txt.bmp"}, {"LPT1 .x", "_LPT1 .x.bmp"},
        {"COM10", "COM10.bmp"},
    };
    std::vector<Bytes> records;
    std::string expected_out = "Reading database file x.pdb\n";
    std::vector<std::string> expected_files = {"x.pdb"};
    for (const Case& c : cases) {
        records.push_back(record_of(c.record, 2, 1, {1, 2}));
        expected_out += "Writing file " + c.written + "\n";
        expected_files.push_back(c.written);
    }
    put("x.pdb", database_of(records));
    EXPECT_EQ(tavo({"x.pdb"}).out, expected_out + "Conversion complete\n");
    std::sort(expected_files.begin(), expected_files.end());
    EXPECT_EQ(files(), expected_files);
}

TEST_F(Cli, The257thPictureIsRefusedNotLost) {
    const Bytes picture = bmp_of(2, 1, {1, 2});
    for (int i = 0; i < 257; ++i) put("p" + std::to_string(i) + ".bmp", picture);
    const ToolRun run = tavo({"i", "db.pdb"});
    EXPECT_EQ(run.status, 0);
    const auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 259u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.ends_with(".bmp .. OK"); }), 256);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
                  return l.ends_with(".bmp .. Error - the database is full, it holds at most 256 pictures");
              }), 1);
    EXPECT_EQ(records_in(file("db.pdb")).size(), 256u);
}

TEST_F(Cli, DamagedDatabasesFailAndDamagedRecordsAreSkipped) {
    Bytes short_list = database_header(3);
    short_list.resize(90, 0);
    put("short.pdb", short_list);
    ToolRun run = tavo({"short.pdb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Reading database file short.pdb\nError - the database file ends inside its list of 3 records\n");

    Bytes claims_more = {4, 9, 'B'};  // a 8 x 9 picture in 40 bytes
    claims_more.resize(40, 0);
    put("x.pdb", database_of({record_of("A", 2, 1, {1, 2}), claims_more, Bytes(10, 0), record_of("D", 2, 1, {3, 4})}));
    run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "Reading database file x.pdb\nWriting file A.bmp\n"
              "Error - record 2 is shorter than its 8x9 picture\n"
              "Error - record 3 is shorter than a picture header (10 of 32 bytes)\n"
              "Writing file D.bmp\nConversion complete\n");
}

}  // namespace
