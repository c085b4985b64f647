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
#include "formats/pdb.h"
#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

TEST(CommandLine, ArgumentsPickModeAndPath) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{}, "export Umbralith_DB.PDB"}, {{"i"}, "import Umbralith_DB.PDB"}, {{"/i"}, "import Umbralith_DB.PDB"},
        {{"-i"}, "import Umbralith_DB.PDB"}, {{"/-i"}, "import Umbralith_DB.PDB"}, {{"-/i"}, "export /i"},
        {{"I"}, "export I"}, {{"x.pdb", "i"}, "import x.pdb"}, {{"i", "x.pdb"}, "import x.pdb"},
        {{"a.pdb", "b.pdb"}, "export b.pdb"}, {{"/data/x.pdb"}, "export data/x.pdb"}, {{"-pics.pdb"}, "export pics.pdb"},
        {{""}, "export "}, {{"/"}, "export "}, {{"-"}, "export "}, {{"i", "?"}, "usage"}, {{"-?", "i"}, "usage"},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<const char*> argv = {"tavo"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Options o = parse_arguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(o.usage ? "usage" : (o.import ? "import " : "export ") + o.database_path, expected) << argv.back();
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

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct ToolRun {
    int status = -1;
    std::string out;  // standard output, CRLF made LF
};

// Runs the tool in a folder of its own per test.
class Tool : public testing::Test {
protected:
    fs::path dir = fs::path(testing::TempDir()) / "tavo_tool" / testing::UnitTest::GetInstance()->current_test_info()->name();
    bool under_wine = !env_or("TAVO_LAUNCHER", "").empty();

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }
    ToolRun tavo(const std::vector<std::string>& args) const {
        std::string command = "cd " + quoted(dir.string()) + " && " + env_or("TAVO_LAUNCHER", "") + " " +
                              quoted(env_or("TAVO_BINARY", TAVO_DEFAULT_BINARY));
        for (const std::string& a : args) command += " " + quoted(a);
        std::FILE* pipe = popen((command + " 2>&1 < /dev/null").c_str(), "r");
        ToolRun run;
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            if (c != '\r') run.out += static_cast<char>(c);
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return run;
    }
    Bytes file(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void put(const std::string& name, const Bytes& bytes) const {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
};

Bytes record_of(const std::string& name, int width, int height) {
    std::vector<std::uint8_t> record;
    EXPECT_EQ(pack_image_record(name, width, height, pattern(width, height), IDENTITY_LEVELS, record), 0);
    return record;
}

Bytes bmp_of(int width, int height, const Bytes& pixels, const std::array<std::uint8_t, 64>& palette = GRAY_PALETTE) {
    return written_by([&](ByteStream& s) { write_bmp(s, width, height, palette, pixels); });
}

// The records of a database file, in table order.
std::vector<Bytes> records_in(const Bytes& file) {
    ByteStream stream;
    open_memory(stream, file);
    PdbDatabase database;
    EXPECT_EQ(read_database(stream, database), 0);
    std::vector<Bytes> records(database.numRecords);
    for (std::uint16_t i = 0; i < database.numRecords; ++i)
        EXPECT_EQ(read_record(stream, database, i, MAX_RECORD_SIZE, records[i]), 0);
    return records;
}

TEST_F(Tool, ImportConvertsWhatItCanAndReportsTheRest) {
    std::array<std::uint8_t, 64> reversed = GRAY_PALETTE;  // entry i is gray 17 * i: index i takes level 15 - i
    std::reverse(reversed.begin(), reversed.end());
    const Bytes a = bmp_of(3, 2, {1, 2, 3, 4, 5, 6}, reversed);
    const std::string long_name(33, 'a');  // the record keeps 29 characters
    put(long_name + ".bmp", a);
    put("b.BMP", [&] { Bytes b = a; b[30] = 2; return b; }());
    put("CM.bmp", [&] { Bytes b = a; b[0] = 'C'; return b; }());
    put("wide.bmp", bmp_of(161, 1, Bytes(161, 1)));
    put("skipped.bmpx", a);
    fs::create_directory(dir / "folder.bmp");
    fs::create_symlink("missing", dir / "dangling.bmp");
    const ToolRun run = tavo({"i"});
    EXPECT_EQ(run.status, 0);
    // The listing's order is the platform's. A folder cannot be opened on
    // Windows, nor a link to nothing anywhere: only their names show.
    for (const std::string& line :
         {long_name + ".bmp .. OK\n", std::string("b.BMP .. Error - compressed bitmaps not supported\n"),
          std::string("CM.bmp .. Error while reading BMP header\n"),
          std::string("wide.bmp .. Error - maximum bitmap size is 160x160.\n"), std::string("folder.bmp .. ")})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
    EXPECT_EQ(run.out.find("skipped"), std::string::npos) << run.out;
    const std::size_t dangling = run.out.find("dangling.bmp .. ");  // Wine does not list it
    EXPECT_TRUE(under_wine || (dangling != std::string::npos && run.out[dangling + 16] != 'E')) << run.out;
    EXPECT_TRUE(run.out.ends_with("Writing database file Umbralith_DB.PDB\nConversion complete\n")) << run.out;
    Bytes record = {2, 2};
    record.resize(31, 'a');
    record.push_back(0);
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
    for (int i = 0; i < 64; ++i) expected.push_back(i % 4 == 3 ? 0 : static_cast<std::uint8_t>(255 - 17 * (i / 4)));
    // rows bottom first: row 2 = 0x45 0xAB, row 1 = 0x23 0x89, row 0 = 0x01 0x67
    expected.insert(expected.end(), {0x45, 0xAB, 0, 0, 0x23, 0x89, 0, 0, 0x01, 0x67, 0, 0});
    EXPECT_EQ(file("CAT.bmp"), expected);
}

TEST_F(Tool, ExportThenImportGivesTheSameRecords) {
    std::vector<Bytes> records = {record_of("ctl", 4, 3)};  // bytes 0x0A, 0x0D and 0x1A pass untranslated
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
    const std::pair<std::string, std::string> cases[] = {
        {"../up", ".._up.bmp"}, {"a/b\\c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j.bmp"}, {"tab\there", "tab_here.bmp"},
        {"nul.txt", "_nul.txt.bmp"}, {"LPT1 .x", "_LPT1 .x.bmp"}, {"com9", "_com9.bmp"}, {"COM10", "COM10.bmp"},
        {"", std::string(29, 'q') + ".bmp"},  // a name field without a terminator
    };
    std::vector<Bytes> records;
    std::string expected = "Reading database file x.pdb\n";
    for (const auto& [record, written] : cases) {
        records.push_back(record_of(record, 2, 1));
        expected += "Writing file " + written + "\n";
    }
    std::fill(records.back().begin() + 2, records.back().begin() + 32, 'q');
    put("x.pdb", database_of(records));
    EXPECT_EQ(tavo({"x.pdb"}).out, expected + "Conversion complete\n");
    for (const auto& [record, written] : cases) EXPECT_TRUE(fs::is_regular_file(dir / written)) << written;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), std::size(cases) + 1);
}

TEST_F(Tool, The257thPictureIsRefusedNotLost) {
    for (int i = 0; i < 257; ++i) put("p" + std::to_string(i) + ".bmp", bmp_of(2, 1, {1, 2}));
    const ToolRun run = tavo({"i", "db.pdb"});
    EXPECT_EQ(run.status, 0);
    std::vector<std::size_t> outcomes(2);  // converted, refused
    for (std::size_t at = 0; (at = run.out.find(".bmp .. ", at)) != std::string::npos; ++at)
        ++outcomes[run.out.compare(at + 8, 3, "OK\n") == 0 ? 0 : 1];
    EXPECT_EQ(outcomes, (std::vector<std::size_t>{256, 1}));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 259);
    EXPECT_NE(run.out.find(".bmp .. Error - the database is full, it holds at most 256 pictures\n"), std::string::npos);
    EXPECT_EQ(file("db.pdb").size(), 80 + 256 * (8 + 33));
}

TEST_F(Tool, DatabasesThatCannotBeReadOrWrittenFail) {
    Bytes short_list = database_of({});
    short_list[77] = 3;
    short_list.resize(90, 0);
    put("short.pdb", short_list);
    put("tiny.pdb", Bytes(77, 0));
    fs::create_directory(dir / "folder.pdb");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"tiny.pdb"}, "Reading database file tiny.pdb\nError - the file is shorter than a database header (78 bytes)\n"},
        {{"short.pdb"}, "Reading database file short.pdb\nError - the database file ends inside its list of 3 records\n"},
        {{"folder.pdb"}, under_wine ? "Error while opening folder.pdb\n"
                                    : "Reading database file folder.pdb\nError - the database file cannot be read\n"},
        {{"missing.pdb"}, "Error while opening missing.pdb\n"},
        {{"i", "no/such/folder.pdb"}, ""},
    };
    for (const auto& [args, out] : cases) {
        const ToolRun run = tavo(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.out, out);
    }
    if (under_wine || !fs::exists("/dev/full")) return;
    for (int i = 0; i < 6; ++i) put("p" + std::to_string(i) + ".bmp", bmp_of(160, 160, Bytes(160 * 160, 3)));
    const ToolRun run = tavo({"i", "//dev/full"});  // more than a buffer of records: a flush fails before the close
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.ends_with("Writing database file /dev/full\nError while writing /dev/full\n")) << run.out;
}

TEST_F(Tool, DamagedRecordsAreSkippedToTheLastOf65535) {
    Bytes claims_more = {4, 9, 'B'};  // an 8 x 9 picture in 40 bytes
    claims_more.resize(40, 0);
    Bytes no_rows = record_of("C", 2, 1);
    no_rows[1] = 0;
    Bytes no_columns = record_of("D", 2, 1);
    no_columns[0] = 0;
    std::vector<Bytes> records = {record_of("A", 2, 1), claims_more, Bytes(10, 0), no_rows, no_columns};
    records.resize(65535);  // empty records
    records.back() = record_of("Z", 2, 1);
    put("x.pdb", database_of(records));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("Reading database file x.pdb\nWriting file A.bmp\n"
                                      "Error - record 2 is shorter than its 8x9 picture\n"
                                      "Error - record 3 is shorter than a picture header (10 of 32 bytes)\n"
                                      "Error - record 4 holds a 2x0 picture, which has no pixels\n"
                                      "Error - record 5 holds a 0x1 picture, which has no pixels\n"
                                      "Error - record 6 is shorter than a picture header (0 of 32 bytes)\n"))
        << run.out.substr(0, 300);
    EXPECT_TRUE(run.out.ends_with("Error - record 65534 is shorter than a picture header (0 of 32 bytes)\n"
                                  "Writing file Z.bmp\nConversion complete\n"));
}

}  // namespace
