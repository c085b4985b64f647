#include "cli/tavo.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/bmp_to_record.h"
#include "convert/names.h"
#include "convert/record_to_bmp.h"
#include "formats/pdb.h"
#include "io/console.h"

Options parse_arguments(int argc, const char* const* argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.starts_with('/')) argument.remove_prefix(1);
        if (argument.starts_with('-')) argument.remove_prefix(1);
        // Where '/' begins absolute paths, only "/", "/i", "/?" and their
        // '-' forms are options.
        if (SLASH_BEGINS_PATHS && argv[i][0] == '/' && argument != "i" && argument != "?" && !argument.empty())
            argument = argv[i];
        if (argument == "i") {
            options.import = true;
        } else if (argument == "?" || std::string_view(argv[i]) == "-h" || std::string_view(argv[i]) == "--help") {
            options.usage = true;
            return options;
        } else if (std::string_view(argv[i]) == "--version") {
            options.version = true;
            return options;
        } else {
            options.database_path = argument;
        }
    }
    return options;
}

void print_usage() {
    static constexpr const char* LINES[] = {
        "TAVO.exe is Umbralith 2.x import/export utility.\n",
        "Usage: tavo.exe [i] [path]\n",
        "[path] - Path to source database when exporting.\n",
        "         Path to target database when importing (will be overwritten).\n",
        "         The default value Umbralith_DB.pdb is used when omitted.\n",
        "[i] - use import instead of export. Omit when you want to export\n\n",
        "Export - all images stored in given database are converted to 16 levels \n",
        "grayscale images in standart uncompressed Windows BMP format. Files are\n",
        "written in the current directory.\n\n",
        "Import - all Windows BMP files in the current directory will be converted\n",
        "and written into new database with given name. The database filename doesn't\n",
        "have to be Umbralith_DB.pdb, however the database name will always be\n",
        "Umbralith?DB when installed in Palm.\n",
        "It means that old database on Palm will be always overwritten !\n",
        "Only uncompressed 16 color bitmaps are converted. Pallete is converted \n",
        "only by brightness. The brightest color will be the white on Palm and \n",
        "the darkest color will be the black on Palm\n\n",
        "TAVO 1.1 (Aug 29,2002)\n",
        "Written by the tavo project; to reach its authors, see the README.md that comes with tavo.\n",
    };
    for (const char* line : LINES) print("%s", line);
}

// The entries whose names are wanted, sorted by name.
static std::vector<std::string> wanted_names(std::vector<std::string> names, bool (*wanted)(std::string_view name)) {
    std::erase_if(names, [wanted](const std::string& name) { return !wanted(name); });
    sort_by_name(names);
    return names;
}

// DEFAULT_DATABASE_PATH when it exists or nothing matches it, otherwise the
// first by name of the files that match it in another letter case.
static std::string default_database_path() {
    std::vector<std::string> entries;
    list_folder(entries);
    const std::vector<std::string> names =
        wanted_names(entries, [](std::string_view name) { return name_key(name) == name_key(DEFAULT_DATABASE_PATH); });
    const bool exists = std::find(names.begin(), names.end(), DEFAULT_DATABASE_PATH) != names.end();
    return exists || names.empty() ? DEFAULT_DATABASE_PATH : names.front();
}

static int refuse_bmp(const std::string& path) {
    return fail("Error - %s is a BMP file, not a database\n", path.c_str());
}

static int refuse_non_palm(const std::string& path) { return fail("Error - %s is not a Palm database\n", path.c_str()); }

// Refuses, with its message, a database path that holds what import must
// not replace: anything but nothing, an empty file or a database of this
// application (a picture the shell put last on "tavo i *.bmp", a photo).
// records is the count of the database it may replace.
static int check_replaceable(const std::string& target, const std::string& path, std::uint16_t& records) {
    records = 0;
    if (!path_exists(target)) return 0;
    ByteStream stream;
    if (open_read(stream, target) != 0) return 1;  // a folder, a device: as a path that cannot be created
    std::vector<std::uint8_t> first(PDB_HEADER_SIZE);
    first.resize(read_up_to(stream, first.data(), first.size()));
    if (close_stream(stream) != 0) return fail("Error while reading %s\n", path.c_str());
    open_memory(stream, first);
    if (read_bmp_signature(stream) == 0) return refuse_bmp(path);
    if (!first.empty() && !is_own_database(first, records))
        return fail("Error - %s is not an Umbralith database\n", path.c_str());
    return 0;
}

// Reads the header and the record list of what must be a Palm database.
static int read_palm_database(ByteStream& stream, const std::string& path, PdbDatabase& database) {
    if (read_bmp_signature(stream) == 0) return refuse_bmp(path);
    seek_to(stream, 0);
    if (read_pdb_header(stream, database) != 0) return 1;  // a read error included
    if (!has_palm_name(database) || !has_palm_codes(database)) return refuse_non_palm(path);
    if (read_record_list(stream, database) != 0) return 1;
    if (!records_start_in_file(database, stream.size)) return refuse_non_palm(path);
    return 0;
}

int export_images(const std::string& database_path) {
    const std::string path = shown(database_path);
    ByteStream stream;
    if (open_read(stream, database_path) != 0) return fail("Error while opening %s\n", path.c_str());
    print("Reading database file %s\n", path.c_str());
    PdbDatabase database;
    int status = read_palm_database(stream, path, database);
    WrittenFiles files{{database_path}, {}, {}};
    int unwritten = 0;
    std::vector<std::uint8_t> record;
    // A read error ends the export; a damaged record is skipped.
    for (std::uint16_t index = 0; status == 0 && index < database.numRecords; ++index) {
        if (read_record(stream, database, index, MAX_RECORD_SIZE, record) == 0)
            unwritten |= record_to_bmp(record, index + 1u, files);
        if (stream.failed) status = 1;
    }
    free_database(database);
    close_stream(stream);
    return status | unwritten;
}

// Says that the database holds no picture and, when the folder holds pictures
// that tavo-gray makes BMP files of, how to make them.
static void say_none_imported(const std::vector<std::string>& entries) {
    const std::string patterns = gray_picture_patterns(entries);
    if (patterns.empty()) {
        print("No picture imported: the database holds none\n");
    } else {
        print("No picture imported: the database holds none; tavo-gray makes BMP files of the pictures here: "
              "tavo-gray %s\n", patterns.c_str());
    }
}

int import_images(const std::string& database_path) {
    const std::string path = shown(database_path);
    // The database is written where a link to it points, beside the old one.
    const std::string target = follow_links(database_path);
    std::uint16_t old_records = 0;
    if (check_replaceable(target, path, old_records) != 0) return 1;
    ByteStream stream;
    if (open_write(stream, target, true) != 0) return 1;
    std::vector<std::string> entries;
    if (list_folder(entries) != 0) {
        stream.failed = true;  // the old database stays
        close_stream(stream);
        return fail("Error while listing folder %s\n", shown(current_folder()).c_str());
    }
    // The database, named like a picture or reached by a link, even one to it
    // still missing, is none of the pictures. A picture's identity comes with
    // its opening.
    const FilePlace database_place = place_of(target);
    PdbDatabase database = new_database();
    // The database refers to these; moving a vector leaves its bytes in place.
    std::vector<std::vector<std::uint8_t>> records;
    int unread = 0;
    for (const std::string& name : wanted_names(entries, has_bmp_suffix)) {
        ByteStream picture;
        const int opened = open_read(picture, name);
        if (opened == 0 ? same_identity(picture.identity, database_place.file) : leads_to(name, database_place)) continue;
        std::vector<std::uint8_t> record;
        unread |= bmp_to_record(name, opened, picture, record);
        if (record.empty() || add_record(database, record) != 0) continue;
        records.push_back(std::move(record));
        print("OK\n");
    }
    if (records.empty() && old_records > 0) {
        stream.failed = true;
        close_stream(stream);
        return fail("Error - no picture imported, %s left as it was\n", path.c_str());
    }
    if (records.empty()) say_none_imported(entries);
    print("Writing database file %s\n", path.c_str());
    write_database(stream, database);
    const int unwritten = close_stream(stream);
    free_database(database);
    return unwritten != 0 ? fail("Error while writing %s\n", path.c_str()) : unread;
}

// The whole run, but for waiting when started from Explorer, where a
// database dropped on the program is worked on in its own folder.
static int run_tavo(int argc, const char* const* argv, bool from_explorer) {
    const Options options = parse_arguments(argc, argv);
    if (options.usage) {
        print_usage();
        return 0;
    }
    if (options.version) {
        print("tavo %s\n", TAVO_VERSION);
        return 0;
    }
    std::string path = options.database_path ? *options.database_path : default_database_path();
    const std::string folder = folder_of(path);
    if (from_explorer && !folder.empty() && change_folder(folder) == 0) path.erase(0, folder.size());
    if ((options.import ? import_images(path) : export_images(path)) != 0) return 1;
    print("Conversion complete\n");
    return 0;
}

int tavo_main(int argc, const char* const* argv) { return run_program(argc, argv, run_tavo); }
