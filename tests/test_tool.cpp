// The tool as the user meets it: the command line in process, then the built
// binary in a fresh folder per test, comparing its output, exit status and
// every byte it writes. TAVO_BINARY and TAVO_LAUNCHER (for instance wine) in
// the environment override the binary built beside the tests.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "cli/tavo.h"
#include "convert/record_to_bmp.h"
#include "formats/image_record.h"
#include "formats/pdb.h"
#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

TEST(CommandLine, ArgumentsPickModeAndPath) {
    struct Case { std::vector<const char*> args; bool import, usage; std::string path; };
    const Case cases[] = {
        {{}, false, false, "Umbralith_DB.PDB"},  {{"i"}, true, false, "Umbralith_DB.PDB"},
        {{"/i"}, true, false, "Umbralith_DB.PDB"}, {{"-i"}, true, false, "Umbralith_DB.PDB"},
        {{"/-i"}, true, false, "Umbralith_DB.PDB"}, {{"-/i"}, false, false, "/i"},
        {{"I"}, false, false, "I"},               {{"x.pdb", "i"}, true, false, "x.pdb"},
        {{"i", "x.pdb"}, true, false, "x.pdb"},   {{"a.pdb", "b.pdb"}, false, false, "b.pdb"},
        {{"/data/x.pdb"}, false, false, "data/x.pdb"}, {{"-pics.pdb"}, false, false, "pics.pdb"},
        {{""}, false, false, ""},                 {{"/"}, false, false, ""},
        {{"-"}, false, false, ""},                {{"i", "?"}, true, true, ""},
        {{"-?", "i"}, false, true, ""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"tavo"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Options options = parse_arguments(static_cast<int>(argv.size()), argv.data());
        std::string shown;
        for (const char* a : c.args) shown += std::string("[") + a + "] ";
        EXPECT_EQ(options.import, c.import) << shown;
        EXPECT_EQ(options.usage, c.usage) << shown;
        if (!c.usage) {
            EXPECT_EQ(options.database_path, c.path) << shown;
        }
    }
}

TEST(CommandLine, UsageTextIsVerbatim) {
    const char* argv[] = {"tavo", "i", "/?", "x.pdb"};
    int status = -1;
    const std::string out = console_of([&] { status = tavo_main(4, argv); });
    EXPECT_EQ(status, 0);
    const std::string lines_1_to_18 =
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
    ASSERT_EQ(out.substr(0, lines_1_to_18.size()), lines_1_to_18);
    const std::string credit = out.substr(lines_1_to_18.size());
    EXPECT_EQ(std::count(credit.begin(), credit.end(), '\n'), 1);
    EXPECT_NE(credit.find("README"), std::string::npos) << credit;
}

TEST(Replay, CrashersAndExamplesPassTheFuzzTarget) {
    std::size_t replayed = 0;
    for (const char* folder : {TAVO_SOURCE_DIR "/fuzz/crashers", TAVO_SOURCE_DIR "/examples"})
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const Bytes input(std::istreambuf_iterator<char>(in), {});
            console_of([&] { EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0) << entry.path(); });
            ++replayed;
        }
    EXPECT_GE(replayed, 9u);
}

// ---- The built tool ----

std::string env_or(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct ToolRun {
    int status = -1;
    std::string out;  // standard output with CRLF made LF
};

class Tool : public testing::Test {
protected:
    fs::path dir;
    bool under_wine = !env_or("TAVO_LAUNCHER", "").empty();

    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::path(testing::TempDir()) / "tavo_tool" / info->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }

    ToolRun tavo(const std::vector<std::string>& args) const {
        const fs::path out = dir.string() + ".out";
        std::string command = "cd " + quoted(dir.string()) + " && " + env_or("TAVO_LAUNCHER", "") + " " +
                              quoted(env_or("TAVO_BINARY", TAVO_DEFAULT_BINARY));
        for (const std::string& a : args) command += " " + quoted(a);
        const int raw = std::system((command + " > " + quoted(out.string()) + " 2>&1 < /dev/null").c_str());
        ToolRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        for (const std::uint8_t c : read_file(out))
            if (c != '\r') run.out += static_cast<char>(c);
        fs::remove(out);
        return run;
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    Bytes file(const std::string& name) const { return read_file(dir / name); }
    void put(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
};

// A database file of the given records, laid out by hand.
Bytes database_of(const std::vector<Bytes>& records) {
    Bytes b = {'U', 'm', 'b', 'r', 'a', 'l', 'i', 't', 'h', '?', 'D', 'B'};
    b.resize(32, 0);
    put_be(b, 0x00080000, 4);
    b.resize(60, 0);
    b.insert(b.end(), {'D', 'A', 'T', 'A', 'U', 'm', 'b', '?'});
    b.resize(76, 0);
    put_be(b, static_cast<std::uint32_t>(records.size()), 2);
    auto offset = static_cast<std::uint32_t>(80 + 8 * records.size());
    for (const Bytes& r : records) {
        put_be(b, std::uint64_t{offset} << 32, 8);  // the offset, then attributes and uniqueID 0
        offset += static_cast<std::uint32_t>(r.size());
    }
    if (!records.empty()) b.resize(b.size() + 2, 0);
    for (const Bytes& r : records) b.insert(b.end(), r.begin(), r.end());
    return b;
}

Bytes record_of(const std::string& name, int width, int height) {
    std::vector<GrayLevel> levels;
    for (int i = 0; i < width * height; ++i)
        levels.push_back(pattern_index(static_cast<std::size_t>(i % width), static_cast<std::size_t>(i / width)));
    std::vector<std::uint8_t> record;
    EXPECT_EQ(pack_image_record(name, width, height, levels, record), 0);
    return record;
}

Bytes bmp_of(int width, int height, const std::vector<std::uint8_t>& pixels,
             const std::array<std::uint8_t, 64>& palette = GRAY_PALETTE) {
    return written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); });
}

// The records of a database file, in table order.
std::vector<Bytes> records_in(const Bytes& file) {
    ByteStream stream;
    open_memory_read(stream, file);
    PdbDatabase database;
    std::vector<Bytes> records;
    EXPECT_EQ(read_database(stream, database), 0);
    for (std::uint16_t i = 0; i < database.numRecords; ++i) {
        std::vector<std::uint8_t> data;
        EXPECT_EQ(read_record(stream, database, i, MAX_RECORD_SIZE, data), 0);
        records.push_back(data);
    }
    return records;
}

TEST_F(Tool, ImportConvertsWhatItCanAndReportsTheRest) {
    std::array<std::uint8_t, 64> reversed = GRAY_PALETTE;  // entry i is gray 17 * i: index i takes level 15 - i
    std::reverse(reversed.begin(), reversed.end());
    const Bytes a = bmp_of(3, 2, {1, 2, 3, 4, 5, 6}, reversed);
    Bytes rle = a;
    rle[30] = 2;
    put("a.bmp", a);
    put("b.BMP", rle);
    put("CM.bmp", [&] { Bytes b = a; b[0] = 'C'; return b; }());
    put("wide.bmp", bmp_of(161, 1, std::vector<std::uint8_t>(161, 1)));
    put("skipped.bmpx", a);
    fs::create_directory(dir / "folder.bmp");
    fs::create_symlink("missing", dir / "dangling.bmp");
    const ToolRun run = tavo({"i"});
    EXPECT_EQ(run.status, 0);
    // The listing's order is the platform's; a folder cannot be opened on
    // Windows, so nothing completes its line there.
    for (const char* line : {"a.bmp .. OK\n", "b.BMP .. Error - compressed bitmaps not supported\n",
                             "CM.bmp .. Error while reading BMP header\n",
                             "wide.bmp .. Error - maximum bitmap size is 160x160.\n", "folder.bmp .. "})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
    EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
    if (!under_wine) {  // a link to nothing cannot be opened: only its name shows
        EXPECT_NE(run.out.find("dangling.bmp .. "), run.out.find("dangling.bmp .. Error")) << run.out;
    }
    EXPECT_TRUE(run.out.ends_with("Writing database file Umbralith_DB.PDB\nConversion complete\n")) << run.out;
    Bytes record = {2, 2, 'a'};
    record.resize(32, 0);
    record.insert(record.end(), {0xED, 0xBA, 0xC0, 0x90});
    EXPECT_EQ(file("Umbralith_DB.PDB"), database_of({record}));
}

TEST_F(Tool, ExportWritesGrayBmpsByteForByte) {
    Bytes cat = {2, 3, 'C', 'A', 'T'};
    cat.resize(32, 0);
    cat.insert(cat.end(), {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB});  // columns: x 0-1, then x 2-3
    fs::create_directory(dir / "DOG.bmp");
    put("x.pdb", database_of({cat, record_of("DOG", 2, 1)}));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Reading database file x.pdb\nWriting file CAT.bmp\nCannot write file DOG.bmp\nConversion complete\n");
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

TEST_F(Tool, ExportThenImportGivesTheSameRecords) {
    // Pixel bytes 0x0A, 0x0D and 0x1A must pass both ways untranslated.
    std::vector<Bytes> records = {record_of("ctl", 4, 3)};
    std::copy_n(Bytes{0x0A, 0x0D, 0x1A, 0x0A, 0x0D, 0x1A}.begin(), 6, records[0].begin() + 32);
    for (int w : {2, 6, 16, 160}) records.push_back(record_of("r" + std::to_string(w), w, w));
    put("a.pdb", database_of(records));
    ASSERT_EQ(tavo({"a.pdb"}).status, 0);
    fs::remove(dir / "a.pdb");
    ASSERT_EQ(tavo({"i", "b.pdb"}).status, 0);
    const auto back = records_in(file("b.pdb"));
    EXPECT_EQ(std::multiset<Bytes>(back.begin(), back.end()), std::multiset<Bytes>(records.begin(), records.end()));
}

TEST_F(Tool, RecordNamesCannotEscapeTheFolder) {
    struct Case { std::string record, written; };
    const Case cases[] = {
        {"../up", ".._up.bmp"}, {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j.bmp"}, {"tab\there", "tab_here.bmp"},
        {"nul.txt", "_nul.txt.bmp"}, {"LPT1 .x", "_LPT1 .x.bmp"}, {"COM10", "COM10.bmp"},
    };
    std::vector<Bytes> records;
    std::string expected_out = "Reading database file x.pdb\n";
    std::vector<std::string> expected_files = {"x.pdb"};
    for (const Case& c : cases) {
        records.push_back(record_of(c.record, 2, 1));
        expected_out += "Writing file " + c.written + "\n";
        expected_files.push_back(c.written);
    }
    put("x.pdb", database_of(records));
    EXPECT_EQ(tavo({"x.pdb"}).out, expected_out + "Conversion complete\n");
    std::sort(expected_files.begin(), expected_files.end());
    EXPECT_EQ(files(), expected_files);
}

TEST_F(Tool, The257thPictureIsRefusedNotLost) {
    for (int i = 0; i < 257; ++i) put("p" + std::to_string(i) + ".bmp", bmp_of(2, 1, {1, 2}));
    const ToolRun run = tavo({"i", "db.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 259);
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = run.out.find(text, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_EQ(count(".bmp .. OK\n"), 256u);
    EXPECT_EQ(count(".bmp .. Error - the database is full, it holds at most 256 pictures\n"), 1u);
    EXPECT_EQ(records_in(file("db.pdb")).size(), 256u);
}

TEST_F(Tool, DatabasesThatCannotBeReadFailAndDamagedRecordsAreSkipped) {
    Bytes short_list = database_of({});
    short_list[77] = 3;
    short_list.resize(90, 0);
    put("short.pdb", short_list);
    fs::create_directory(dir / "folder.pdb");
    const std::pair<const char*, const char*> unreadable[] = {
        {"short.pdb", "Reading database file short.pdb\nError - the database file ends inside its list of 3 records\n"},
        {"folder.pdb", under_wine ? "Error while opening folder.pdb\n"
                                  : "Reading database file folder.pdb\nError - the database file cannot be read\n"},
    };
    for (const auto& [name, out] : unreadable) {
        const ToolRun run = tavo({name});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, out);
    }
    Bytes claims_more = {4, 9, 'B'};  // an 8 x 9 picture in 40 bytes
    claims_more.resize(40, 0);
    Bytes no_rows = record_of("C", 2, 1);
    no_rows[1] = 0;
    put("x.pdb", database_of({record_of("A", 2, 1), claims_more, Bytes(10, 0), no_rows, record_of("D", 2, 1)}));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Reading database file x.pdb\nWriting file A.bmp\n"
                       "Error - record 2 is shorter than its 8x9 picture\n"
                       "Error - record 3 is shorter than a picture header (10 of 32 bytes)\n"
                       "Error - record 4 holds a 2x0 picture, which has no pixels\n"
                       "Writing file D.bmp\nConversion complete\n");
}

TEST_F(Tool, AllOf65535RecordsAreVisited) {
    std::vector<Bytes> records(65535);
    records.back() = record_of("last", 2, 1);
    put("x.pdb", database_of(records));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.ends_with("Error - record 65534 is shorter than a picture header (0 of 32 bytes)\n"
                                  "Writing file last.bmp\nConversion complete\n"));
}

TEST_F(Tool, ImportIntoAFullDeviceFails) {
    if (under_wine || !fs::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
    for (int i = 0; i < 6; ++i) put("p" + std::to_string(i) + ".bmp", bmp_of(160, 160, std::vector<std::uint8_t>(160 * 160, 3)));
    const ToolRun run = tavo({"i", "//dev/full"});  // more than one buffer of records: a flush fails before the close
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.ends_with("Writing database file /dev/full\nError while writing /dev/full\n")) << run.out;
}

}  // namespace
