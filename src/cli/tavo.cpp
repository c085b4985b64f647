#include "cli/tavo.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/platform.h"
#include "convert/bmp_to_record.h"
#include "convert/names.h"
#include "convert/record_to_bmp.h"
#include "formats/pdb.h"

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
    for (const char* line : LINES) std::printf("%s", line);
}

std::string default_database_path() {
    std::vector<std::string> names;
    list_files(names, [](std::string_view name) { return name_key(name) == name_key(DEFAULT_DATABASE_PATH); });
    const bool exists = std::find(names.begin(), names.end(), DEFAULT_DATABASE_PATH) != names.end();
    return exists || names.empty() ? DEFAULT_DATABASE_PATH : names.front();
}

// A picture the shell put last on "tavo i *.bmp" is not a database to replace.
static bool is_bmp_file(const std::string& path) {
    ByteStream stream;
    std::uint8_t b = 0;
    std::uint8_t m = 0;
    return open_read(stream, path) == 0 && get_byte(stream, b) == 0 && get_byte(stream, m) == 0 && b == 'B' &&
           m == 'M';
}

int export_images(const std::string& database_path) {
    ByteStream stream;
    if (open_read(stream, database_path) != 0) {
        std::printf("Error while opening %s\n", database_path.c_str());
        return 1;
    }
    std::printf("Reading database file %s\n", database_path.c_str());
    PdbDatabase database;
    int status = read_database(stream, database);
    ExportedFiles files;
    files.database_path = database_path;
    std::vector<std::uint8_t> record;
    // A read error ends the export; a damaged record is skipped.
    for (std::uint16_t index = 0; status == 0 && index < database.numRecords; ++index) {
        if (read_record(stream, database, index, MAX_RECORD_SIZE, record) == 0)
            record_to_bmp(record, index + 1u, files);
        if (stream.failed) status = 1;
    }
    free_database(database);
    close_stream(stream);
    return status;
}

int import_images(const std::string& database_path) {
    if (is_bmp_file(database_path)) {
        std::printf("Error - %s is a BMP file, not a database\n", database_path.c_str());
        return 1;
    }
    ByteStream stream;
    if (open_write(stream, database_path) != 0) return 1;
    PdbDatabase database = new_database();
    std::vector<std::string> names;
    list_files(names, has_bmp_suffix);
    // The database refers to these; moving a record, into the vector or as
    // the vector grows, leaves its bytes where they are.
    std::vector<std::vector<std::uint8_t>> records;
    for (const std::string& name : names) {
        std::vector<std::uint8_t> record;
        if (bmp_to_record(name, record) != 0 || add_record(database, record) != 0) continue;
        records.push_back(std::move(record));
        std::printf("OK\n");
    }
    std::printf("Writing database file %s\n", database_path.c_str());
    const int written = write_database(stream, database);
    const int closed = close_stream(stream);
    free_database(database);
    if (written != 0 || closed != 0) {
        std::printf("Error while writing %s\n", database_path.c_str());
        return 1;
    }
    return 0;
}

int tavo_main(int argc, const char* const* argv) {
    const Options options = parse_arguments(argc, argv);
    if (options.usage) {
        print_usage();
        return 0;
    }
    const std::string path = options.database_path ? *options.database_path : default_database_path();
    const int status = options.import ? import_images(path) : export_images(path);
    if (status != 0) return 1;
    std::printf("Conversion complete\n");
    return 0;
}
