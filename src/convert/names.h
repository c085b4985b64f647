// Names on both sides of a conversion: the record name a BMP file gives,
// the file a record is written to, which files import takes and in what
// order, and how names show on the console. Record names are Windows-1252;
// file names are UTF-8 on every system (on Windows the io layer turns them
// into UTF-16 and back).
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The file name in Windows-1252 less a three-letter extension (".bmp",
// ".BMP", ...). A character Windows-1252 lacks becomes '_'; a letter and a
// combining accent become one character where Windows-1252 has it.
std::string record_name_of(std::string_view file_name);

// The file name a record gives, without ".bmp", safe to create in the
// current folder on every platform. Path separators, the characters Windows
// forbids (: * ? " < > |), control characters and the bytes Windows-1252
// leaves undefined become '_'; a Windows device name (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-9, LPT0-9, COM and LPT with a superscript 1-3) gets
// a '_' in front.
std::string file_stem_of_record(std::string_view record_name);

// The longest file name that Linux, macOS and Windows all take, in bytes.
inline constexpr std::size_t MAX_FILE_NAME_BYTES = 255;

// STEM.bmp, or "STEM (n).bmp" for the n-th copy from the second on; a stem
// too long for the name to fit MAX_FILE_NAME_BYTES is cut, after a whole
// UTF-8 character.
std::string numbered_file_name(std::string_view stem, unsigned copy);

// A file name without its folder and its extension, if any.
std::string_view stem_of(std::string_view path);

// The BMP files one run writes into a folder, so that none replaces another
// of the run (in any letter case) nor a file the run must keep.
struct WrittenFiles {
    std::vector<std::string> kept;                      // paths never written over
    std::set<std::u32string> taken;                     // name_key of each file name taken
    std::map<std::u32string, unsigned> copies_of_name;  // the last copy taken, by name_key of a stem
};

// A file name and its copy number (1 for STEM.bmp).
struct FileName {
    std::string name;
    unsigned copy = 1;
};

// The first of STEM.bmp, "STEM (2).bmp"... after the last this run took that
// it has not taken in folder (a path ending in a separator, or "" for the
// current one) and that is no kept file, whatever path reaches it: a
// database of one name throughout costs one try a record.
FileName free_file_name(const std::string& folder, std::string_view stem, const WrittenFiles& files);

// Takes a name of stem: a file of the run was made under it, or something
// already had it. A name is never taken by a file that could not be made.
void take_file_name(WrittenFiles& files, std::string_view stem, const FileName& name);

// One key for file names that differ only in letter case, as Windows and
// macOS see them: the letters of Windows-1252 in upper case.
std::u32string name_key(std::string_view file_name);

// Sorts file names by name_key, names of one key by their bytes.
void sort_by_name(std::vector<std::string>& names);

// A name as the console shows it: control characters (C0, DEL, and C1 as
// U+0080-U+009F) as '?', and every byte that is not part of valid UTF-8
// too, so that no name sends the terminal a command.
std::string shown(std::string_view name);

// True when name ends in ".bmp" in any mix of letter case.
bool has_bmp_suffix(std::string_view name);

// The pictures tavo-gray makes BMP files of, by extension, in the order a
// hint names them.
inline constexpr std::string_view GRAY_PICTURE_EXTENSIONS[] = {".jpg", ".jpeg", ".png", ".gif", ".webp", ".heic", ".heif", ".avif"};

// "*.jpg *.png": a pattern for each of GRAY_PICTURE_EXTENSIONS that names end
// in (in any letter case, spelled as the names spell it where patterns tell
// case apart), in that order; "" for none.
std::string gray_picture_patterns(const std::vector<std::string>& names);
