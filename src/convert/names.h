// Names on both sides of a conversion: the record name a BMP file gives,
// the file a record is written to, and which files import takes. Record
// names are Windows-1252. On Windows file names pass through as they are;
// elsewhere they are UTF-8 and are converted both ways.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The file name in Windows-1252 less a three-letter extension (".bmp",
// ".BMP", ...). A character Windows-1252 lacks becomes '_'; a letter and a
// combining accent become one character where Windows-1252 has it.
std::string record_name_of(std::string_view file_name);

// The file a record is written to: its name plus ".bmp", made safe to create
// in the current folder on every platform, and " (copy)" before the ".bmp"
// from the second copy on. Path separators, the characters Windows forbids
// (: * ? " < > |), control characters and the bytes Windows-1252 leaves
// undefined become '_'; a Windows device name (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0-9, LPT0-9, COM and LPT with a superscript 1-3) gets a '_' in
// front.
std::string output_file_name(std::string_view record_name, unsigned copy = 1);

// One key for file names that differ only in letter case, as Windows and
// macOS see them: the name's characters with the letters of Windows-1252
// (ASCII and the accented ones) in upper case.
std::u32string name_key(std::string_view file_name);

// Sorts file names by name_key, names of one key by their bytes.
void sort_by_name(std::vector<std::string>& names);

// True when name ends in ".bmp" in any mix of letter case.
bool has_bmp_suffix(std::string_view name);
