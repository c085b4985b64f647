// What differs between Windows and the POSIX systems, behind plain functions.
#pragma once

#include <string>
#include <vector>

// The names of the current folder's entries that end in ".bmp" (any case),
// in the order the platform lists them. Returns 1 when the folder cannot be
// listed.
int list_bmp_files(std::vector<std::string>& names);
