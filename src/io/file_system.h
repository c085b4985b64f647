// The file system as the tool uses it, the same on Windows and POSIX systems.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
inline constexpr bool ON_WINDOWS = true;
#else
inline constexpr bool ON_WINDOWS = false;
#endif

// What ends a path's folder part: '/', and on Windows '\\' and a drive's ':' too.
inline constexpr std::string_view PATH_SEPARATORS = ON_WINDOWS ? "/\\:" : "/";

#ifdef _WIN32
// Between the UTF-8 the tools use for names and text and Windows' UTF-16:
// the one place where the two meet.
std::wstring to_utf16(std::string_view text);
std::string to_utf8(std::wstring_view text);

// Runs program with the wide arguments of wmain in UTF-8.
int run_with_utf8_arguments(int argc, wchar_t** argv, int (*program)(int, const char* const*));
#endif

// Holds each of the standard descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes its place and receives the console's text: on
// the null device or, where there is none (a minimal container, a chroot),
// on the root folder opened to read, which no write goes into. Has the
// console checked as the run exits (check_console_at_exit), and the signals
// that end a run (Ctrl-C and Ctrl-Break on Windows) remove an unfinished
// file's temporary file first. A file size limit makes a write fail (EFBIG)
// instead of ending the run. Called once, at the start of a run; 1 when a
// closed descriptor cannot be held: the run must end at once.
int prepare_process();

// A program's whole run: the process prepared, then run, told whether
// Explorer started it; then, if it did, the wait for Enter (console.h).
int run_program(int argc, const char* const* argv, int (*run)(int argc, const char* const* argv, bool from_explorer));

// What tells one file from another, whatever path reaches it: its device and
// its number there (on Windows, its volume and its index on the volume).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool known = false;  // false: no file, or none that could be looked at
};
bool same_identity(const FileIdentity& a, const FileIdentity& b);  // both known and equal

// The identity of the file at path, links followed.
FileIdentity identity_of(const std::string& path);

// Where a path leads, links followed: the file there or, while there is none,
// the folder it would be made in and its name there.
struct FilePlace {
    FileIdentity file;
    FileIdentity folder;
    std::string name;
};
FilePlace place_of(const std::string& path);

// True when path leads to place, even to a file still missing there.
bool leads_to(const std::string& path, const FilePlace& place);

// Opens path to read, and tells its length and identity; nullptr (errno
// telling why) unless the opened file is regular: no FIFO is waited on. On
// Windows a file another process holds for a moment is waited for, about a
// second at most.
std::FILE* open_regular_file(const std::string& path, std::uint64_t& size, FileIdentity& identity);

// A file being written: a temporary file (".tavo-XXXXXX", readable by its
// owner alone) in the folder of its path, which takes its name only once it
// is complete and closed. It either replaces the file at its path, keeping
// that file's mode, owner, group, ACL and other extended attributes, or is a
// new file, which takes a name nothing has yet and replaces nothing.
struct PendingFile {
    std::string path;       // the path replaced; for a new file, the name it took
    std::string temp_path;  // empty once named or removed
    bool replaces = false;  // false: a new file
};

// The replacement of path. An existing path must be a writable regular file
// or a link, which is replaced, not followed. A missing path is not created
// until the rename, but a path that could not be renamed to is refused at
// once: one without a file name ("", "folder/") or with a name longer than
// its folder takes. nullptr on failure.
std::FILE* create_replacement(const std::string& path, PendingFile& file);

// A new file in folder (a path ending in a separator, or "" for the current
// one), named by name_new_file once finished; nullptr on failure.
std::FILE* create_new_file(const std::string& folder, PendingFile& file);

// Closes the file (synced first if asked) with the permissions it keeps; a
// replacement is then renamed over its path, a new file waits for its name.
// When written is false or a step fails, the file is removed and the result
// is 1. The path itself is never removed.
int finish_file(std::FILE* stream, PendingFile& file, bool written, bool sync);

// Gives a finished new file the name path, never over anything of that name:
// 1 with taken set when something has it (the file waits for another name),
// 1 with the file removed when the name cannot be given.
int name_new_file(PendingFile& file, const std::string& path, bool& taken);

// The folder part of path, with its separator: "" for a name alone.
std::string folder_of(const std::string& path);

// True when something (a file, a folder, a link, even a dangling one) is named path.
bool path_exists(const std::string& path);

// The path a chain of links at path ends in, even when that is missing;
// path when it is no link.
std::string follow_links(const std::string& path);

// The current folder's full path, for messages.
std::string current_folder();

// path from the root: as it is when it is, otherwise in the current folder.
std::string full_path(const std::string& path);

// Makes folder the current one; 1 when it cannot be.
int change_folder(const std::string& folder);

// The current folder's entries in the platform's order; 1 when it cannot be listed.
int list_folder(std::vector<std::string>& names);

// True when both paths name one existing file, however spelled (case, "./", links).
bool same_file(const std::string& a, const std::string& b);

// Why a file could not be opened, read or written, in plain words, from
// the errno code of the failure: "no such file", "it is a folder", "no
// permission", "the disk is full"...
std::string reason_of(int error);

// Makes the folder path and its missing parents; made tells whether any was
// made. 1 unless path is a folder afterwards.
int make_folders(const std::string& path, bool& made);
