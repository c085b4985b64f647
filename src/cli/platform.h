// What differs between Windows and the POSIX systems, behind plain functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when name ends in ".bmp" in any mix of letter case.
bool has_bmp_suffix(std::string_view name);

// The names of the current folder's entries that end in ".bmp" (any case),
// in the order the platform lists them. Returns 1 when the folder cannot be
// listed.
int list_bmp_files(std::vector<std::string>& names);
