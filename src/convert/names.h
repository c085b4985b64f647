// Names on both sides of a conversion: the record name a BMP file gives,
// the file a record is written to, and which files import takes.
#pragma once

#include <string>
#include <string_view>

// The file name less a three-letter extension (".bmp", ".BMP", ...).
std::string record_name_of(std::string_view file_name);

// The file a record is written to: its name plus ".bmp", made safe to create
// in the current folder on every platform. Path separators, the characters
// Windows forbids (: * ? " < > |) and control characters become '_'; a
// Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) gets a '_' in front.
std::string output_file_name(std::string_view record_name);

// True when name ends in ".bmp" in any mix of letter case.
bool has_bmp_suffix(std::string_view name);
