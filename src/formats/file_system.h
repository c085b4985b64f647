// The file system as the tool uses it, the same on Windows and POSIX systems.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
inline constexpr bool ON_WINDOWS = true;
#else
inline constexpr bool ON_WINDOWS = false;
#endif

// Opens path to read, or nullptr unless the opened file is regular: no FIFO is waited on.
std::FILE* open_regular_file(const std::string& path);

// A new file beside path, which replace_file puts in its place. A missing path is
// created empty first, so that a listing shows it as before; an existing one must be
// a writable regular file (whose permissions it keeps) or a link (replaced, not followed).
struct Replacement {
    std::string path;
    std::string temp_path;
    bool created = false;  // path was made here and goes when the write fails
};
std::FILE* create_replacement(const std::string& path, Replacement& replacement);  // nullptr on failure

// Closes the new file (synced first if asked) and renames it over the path; when
// written is false or a step fails, removes it and what create_replacement made (1).
int replace_file(std::FILE* file, const Replacement& replacement, bool written, bool sync);

// The file path names once links are followed; path when it names nothing.
std::string resolve_links(const std::string& path);

// The current folder's entries in the platform's order; 1 when it cannot be listed.
int list_folder(std::vector<std::string>& names);

// True when both paths name one existing file, however spelled (case, "./", links).
bool same_file(const std::string& a, const std::string& b);
