// What differs between Windows and the POSIX systems, behind plain functions.
#pragma once

#include <string>
#include <vector>

// The names of the current folder's entries that end in ".bmp" (any case),
// in the order the platform lists them. FIFOs, sockets and devices are left
// out: opening one could wait forever. Returns 1 when the folder cannot be
// listed.
int list_bmp_files(std::vector<std::string>& names);

// True when both paths name one existing file, however they are spelled
// (letter case, "./", links).
bool same_file(const std::string& a, const std::string& b);
