// What differs between Windows and the POSIX systems, behind plain functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The names of the current folder's entries that are wanted, sorted by name
// (sort_by_name), the same on every platform. FIFOs, sockets and devices are
// left out: opening one could wait forever. Returns 1 when the folder cannot
// be listed.
int list_files(std::vector<std::string>& names, bool (*wanted)(std::string_view name));

// True when both paths name one existing file, however they are spelled
// (letter case, "./", links).
bool same_file(const std::string& a, const std::string& b);
