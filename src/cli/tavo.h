// The tool as the user meets it: command line, usage text and the two run
// modes. tavo_main is the whole program; main only calls it.
#pragma once

#include <optional>
#include <string>

inline constexpr char DEFAULT_DATABASE_PATH[] = "Umbralith_DB.PDB";

// On Windows every argument may carry a '/' before an option; elsewhere '/'
// also begins an absolute path.
#ifdef _WIN32
inline constexpr bool SLASH_BEGINS_PATHS = false;
#else
inline constexpr bool SLASH_BEGINS_PATHS = true;
#endif

struct Options {
    bool import = false;
    bool usage = false;
    std::optional<std::string> database_path;  // none: the default database
};

// Reads the arguments after the program name into options.
Options parse_arguments(int argc, const char* const* argv);

// DEFAULT_DATABASE_PATH when it exists or no file matches it; otherwise the
// first by name of the files that match it without regard to letter case.
std::string default_database_path();

void print_usage();

// Writes every picture of the database as a BMP file in the current folder.
// Returns 1 when the database cannot be opened or read.
int export_images(const std::string& database_path);

// Converts every BMP file of the current folder into a new database.
// Returns 1 when the database file cannot be created or written, or is a
// BMP file.
int import_images(const std::string& database_path);

// Runs the tool; returns the exit status.
int tavo_main(int argc, const char* const* argv);
