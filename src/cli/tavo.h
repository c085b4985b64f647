// The tool as the user meets it: command line, usage text and the two run
// modes. tavo_main is the whole program; main only calls it.
#pragma once

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
    std::string database_path = DEFAULT_DATABASE_PATH;
};

// Reads the arguments after the program name into options.
Options parse_arguments(int argc, const char* const* argv);

void print_usage();

// Writes every picture of the database as a BMP file in the current folder.
// Returns 1 when the database cannot be opened or read.
int export_images(const std::string& database_path);

// Converts every BMP file of the current folder into a new database.
// Returns 1 when the database file cannot be created or written.
int import_images(const std::string& database_path);

// Runs the tool; returns the exit status.
int tavo_main(int argc, const char* const* argv);
