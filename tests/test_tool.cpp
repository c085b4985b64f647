// tavo as the user meets it: the command line in process, then the built
// binary in a fresh folder per test (tool_fixture.h).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <tuple>

#include "cli/tavo.h"
#include "convert/names.h"
#include "formats/pdb.h"
#include "tool_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::string export_name(std::string_view record_name) { return numbered_file_name(file_stem_of_record(record_name), 1); }

TEST(CommandLine, ArgumentsPickModeAndPath) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{}, "export default"}, {{"i"}, "import default"}, {{"/i"}, "import default"},
        {{"-i"}, "import default"}, {{"/-i"}, "import default"}, {{"-/i"}, "export /i"},
        {{"I"}, "export I"}, {{"x.pdb", "i"}, "import x.pdb"}, {{"i", "x.pdb"}, "import x.pdb"},
        {{"a.pdb", "b.pdb"}, "export b.pdb"}, {{"-pics.pdb"}, "export pics.pdb"}, {{""}, "export "}, {{"/"}, "export "},
        {{"-"}, "export "}, {{"/-"}, "export "}, {{"i", "?"}, "usage"}, {{"-?", "i"}, "usage"}, {{"/-?"}, "usage"},
        {{"-h"}, "usage"}, {{"i", "--help", "x.pdb"}, "usage"}, {{"-help"}, "export help"},
        {{"/data/x.pdb"}, SLASH_BEGINS_PATHS ? "export /data/x.pdb" : "export data/x.pdb"},
        {{"i", "/-i.pdb"}, SLASH_BEGINS_PATHS ? "import /-i.pdb" : "import i.pdb"},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<const char*> argv = {"tavo"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Options o = parse_arguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(o.usage ? "usage" : (o.import ? "import " : "export ") + o.database_path.value_or("default"), expected)
            << argv.back();
    }
}

// Record names are Windows-1252; file names and the console are UTF-8.
TEST(Names, CrossBetweenWindows1252AndUtf8) {
    std::string bytes_80_to_9f;
    for (int c = 0x80; c < 0xA0; ++c) bytes_80_to_9f += static_cast<char>(c);
    EXPECT_EQ(export_name(bytes_80_to_9f), "€_‚ƒ„…†‡ˆ‰Š‹Œ_Ž__‘’“”•–—˜™š›œ_žŸ.bmp");
    EXPECT_EQ(export_name("Caf\xE9 \xA0\xFF"), "Café \u00A0ÿ.bmp");
    EXPECT_EQ(export_name("lpt\xB3"), "_lpt³.bmp");
    for (const std::string device : {"aux", "Prn", "CON.x"}) EXPECT_EQ(export_name(device), "_" + device + ".bmp");
    for (int c = 0x20; c < 0x100; ++c) {  // every character a file name can hold comes back
        const std::string name = "a" + std::string(1, static_cast<char>(c));
        const bool lost = std::string_view("/\\:*?\"<>|\x7F\x81\x8D\x8F\x90\x9D").find(name[1]) != std::string_view::npos;
        EXPECT_EQ(lost ? name : record_name_of(export_name(name)), name) << c;
    }
    const std::pair<std::string, std::string> imports[] = {  // file name, record name
        {"\xE9t\xE9.bmp", "\xE9t\xE9"}, {"notes", "notes"}, {"\xC0\xAF", "\xC0\xAF"}, {"\xED\xA0\x80", "\xED\xA0\x80"},  // not UTF-8: as is
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"}, {"日本 \U0001F600.bmp", "__ _"}, {"x.\u00E9\u00E9\u00E9", "x"},
        {"e\u0301\u0301A\u0327.bmp", "\xE9_A_"},
        {"ŠŽšžŸÀÁÂÃÄÅÇÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝàáâãäåçèéêëìíîïñòóôõöùúûüýÿ",
         record_name_of("ŠŽšžŸÀÁÂÃÄÅÇÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝàáâãäåçèéêëìíîïñòóôõöùúûüýÿ")},  // decomposed, as macOS may list names
    };
    for (const auto& [file, record] : imports) EXPECT_EQ(record_name_of(file), record) << file;
}

// Names are sorted and told apart without regard to the letter case of
// Windows-1252's letters, names of one key by their bytes.
TEST(Names, SortWithoutRegardToLetterCase) {
    std::vector<std::string> names = {"b", "É", "×", "÷", "a", "ÿ", "B", "Ÿ", "é", "A", "_", "z", "Z", "š",
                                      "Š", "œ", "Œ", "ž", "Ž", "þ", "Þ", "à", "À"};
    sort_by_name(names);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "B", "b", "Z", "z", "_", "À", "à", "É", "é", "×", "Þ", "þ",
                                               "÷", "Œ", "œ", "Š", "š", "ÿ", "Ÿ", "Ž", "ž"}));
    EXPECT_EQ(name_key("caf\xE9.bmp"), name_key("CAFÉ.BMP"));
    EXPECT_EQ(name_key("œšžÿ"), name_key("ŒŠŽŸ"));  // a name that is not UTF-8 is Windows-1252
    // The console shows no control character raw: C0, DEL, UTF-8's C1, and no byte outside UTF-8.
    EXPECT_EQ(shown("a\x1B[2J\t\x7F\xC2\x9B\xC2\x80\xC2\xA0é\x9B\xE9\xFF\xC3"), "a?[2J????\xC2\xA0é????");
}

TEST(CommandLine, UsageTextIsVerbatim) {
    const char* argv[] = {"tavo", "i", "/?", "x.pdb"};
    const std::string out = console_of([&] { EXPECT_EQ(tavo_main(4, argv), 0); });
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
    const std::string credit = out.substr(lines_1_to_18.size());  // one line
    EXPECT_TRUE(credit.find('\n') == credit.size() - 1 && credit.find("README") != std::string::npos) << credit;
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

TEST_F(Tool, ImportConvertsWhatItCanAndReportsTheRest) {
    std::array<std::uint8_t, 64> reversed = GRAY_PALETTE;  // entry i is gray 17 * i: index i takes level 15 - i
    std::reverse(reversed.begin(), reversed.end());
    const Bytes a = bmp_of(3, 2, {1, 2, 3, 4, 5, 6}, reversed);
    const std::string long_name = "ééééééééééééééééééééééééééééééééé";  // 33: the record keeps 29 bytes, one a character
    put(long_name + ".bmp", a);
    put("b.BMP", [&] { Bytes b = a; b[30] = 2; return b; }());
    put("CM.bmp", [&] { Bytes b = a; b[0] = 'C'; return b; }());
    put("wide.bmp", bmp_of(161, 1, Bytes(161, 1)));
    put("skipped.bmpx", a);
    const ToolRun run = tavo({"i"});
    EXPECT_EQ(run.status, 0);  // what a file holds is no failure of the run
    EXPECT_EQ(run.out, "b.BMP .. Error - compressed bitmaps not supported\n"  // in order of name, whatever the listing's
                       "CM.bmp .. Error while reading BMP header\n"
                       "wide.bmp .. Error - maximum bitmap size is 160x160.\n" +
                           on_console(long_name) + ".bmp .. OK\nWriting database file Umbralith_DB.PDB\nConversion complete\n");
    Bytes record = {2, 2};
    record.resize(31, 0xE9);
    record.push_back(0);
    record.insert(record.end(), {0xED, 0xBA, 0xC0, 0x90});
    EXPECT_EQ(file("Umbralith_DB.PDB"), database_of({record}));
}

// Entries that cannot be opened as regular files or read (/proc/self/mem
// fails at offset 0) complete their own line with an error, are never waited
// on, and end the run with status 1; the rest is imported. Names show no
// control character.
TEST_F(Tool, ImportTellsEveryFileItCannotOpen) {
    const std::string picture = under_wine ? "a" : "\x1B[2Ja";  // "clear the screen", in a name
    put(picture + ".bmp", bmp_of(2, 1, pattern(2, 1)));
    fs::create_directory(dir / "folder.bmp");
    if (!under_wine) {  // Wine lists none of these
        fs::create_symlink("missing", dir / "dangling.bmp");
        mkfifo((dir / "fifo.bmp").c_str(), 0600);
        fs::create_symlink("/dev/null", dir / "null.bmp");
    }
    fs::create_symlink("/proc/self/mem", dir / "eio.bmp");
    std::string expected = under_wine ? "a.bmp .. OK\n" : "?[2Ja.bmp .. OK\n";
    for (const std::string name : {"dangling", "eio", "fifo", "folder", "null"})
        if (!under_wine || name == "folder" || name == "eio")
            expected += name + ".bmp .. " +
                        (name == "eio" ? "Error while reading BMP header\n" : "Error while opening " + name + ".bmp\n");
    const ToolRun run = tavo({"i", "x.pdb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected + "Writing database file x.pdb\n");
    EXPECT_EQ(file("x.pdb"), database_of({record_of(picture, 2, 1)}));
}

// Each record becomes a gray BMP named after it, in this folder only; never
// over another of this run's in any letter case, nor over the database being
// read, whatever path reaches it.
TEST_F(Tool, ExportWritesGrayBmpsNamedSafely) {
    Bytes cat = {2, 3, 'C', 'A', 'T'};
    cat.resize(32, 0);
    cat.insert(cat.end(), {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB});  // columns: x 0-1, then x 2-3
    const std::pair<std::string, std::string> cases[] = {  // record name, what export prints
        {"CAT", "Writing file CAT.bmp"}, {"pics", "Writing file pics (2).bmp"}, {"DOG", "Cannot write file DOG.bmp"},
        {"sun", "Writing file sun.bmp"}, {"Sun", "Writing file Sun (2).bmp"}, {"sun (2)", "Writing file sun (2) (2).bmp"},
        {"Caf\xE9", "Writing file Café.bmp"}, {"CAF\xC9", "Writing file CAFÉ (2).bmp"}, {"sun", "Writing file sun (3).bmp"},
        {"../up", "Writing file .._up.bmp"}, {"a/b\\c:d*e?f\"g<h>i|j", "Writing file a_b_c_d_e_f_g_h_i_j.bmp"},
        {"tab\there", "Writing file tab_here.bmp"}, {"nul.txt", "Writing file _nul.txt.bmp"},
        {"LPT1 .x", "Writing file _LPT1 .x.bmp"}, {"com9", "Writing file _com9.bmp"}, {"COM10", "Writing file COM10.bmp"},
        {"conin$", "Writing file _conin$.bmp"}, {"CONOUT$.x", "Writing file _CONOUT$.x.bmp"},
        {"COM0", "Writing file _COM0.bmp"}, {"lpt0", "Writing file _lpt0.bmp"},
        {"", "Writing file " + std::string(29, 'q') + ".bmp"},  // a name field without a terminator
    };
    std::vector<Bytes> records;
    std::string expected = "Reading database file ./link.pdb\n";
    for (const auto& [record, printed] : cases) {
        records.push_back(record == "CAT" ? cat : record_of(record, 2, 1));
        expected += on_console(printed) + "\n";
    }
    std::fill(records.back().begin() + 2, records.back().begin() + 32, 'q');
    const Bytes database = database_of(records);
    put("pics.bmp", database);
    fs::create_symlink("pics.bmp", dir / "link.pdb");
    fs::create_directory(dir / "DOG.bmp");  // cannot be replaced: the run fails
    put("victim.txt", {'v'});
    fs::create_symlink("victim.txt", dir / "sun.bmp");  // replaced, not followed
    const ToolRun run = tavo({"./link.pdb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(file("pics.bmp"), database);
    EXPECT_EQ(file("victim.txt"), Bytes{'v'});
    EXPECT_FALSE(fs::is_symlink(dir / "sun.bmp"));
    for (const auto& [record, printed] : cases) EXPECT_TRUE(fs::exists(dir / printed.substr(printed.find(" file ") + 6)));
    EXPECT_EQ(files().size(), std::size(cases) + 3);  // and pics.bmp, link.pdb, victim.txt
    Bytes expected_cat = {'B', 'M', 130, 0, 0, 0, 0, 0, 0, 0, 118, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0,
                          1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x0B, 0, 0, 0x12, 0x0B, 0, 0};
    expected_cat.resize(54, 0);
    for (int i = 0; i < 64; ++i) expected_cat.push_back(i % 4 == 3 ? 0 : static_cast<std::uint8_t>(255 - 17 * (i / 4)));
    // rows bottom first: row 2 = 0x45 0xAB, row 1 = 0x23 0x89, row 0 = 0x01 0x67
    expected_cat.insert(expected_cat.end(), {0x45, 0xAB, 0, 0, 0x23, 0x89, 0, 0, 0x01, 0x67, 0, 0});
    EXPECT_EQ(file("CAT.bmp"), expected_cat);
}

// A file name of any script comes in as the handheld's Windows-1252 holds
// it, a character it lacks as '_'; a Windows-1252 name goes out as the file
// of exactly that name. (On Windows, whatever the ANSI code page.)
TEST_F(Tool, NamesOfEveryScriptComeAndGo) {
    for (const char* name : {"Łódź", "Ελλάδα", "emoji 😀", "café"})
        put(std::string(name) + ".bmp", bmp_of(2, 1, pattern(2, 1)));
    ToolRun run = tavo({"i", "db.pdb"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(file("db.pdb"), database_of({record_of("caf\xE9", 2, 1), record_of("emoji _", 2, 1),
                                           record_of("_\xF3" "d_", 2, 1), record_of("______", 2, 1)}));
    fs::create_directory(dir / "out");
    put("out/in.pdb", database_of({record_of("Caf\xE9 cr\xE8me", 2, 1)}));
    run = sh("cd out && tavo in.pdb");
    EXPECT_EQ(run.out, on_console("Reading database file in.pdb\nWriting file Café crème.bmp\nConversion complete\n"));
    EXPECT_EQ(file("out/Café crème.bmp"), bmp_of(2, 1, pattern(2, 1)));
}

// Pictures of one name come back under their numbered names; a database named
// *.bmp is replaced.
TEST_F(Tool, ExportThenImportGivesTheSameRecords) {
    Bytes ctl = record_of("ctl \x80\x84\x93\x94\x8A\x9E\x9F\xA0\xC5\xFF", 4, 3);  // bytes 0x0A, 0x0D and 0x1A pass untranslated
    std::copy_n(Bytes{0x0A, 0x0D, 0x1A, 0x0A, 0x0D, 0x1A}.begin(), 6, ctl.begin() + 32);
    const auto square = [](const char* name, int w) { return record_of(name, w, w); };
    put("pics.bmp", database_of({ctl, square("r2", 2), square("r6", 6), square("r16", 16), square("r160", 160),
                                 record_of("sun", 2, 3), record_of("Sun", 4, 3), record_of("moon", 6, 3), record_of("sun", 8, 3)}));
    ASSERT_EQ(tavo({"pics.bmp"}).status, 0);
    const ToolRun run = tavo({"i", "pics.bmp"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out.find("pics.bmp .."), std::string::npos);  // the database is no picture of its own
    EXPECT_EQ(file("pics.bmp"),  // in order of name
              database_of({ctl, record_of("moon", 6, 3), square("r16", 16), square("r160", 160), square("r2", 2),
                           square("r6", 6), record_of("Sun (2)", 4, 3), record_of("sun (3)", 8, 3), record_of("sun", 2, 3)}));
}

TEST_F(Tool, The257thPictureIsRefusedNotLost) {
    for (int i = 0; i < 257; ++i) put("p" + std::to_string(i) + ".bmp", bmp_of(2, 1, {1, 2}));
    const ToolRun run = tavo({"i", "db.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\np99.bmp .. Error - the database is full, it holds at most 256 pictures\n"), std::string::npos);  // the last by name
    EXPECT_EQ(file("db.pdb").size(), 80 + 256 * (8 + 33));
}

// Export reads what is a Palm database, of any application, cut or damaged;
// anything else, and import any file but its own database, is refused as a
// whole with one message, leaving every file as it was.
TEST_F(Tool, DatabasesAreReadAndReplacedOnlyWhenTheyAreSo) {
    const Bytes own = database_of({record_of("old", 2, 1), record_of("cut", 4, 2)});
    Bytes other_app = own;
    std::copy_n("TEXtREAd", 8, other_app.begin() + 60);
    Bytes text(100, 'a');  // a name without its zero
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};  // a control character in the name
    png.resize(100, 0);
    Bytes before_list = own, past_end = own;  // the first record inside the list, then past the file
    before_list[81] = 85;
    past_end[80] = 1;
    Bytes short_list = database_of({});
    short_list[77] = 3;
    short_list.resize(90, 0);
    const Bytes picture = {'B', 'M'};  // all a file needs to be taken for a picture
    Bytes sqlite = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0,  // a name of text
                    0x10, 0x00, 1, 1, 0, 64, 32, 32};  // page size 4096, file formats, payload fractions
    put_be(sqlite, 1, 8);                              // change counter, pages
    sqlite.resize(44, 0);
    put_be(sqlite, 4, 4);  // schema format
    sqlite.resize(56, 0);
    put_be(sqlite, 1, 4);  // UTF-8; then zeros where a database keeps its type and creator, and its record count
    sqlite.resize(4096, 0);
    put("notes.txt", text);
    ASSERT_EQ(sh("tar cf notes.tar notes.txt").status, 0);  // "notes.txt" and zeros: a name, no record
    const std::pair<std::string, Bytes> files_before[] = {
        {"own.pdb", own}, {"cut.pdb", Bytes(own.begin(), own.end() - 1)}, {"other.pdb", other_app}, {"notes.txt", text},
        {"photo.png", png}, {"before.pdb", before_list}, {"past.pdb", past_end}, {"short.pdb", short_list},
        {"tiny.pdb", Bytes(77, 0)}, {"b.bmp", picture}, {"notes.tar", file("notes.tar")}, {"db.sqlite", sqlite}};
    for (const auto& [name, bytes] : files_before) put(name, bytes);
    fs::create_directory(dir / "folder.pdb");
    fs::create_symlink("/proc/self/mem", dir / "eio.pdb");  // a read error at offset 0
    const auto not_palm = [](const std::string& name) {
        return "Reading database file " + name + "\nError - " + name + " is not a Palm database\n";
    };
    const std::string exported = "Writing file old.bmp\nWriting file cut.bmp\nConversion complete\n";
    struct Case { std::vector<std::string> args; int status; std::string out; };
    const Case cases[] = {
        {{"other.pdb"}, 0, "Reading database file other.pdb\n" + exported},
        {{"cut.pdb"}, 0, "Reading database file cut.pdb\nWriting file old.bmp\n"
                         "Error - record 2 is shorter than its 4x2 picture\nConversion complete\n"},
        {{"notes.txt"}, 1, not_palm("notes.txt")},
        {{"photo.png"}, 1, not_palm("photo.png")},
        {{"notes.tar"}, 1, not_palm("notes.tar")},
        {{"db.sqlite"}, 1, not_palm("db.sqlite")},
        {{"before.pdb"}, 1, not_palm("before.pdb")},
        {{"past.pdb"}, 1, not_palm("past.pdb")},
        {{"b.bmp"}, 1, "Reading database file b.bmp\nError - b.bmp is a BMP file, not a database\n"},
        {{"tiny.pdb"}, 1, "Reading database file tiny.pdb\nError - the file is shorter than a database header (78 bytes)\n"},
        {{"short.pdb"}, 1, "Reading database file short.pdb\nError - the database file ends inside its list of 3 records\n"},
        {{"folder.pdb"}, 1, "Error while opening folder.pdb\n"},
        {{"eio.pdb"}, 1, "Reading database file eio.pdb\nError - the database file cannot be read\n"},
        {{"missing.pdb"}, 1, "Error while opening missing.pdb\n"},
        {{"i", "no/such/folder.pdb"}, 1, ""},  // a database that cannot be written is found before any picture is read
        {{"i", "folder.pdb"}, 1, ""},
        {{"i", "folder.pdb/"}, 1, ""},
        {{"i", "missing/"}, 1, ""},
        {{"i", ""}, 1, ""},
        {{"i", std::string(252, 'n') + ".pdb"}, 1, ""},  // a name longer than a folder takes
        {{"i", "eio.pdb"}, 1, "Error while reading eio.pdb\n"},
        {{"i", "a.bmp", "b.bmp"}, 1, "Error - b.bmp is a BMP file, not a database\n"},  // as "tavo i *.bmp" runs
        {{"i", "photo.png"}, 1, "Error - photo.png is not an Umbralith database\n"},  // as "tavo i *.png" runs
        {{"i", "notes.txt"}, 1, "Error - notes.txt is not an Umbralith database\n"},
        {{"i", "other.pdb"}, 1, "Error - other.pdb is not an Umbralith database\n"},
    };
    for (const auto& [args, status, out] : cases) {
        const ToolRun run = tavo(args);
        EXPECT_EQ(run.status, status) << args.back();
        EXPECT_EQ(run.out, out);
        for (const auto& [name, bytes] : files_before) EXPECT_EQ(file(name), bytes) << name;
        std::error_code ignored;
        for (const char* written : {"old.bmp", "cut.bmp"}) fs::remove(dir / written, ignored);
        EXPECT_EQ(files().size(), std::size(files_before) + 2);  // and folder.pdb, eio.pdb: nothing made
    }
}

// Import writes a new path, an empty file, or a database of this
// application under any name, which is then none of the pictures even when
// named like one; a database that holds pictures is never emptied. A
// database left without pictures says so, and names what tavo-gray would
// make pictures of.
TEST_F(Tool, ImportWritesOverItsOwnDatabaseOnly) {
    const Bytes full = database_of({record_of("old", 2, 1)});
    Bytes renamed = full;
    std::copy_n("Another name", 12, renamed.begin());
    Bytes compressed = bmp_of(2, 1, {1, 2});
    compressed[30] = 2;
    put("bad.bmp", compressed);
    const std::string refused = "bad.bmp .. Error - compressed bitmaps not supported\n";
    const std::string none = "No picture imported: the database holds none";
    const std::string hint = none + "; tavo-gray makes BMP files of the pictures here: tavo-gray ";
    const std::string long_name = std::string(251, 'n') + ".pdb";  // as long as a name may be
    const std::vector<std::string> photos = {"b.png", "a.JPG", "c.jpg", "d.GIF", "e.Jpeg", "f.webp", "g.tiff", ".png", "h.HEIC"};
    struct Case {
        std::string target;
        std::optional<Bytes> before;
        bool picture;
        std::vector<std::string> others;  // files of other kinds, by name
        int status;
        std::string out;
        Bytes after;
    };
    const Case cases[] = {
        {long_name, std::nullopt, true, {}, 0, refused + "p.bmp .. OK\nWriting database file " + long_name, database_of({record_of("p", 2, 1)})},
        {"new.pdb", std::nullopt, false, {}, 0, refused + none + "\nWriting database file new.pdb", database_of({})},
        {"empty.pdb", Bytes{}, false, {}, 0, refused + none + "\nWriting database file empty.pdb", database_of({})},
        {"none.pdb", database_of({}), false, {}, 0, refused + none + "\nWriting database file none.pdb", database_of({})},
        {"Own.BMP", renamed, true, {}, 0, refused + "p.bmp .. OK\nWriting database file Own.BMP", database_of({record_of("p", 2, 1)})},
        {"full.pdb", full, false, {}, 1, refused + "Error - no picture imported, full.pdb left as it was", full},
        {"photos.pdb", std::nullopt, false, photos, 0,
         refused + hint + (under_wine ? "*.jpg *.jpeg *.png *.gif *.webp *.heic" : "*.JPG *.jpg *.Jpeg *.png *.GIF *.webp *.HEIC") +
             "\nWriting database file photos.pdb",
         database_of({})},
        {"png.pdb", std::nullopt, false, {"x.png", "notes.txt"}, 0,
         refused + hint + "*.png\nWriting database file png.pdb", database_of({})},
        {"with.pdb", std::nullopt, true, {"x.png"}, 0, refused + "p.bmp .. OK\nWriting database file with.pdb",
         database_of({record_of("p", 2, 1)})},
    };
    for (const auto& [target, before, picture, others, status, out, after] : cases) {
        if (before) put(target, *before);
        if (picture) put("p.bmp", bmp_of(2, 1, pattern(2, 1)));
        for (const std::string& other : others) put(other, {});
        const ToolRun run = tavo({"i", target});
        EXPECT_EQ(run.status, status) << target;
        EXPECT_EQ(run.out, out + (status == 0 ? "\nConversion complete\n" : "\n"));
        EXPECT_EQ(file(target), after) << target;
        EXPECT_EQ(files().size(), (picture ? 3u : 2u) + others.size());  // bad.bmp, the database, p.bmp: nothing else
        for (const std::string& made : others) fs::remove(dir / made);
        fs::remove(dir / target);
        fs::remove(dir / "p.bmp");
    }
    if (under_wine) {  // no Windows shell expands the hint's patterns: tavo-gray does
        fs::copy_file(TAVO_SOURCE_DIR "/docs/palette-colours.png", dir / "x.png");
        const ToolRun run = sh("tavo_gray '*.png'");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "x.png .. x.bmp\n");
    }
}

// A disk that fills (a file size limit, which ends no run) leaves no part of
// a file and every older file whole, and the run ends with status 1.
TEST_F(Tool, AFullDiskLosesNoFile) {
    if (under_wine) GTEST_SKIP() << "the limit would bind Wine's own server";
    const Bytes old_picture = {'o', 'l', 'd'};
    const Bytes old_database = database_of({record_of("old", 2, 1)});
    put("big.bmp", old_picture);
    put("db.pdb", old_database);
    put("pics.pdb", database_of({record_of("small", 2, 1), record_of("big", 160, 160)}));
    const std::string full = "ulimit -f 2; ";  // 1 KiB or more: less than a 160 x 160 picture
    ToolRun run = sh(full + "tavo pics.pdb");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Reading database file pics.pdb\nWriting file small.bmp\nWriting file big.bmp\n"
                       "Cannot write file big.bmp\n");
    EXPECT_EQ(file("big.bmp"), old_picture);
    put("wide.bmp", bmp_of(160, 160, Bytes(160 * 160, 3)));
    for (const std::string target : {"db.pdb", "new.bmp"}) {
        run = sh(full + "tavo i " + target);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.ends_with("wide.bmp .. OK\nWriting database file " + target + "\nError while writing " + target + "\n"));
        EXPECT_EQ(run.out.find(target + " .."), std::string::npos);  // the database being written is no picture
    }
    EXPECT_EQ(file("db.pdb"), old_database);
    EXPECT_EQ(files(), (std::set<std::string>{"big.bmp", "db.pdb", "pics.pdb", "small.bmp", "wide.bmp"}));
}

// The database is replaced whole or not at all: where a link to it points,
// even a link to a file still missing (what it keeps of the old one:
// ImportKeepsWhoMayUseTheDatabase); not when
// the folder cannot be listed (no file descriptor left for it); and with
// the console closed, none of the console's text goes into it.
TEST_F(Tool, ImportReplacesTheDatabaseWhole) {
    if (under_wine) GTEST_SKIP() << "links, owners and limits are the host's";
    fs::create_directory(dir / "a");
    fs::create_directory(dir / "real");
    std::vector<Bytes> records;
    for (int i = 10; i < 30; ++i) {
        put("a/" + std::to_string(i) + ".bmp", bmp_of(160, 80, pattern(160, 80)));
        records.push_back(record_of(std::to_string(i), 160, 80));
    }
    for (int i = 0; i < 100; ++i) put("a/z" + std::to_string(i) + std::string(60, 'z') + ".bmp", {});  // 10 KB of console text
    const Bytes imported = database_of(records);
    const Bytes old = database_of({});
    put("real/db.pdb", old);
    fs::create_symlink("real/db.pdb", dir / "link.pdb");
    fs::create_symlink("real/new.pdb", dir / "dangling.pdb");
    ToolRun run = sh("cd a && exec 3<&- 4<&- 5<&- 6<&- 7<&- 8<&- 9<&- && ulimit -n 4 && tavo i ../link.pdb");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Error while listing folder " + fs::canonical(dir / "a").string() + "\n");
    EXPECT_EQ(file("real/db.pdb"), old);
    EXPECT_EQ(sh("cd a && tavo i ../link.pdb >&-").status, 0);
    EXPECT_EQ(file("real/db.pdb"), imported);
    EXPECT_EQ(sh("cd a && tavo i ../dangling.pdb").status, 0);
    EXPECT_EQ(file("real/new.pdb"), imported);
    EXPECT_TRUE(fs::is_symlink(dir / "link.pdb") && fs::is_symlink(dir / "dangling.pdb"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 2);  // no temporary file left
    // A link named like a picture that leads to the database is none of the
    // pictures, even while the database is still missing.
    fs::create_symlink("../real/fresh.pdb", dir / "a/fresh.bmp");
    for (const std::string target : {"../real/fresh.pdb", "fresh.bmp", "./../a/fresh.bmp"}) {
        run = sh("cd a && tavo i " + target);
        EXPECT_EQ(run.status, 0) << target;
        EXPECT_EQ(run.out.find("fresh.bmp .."), std::string::npos) << target;
        EXPECT_EQ(file("real/fresh.pdb"), imported) << target;
        EXPECT_TRUE(fs::is_symlink(dir / "a/fresh.bmp"));
        fs::remove(dir / "real/fresh.pdb");
    }
}

// A picture another program holds for a moment without sharing it (on
// Windows: an export rewriting it, a virus scanner) is waited for, not lost.
TEST_F(Tool, APictureHeldForAMomentIsWaitedFor) {
    if (!under_wine) GTEST_SKIP() << "only Windows lets a program keep others from reading a file";
    put("p.bmp", bmp_of(2, 1, pattern(2, 1)));
    const std::string hold = env_or("TAVO_LAUNCHER", "") + " '" +
                             (fs::path(tavo_binary()).parent_path() / "tavo_hold_file.exe").string() + "'";
    // Held for 400 ms: longer than the run takes to start (about 100 ms
    // under Wine), well inside the second that it waits.
    const ToolRun run = sh(hold + " p.bmp 400 held & for k in $(seq 1000); do [ -e held ] && break; sleep 0.01; done; "
                                  "tavo i db.pdb; status=$?; wait $! && exit $status");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "p.bmp .. OK\nWriting database file db.pdb\nConversion complete\n");
    EXPECT_EQ(file("db.pdb"), database_of({record_of("p", 2, 1)}));
}

// A replaced database keeps who may use it: its owner and group where they
// can be kept, its ACL, its mode; never more. A shared database (1000:2000,
// 664) replaced by a member of its group keeps its group; replaced by one
// who is not, the group gets nothing and others no more than the group
// could. Replaced by root, its ACL holds (user 1002 may write, the group may
// read only), where the file system has ACLs.
TEST_F(Tool, ImportKeepsWhoMayUseTheDatabase) {
    if (under_wine) GTEST_SKIP() << "owners are the host's";
    if (geteuid() != 0 || sh("setpriv --reuid=1001 true").status != 0) GTEST_SKIP() << "only root can run as another user";
    const auto as = [](const std::string& ids) { return "setpriv --reuid=" + ids + " --regid=" + ids + " --groups="; };
    constexpr std::uint32_t U = 0xFFFFFFFF;  // an ACL's entries: tag, permissions, user or group
    Bytes acl = {2, 0, 0, 0};
    for (const auto& [tag, permissions, id] : {std::tuple{1, 6, U}, {2, 6, 1002u}, {4, 4, U}, {16, 6, U}, {32, 0, U}}) {
        put_le(acl, static_cast<std::uint64_t>(tag), 2);
        put_le(acl, static_cast<std::uint64_t>(permissions), 2);
        put_le(acl, id, 4);
    }
    struct Case { std::string runner; unsigned mode; bool with_acl; unsigned uid, gid, mode_after; };
    const Case cases[] = {
        {as("1001") + "2000 ", 0664, false, 1001, 2000, 0664},
        {as("1001") + "3000 ", 0646, false, 1001, 1001, 0604},
        {"", 0640, true, 1000, 2000, 0660},
    };
    put("p.bmp", bmp_of(2, 1, pattern(2, 1)));
    ASSERT_EQ(chown(dir.c_str(), 0, 2000), 0);  // a folder the group shares
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    for (const auto& [runner, mode, with_acl, uid, gid, mode_after] : cases) {
        put("db.pdb", database_of({}));
        ASSERT_EQ(chown((dir / "db.pdb").c_str(), 1000, 2000), 0);
        ASSERT_EQ(chmod((dir / "db.pdb").c_str(), mode), 0);
        if (with_acl && setxattr((dir / "db.pdb").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
            continue;  // no ACL on this file system
        const ToolRun run = sh(runner + "'" + tavo_binary() + "' i db.pdb");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(file("db.pdb"), database_of({record_of("p", 2, 1)}));
        struct stat about {};
        ASSERT_EQ(stat((dir / "db.pdb").c_str(), &about), 0);
        EXPECT_EQ(std::tuple(about.st_uid, about.st_gid, about.st_mode & 07777), std::tuple(uid, gid, mode_after)) << runner;
        if (!with_acl) continue;
        EXPECT_NE(sh(as("1003") + "2000 test -w db.pdb").status, 0);  // the group's own permission is read
        EXPECT_EQ(sh(as("1002") + "3000 test -w db.pdb").status, 0);
    }
}

// A file being written is readable by its owner alone, and has no name but
// its temporary one until it is complete and closed: killed outright before
// that (kill -9, the out-of-memory killer), it leaves no file of its name.
// Then it takes the mode of the file it replaces, or of a new file; a new
// file never takes a name that is taken.
TEST_F(Tool, AFileIsPrivateAndNamelessUntilComplete) {
    if (under_wine) GTEST_SKIP() << "the file layer in process";
    const std::string folder = dir.string() + "/";
    put("old.pdb", {'o'});
    ASSERT_EQ(chmod((dir / "old.pdb").c_str(), 0640), 0);
    const auto mode_of = [](const std::string& path) {
        struct stat about {};
        return stat(path.c_str(), &about) == 0 ? about.st_mode & 07777 : 0u;
    };
    const mode_t umask_now = umask(0);
    umask(umask_now);
    ByteStream replacing, fresh;
    ASSERT_EQ(open_write(replacing, folder + "old.pdb"), 0);
    ASSERT_EQ(open_new(fresh, folder), 0);
    put_byte(replacing, 'r');
    put_byte(fresh, 'n');
    const std::string fresh_temp = fresh.pending.temp_path;
    EXPECT_EQ(mode_of(replacing.pending.temp_path), 0600u);
    EXPECT_EQ(mode_of(fresh_temp), 0600u);
    EXPECT_EQ(files().size(), 3u);
    EXPECT_EQ(close_stream(replacing), 0);
    EXPECT_EQ(close_stream(fresh), 0);
    EXPECT_EQ(file("old.pdb"), Bytes{'r'});
    EXPECT_EQ(mode_of(folder + "old.pdb"), 0640u);
    EXPECT_EQ(mode_of(fresh_temp), 0666u & ~umask_now);  // complete, still nameless
    bool taken = false;
    EXPECT_EQ(name_new(fresh, folder + "old.pdb", taken), 1);
    EXPECT_TRUE(taken);
    EXPECT_EQ(file("old.pdb"), Bytes{'r'});
    EXPECT_EQ(name_new(fresh, folder + "new.bmp", taken), 0);
    EXPECT_EQ(files(), (std::set<std::string>{"new.bmp", "old.pdb"}));
    const pid_t pid = fork();
    if (pid == 0) {
        ByteStream killed;
        if (open_new(killed, folder) == 0) flush_stream(killed);
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    std::set<std::string> left = files();
    EXPECT_EQ(left.size(), 3u);
    EXPECT_TRUE(left.erase("new.bmp") && left.erase("old.pdb") && left.begin()->starts_with(".tavo-"));
}

// Where there is no null device (a minimal container, a chroot), closed
// standard streams still keep the console's text out of every file, and the
// run that printed into them loses nothing.
TEST_F(Tool, ClosedConsoleWithoutANullDeviceGoesIntoNoFile) {
    if (under_wine) GTEST_SKIP() << "descriptors and mounts are the host's";
    if (sh("unshare -m true").status != 0) GTEST_SKIP() << "no mount namespace here";
    put(std::string(200, 'n') + ".bmp", bmp_of(2, 1, pattern(2, 1)));
    put("z.bmp", bmp_of(4, 2, pattern(4, 2)));
    for (int i = 0; i < 100; ++i) put("z" + std::to_string(i) + std::string(60, 'z') + ".bmp", {});  // 10 KB of console text
    const Bytes imported = database_of({record_of(std::string(200, 'n'), 2, 1), record_of("z", 4, 2)});
    for (const std::string closed : {">&-", "<&- >&- 2>&-"}) {
        const ToolRun run = sh("unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\" i db.pdb " + closed + "' '" +
                               tavo_binary() + "'");
        EXPECT_EQ(run.status, 0) << closed;
        EXPECT_EQ(run.out, "") << closed;
        EXPECT_EQ(file("db.pdb"), imported) << closed;
        EXPECT_EQ(files().size(), 103u);
        fs::remove(dir / "db.pdb");
    }
}

// Console output that cannot be written (a full disk) fails the run, whatever
// it did: the files are written, the status is 1. Output thrown away is no
// failure.
TEST_F(Tool, ConsoleOutputThatCannotBeWrittenFailsTheRun) {
    put("pics.pdb", database_of({record_of("p", 2, 1)}));
    put("q.bmp", bmp_of(2, 1, pattern(2, 1)));
    const std::pair<std::string, std::set<std::string>> cases[] = {  // command, the folder's files after it
        {"tavo -h", {"pics.pdb", "q.bmp"}},
        {"tavo --version", {"pics.pdb", "q.bmp"}},
        {"tavo pics.pdb", {"pics.pdb", "q.bmp", "p.bmp"}},
        {"tavo i db.pdb", {"pics.pdb", "q.bmp", "db.pdb"}},
        {"tavo_gray -h", {"pics.pdb", "q.bmp"}},
        {"tavo_gray --version", {"pics.pdb", "q.bmp"}},
    };
    for (const auto& [command, after] : cases) {
        for (const std::string console : {"/dev/full", "/dev/null"}) {
            if (under_wine && console == "/dev/null") continue;  // as on Linux, and slow
            const ToolRun run = sh(command + " >" + console);
            EXPECT_EQ(run.status, console == "/dev/full" ? 1 : 0) << command << " >" << console;
            EXPECT_EQ(run.out, "") << command;
            EXPECT_EQ(files(), after) << command;
        }
        EXPECT_EQ(file("p.bmp"), after.contains("p.bmp") ? bmp_of(2, 1, pattern(2, 1)) : Bytes{}) << command;
        EXPECT_EQ(file("db.pdb"), after.contains("db.pdb") ? database_of({record_of("q", 2, 1)}) : Bytes{}) << command;
        for (const char* made : {"p.bmp", "db.pdb"}) fs::remove(dir / made);
    }
}

// Two runs at once each succeed: imports into one path, new or existing,
// leave the complete database of one of them; exports into one folder leave
// whole pictures.
TEST_F(Tool, RunsAtOnceAllSucceed) {
    if (under_wine) GTEST_SKIP() << "two Wine programs started at once may hang in Wine itself";
    for (const char* folder : {"a", "b", "out"}) fs::create_directory(dir / folder);
    std::vector<Bytes> in_a, in_b;  // two runs that take as long, but a writes less: a mix would show
    for (int i = 10; i < 30; ++i) {
        put("a/" + std::to_string(i) + ".bmp", bmp_of(160, 80, pattern(160, 80)));
        put("b/" + std::to_string(i) + ".bmp", bmp_of(160, 160, pattern(160, 160)));
        in_a.push_back(record_of(std::to_string(i), 160, 80));
        in_b.push_back(record_of(std::to_string(i), 160, 160));
    }
    const Bytes from_a = database_of(in_a);
    const Bytes from_b = database_of(in_b);
    for (int i = 0; i < 30; ++i) {
        if (i % 2 == 0) fs::remove(dir / "db.pdb");
        const ToolRun run = sh("(cd a && tavo i ../db.pdb >/dev/null; echo a$?) & (cd b && tavo i ../db.pdb >/dev/null; "
                               "echo b$?) & wait");
        EXPECT_TRUE(run.out.find("a0") != std::string::npos && run.out.find("b0") != std::string::npos) << run.out;
        const Bytes now = file("db.pdb");
        ASSERT_TRUE(now == from_a || now == from_b) << "try " << i << ", " << now.size() << " bytes";
    }
    put("pics.pdb", from_b);
    for (int i = 0; i < 10; ++i) {
        const ToolRun run = sh("cd out && (tavo ../pics.pdb >/dev/null; echo $?) & (cd out && tavo ../pics.pdb >/dev/null; "
                               "echo $?) & wait");
        EXPECT_EQ(run.out, "0\n0\n") << "try " << i;
    }
    for (int i = 10; i < 30; ++i) EXPECT_EQ(file("out/" + std::to_string(i) + ".bmp"), file("b/" + std::to_string(i) + ".bmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), 20);  // no temporary file left
    EXPECT_EQ(files(), (std::set<std::string>{"a", "b", "out", "db.pdb", "pics.pdb"}));
}

// A run ended by a signal while its output is stalled (a pipe nobody reads)
// removes its temporary file and ends as the signal would; one killed
// outright may leave it. Either way every file is whole: the old database,
// or each picture old or new.
TEST_F(Tool, InterruptedRunsLeaveNoTrace) {
    if (under_wine) GTEST_SKIP() << "signals are the host's";
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "out");
    for (int i = 0; i < 200; ++i)  // more output than a pipe of one page holds
        put("in/" + std::to_string(i) + std::string(50, 'x') + ".bmp", {'B', 'M'});
    const Bytes old = database_of({record_of("old", 2, 1)});
    const Bytes picture = bmp_of(2, 1, pattern(2, 1));
    put("in/db.pdb", old);
    put("pics.pdb", database_of(std::vector<Bytes>(400, record_of("p", 2, 1))));
    put("out/p (7).bmp", {'o', 'l', 'd'});
    const std::string binary = tavo_binary();
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGKILL}) {
        for (const bool importing : {true, false}) {
            int out[2];
            ASSERT_EQ(pipe(out), 0);
            const int capacity = fcntl(out[0], F_SETPIPE_SZ, 4096);
            const pid_t pid = fork();
            if (pid == 0) {
                dup2(out[1], 1);
                if (chdir((dir / (importing ? "in" : "out")).c_str()) == 0)
                    execl(binary.c_str(), "tavo", importing ? "i" : "../pics.pdb", importing ? "db.pdb" : nullptr, nullptr);
                _exit(127);
            }
            close(out[1]);
            // The run stalls once the pipe holds too much for its next line.
            const int stalled = capacity - 256;
            int queued = 0;
            for (int wait = 0; wait < 2000 && queued < stalled && waitpid(pid, nullptr, WNOHANG) == 0; ++wait) {
                usleep(10000);
                ioctl(out[0], FIONREAD, &queued);
            }
            kill(pid, signal_number);
            int status = 0;
            waitpid(pid, &status, 0);
            close(out[0]);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number << " " << status;
            EXPECT_EQ(file("in/db.pdb"), old);
            for (const auto& entry : fs::directory_iterator(dir / (importing ? "in" : "out"))) {
                const std::string name = entry.path().filename().string();
                if (name.starts_with(".tavo-") && signal_number == SIGKILL) fs::remove(entry.path());
                else if (!importing) EXPECT_TRUE(file("out/" + name) == picture || name == "p (7).bmp") << name;
                else EXPECT_FALSE(name.starts_with(".tavo-")) << signal_number;
            }
            EXPECT_TRUE(file("out/p (7).bmp") == picture || file("out/p (7).bmp") == Bytes({'o', 'l', 'd'}));
        }
    }
}

// No Windows shell expands patterns: tavo.exe does, as a POSIX shell would
// before tavo runs, so that "tavo *.pdb" takes the last by name and "tavo i
// *.bmp" refuses a picture as its database.
TEST_F(Tool, PatternsAreExpandedAsAShellWould) {
    if (!under_wine) GTEST_SKIP() << "a POSIX shell expands them before tavo runs";
    put("a.pdb", database_of({record_of("a", 2, 1)}));
    put("b.pdb", database_of({record_of("b", 2, 1)}));
    put("p.bmp", bmp_of(2, 1, pattern(2, 1)));
    for (const std::string pattern : {"*.pdb", "*.bmp"})
        for (const bool import : {false, true})
            EXPECT_EQ(sh(std::string("tavo ") + (import ? "i " : "") + "'" + pattern + "'").out,
                      sh(std::string("tavo ") + (import ? "i " : "") + pattern).out) << pattern;
}

// Without a path, a database named like the default in another letter case
// is the one exported from and imported into.
TEST_F(Tool, DefaultDatabaseIsFoundInAnyLetterCase) {
    const Bytes database = database_of({record_of("x", 2, 1)});
    put("UMBRALITH_DB.pdb", database);
    if (!under_wine) put("umbralith_db.pdb", {});  // the second by name
    EXPECT_EQ(tavo({}).out, "Reading database file UMBRALITH_DB.pdb\nWriting file x.bmp\nConversion complete\n");
    EXPECT_EQ(tavo({"i"}).out, "x.bmp .. OK\nWriting database file UMBRALITH_DB.pdb\nConversion complete\n");
    EXPECT_EQ(file("UMBRALITH_DB.pdb"), database);
    EXPECT_EQ(files().size(), under_wine ? 2u : 3u);
}

TEST_F(Tool, DamagedRecordsAreSkippedToTheLastOf65535) {
    const auto patched = [](const char* name, std::size_t at, std::uint8_t value) {  // a 2 x 1 record, one byte changed
        Bytes record = record_of(name, 2, 1);
        record[at] = value;
        return record;
    };
    std::vector<Bytes> records = {record_of("A", 2, 1), patched("B", 0, 4), Bytes(10, 0), patched("C", 1, 0),
                                  patched("D", 0, 0)};
    records.resize(65535);  // empty records
    records.back() = record_of("Z", 2, 1);
    put("x.pdb", database_of(records));
    const ToolRun run = tavo({"x.pdb"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("Reading database file x.pdb\nWriting file A.bmp\n"
                                      "Error - record 2 is shorter than its 8x1 picture\n"
                                      "Error - record 3 is shorter than a picture header (10 of 32 bytes)\n"
                                      "Error - record 4 holds a 2x0 picture, which has no pixels\n"
                                      "Error - record 5 holds a 0x1 picture, which has no pixels\n"
                                      "Error - record 6 is shorter than a picture header (0 of 32 bytes)\n"))
        << run.out.substr(0, 300);
    EXPECT_TRUE(run.out.ends_with("Error - record 65534 is shorter than a picture header (0 of 32 bytes)\n"
                                  "Writing file Z.bmp\nConversion complete\n"));
}

}  // namespace
