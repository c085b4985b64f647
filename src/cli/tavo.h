// The tool as the user meets it: command line, usage text and the two run
// modes. tavo_main is the whole program; main only calls it.
#pragma once

#include <optional>
#include <string>

#include "io/file_system.h"

inline constexpr char DEFAULT_DATABASE_PATH[] = "Umbralith_DB.PDB";

// On Windows every argument may carry a '/' before an option; elsewhere '/'
// also begins an absolute path.
inline constexpr bool SLASH_BEGINS_PATHS = !ON_WINDOWS;

struct Options {
    bool import = false;
    bool usage = false;
    bool version = false;
    std::optional<std::string> database_path;  // none: the default database
};

// Reads the arguments after the program name into options.
Options parse_arguments(int argc, const char* const* argv);

void print_usage();

// Writes every picture of the database as a BMP file in the current folder.
// Returns 1 when the database cannot be read or a picture cannot be written.
int export_images(const std::string& database_path);

// Converts every BMP file of the current folder into a new database that
// replaces the old one once complete. Returns 1 when the database is a BMP
// file or cannot be written, or a file or the folder cannot be read.
int import_images(const std::string& database_path);

// Runs the tool; returns the exit status.
int tavo_main(int argc, const char* const* argv);
