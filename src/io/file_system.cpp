#include "io/file_system.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include "io/console.h"
#include "io/permissions.h"

namespace {

// Paths as the system takes them: UTF-16 on Windows, the tool's own bytes
// elsewhere. Windows has no links nor FIFOs, and no owner or mode bits to keep.
#ifdef _WIN32
using NativeChar = wchar_t;
using FileStatus = struct _stat64;
std::wstring native(const std::string& path) { return to_utf16(path); }
int status_of(const std::string& path, FileStatus& about) { return _wstat64(native(path).c_str(), &about); }
int status_of(int fd, FileStatus& about) { return _fstat64(fd, &about); }
bool is_link(const FileStatus&) { return false; }
int open_to_read(const std::string& path);  // waits for a file held for a moment: below
bool is_writable(const std::string& path) { return _waccess(native(path).c_str(), 2) == 0; }
bool fits_folder(const std::string&, const std::string& name) { return native(name).size() <= 255; }
FileIdentity identity_of_handle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return {};
    return {info.dwVolumeSerialNumber, static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow, true};
}
FileIdentity identity_of_open(int fd, const FileStatus&) {
    return identity_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}
int remove_file(const NativeChar* path) { return DeleteFileW(path) ? 0 : 1; }
int sync_file(int fd) { return _commit(fd); }
#else
using NativeChar = char;
using FileStatus = struct stat;
const std::string& native(const std::string& path) { return path; }
int status_of(const std::string& path, FileStatus& about) { return lstat(path.c_str(), &about); }
int status_of(int fd, FileStatus& about) { return fstat(fd, &about); }
bool is_link(const FileStatus& about) { return S_ISLNK(about.st_mode); }
int open_to_read(const std::string& path) { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
bool is_writable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }
bool fits_folder(const std::string& folder, const std::string& name) {
    const long most = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);  // -1: no limit known
    return most < 0 || name.size() <= static_cast<std::size_t>(most);
}
FileIdentity identity_of_status(const FileStatus& about) {
    return {static_cast<std::uint64_t>(about.st_dev), static_cast<std::uint64_t>(about.st_ino), true};
}
FileIdentity identity_of_open(int, const FileStatus& about) { return identity_of_status(about); }
int remove_file(const NativeChar* path) { return unlink(path); }
int sync_file(int fd) { return fsync(fd); }
#endif

// The temporary file of the file being written, for the signal handler: a
// run has at most one at a time. While it is made, renamed or removed, the
// signals are held, so that the handler never removes a file of that name
// that the run does not own.
NativeChar pending_temp[4096];
volatile std::sig_atomic_t temp_pending = 0;

#ifdef _WIN32

// A console break is handled on a thread of its own: the lock plays the part
// of held signals.
SRWLOCK held = SRWLOCK_INIT;

void hold_signals(bool hold) {
    if (hold) AcquireSRWLockExclusive(&held);
    else ReleaseSRWLockExclusive(&held);
}

// Ctrl-C, Ctrl-Break, a closed console: the temporary file goes (it is open
// with delete sharing, so it goes once the process ends), then the default
// handler ends the process. The lock stays taken, so no new file is made.
BOOL WINAPI remove_pending_on_break(DWORD) {
    AcquireSRWLockExclusive(&held);
    if (temp_pending != 0) remove_file(pending_temp);
    temp_pending = 0;
    return FALSE;
}

// The errno code of a Windows error, for reason_of.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return ENOENT;
        case ERROR_ACCESS_DENIED: return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        default: return EIO;
    }
}

// Creates path for writing; fails (EEXIST) when anything of that name
// exists. No other program opens it while it is written; it can be deleted
// by name, as a console break does.
int create_new(const std::wstring& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    return fd;
}

// Another process may hold a file for a moment (a virus scanner, an indexer,
// another run, an export rewriting a picture): a step that failed with error
// is tried again, 20 times 50 ms at most. True after the wait before the next
// attempt; false when error is another, or the attempts are spent.
bool wait_if_held(DWORD error, int attempt) {
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || attempt == 20) return false;
    Sleep(50);
    return true;
}

int open_to_read(const std::string& path) {
    const std::wstring name = native(path);
    for (int attempt = 0;; ++attempt) {
        const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
            if (fd < 0) CloseHandle(handle);
            return fd;
        }
        const DWORD error = GetLastError();
        if (wait_if_held(error, attempt)) continue;
        const DWORD attributes = GetFileAttributesW(name.c_str());  // a folder is denied access
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        errno = folder ? EISDIR : errno_of(error);
        return -1;
    }
}

// Renames from to to, over an existing file or (replace false) never: then
// -1 with errno EEXIST when to exists.
int move_file(const std::wstring& from, const std::wstring& to, bool replace) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return 0;
        const DWORD error = GetLastError();
        errno = errno_of(error);
        // a target held or being deleted is denied access
        if (!wait_if_held(error == ERROR_ACCESS_DENIED ? ERROR_SHARING_VIOLATION : error, attempt)) return -1;
    }
}

#else

// The signals whose default action ends the run, all but those of the
// program's own faults (SIGSEGV, SIGBUS...) and SIGXFSZ, which is ignored so
// that a file size limit fails a write instead; the real-time signals too.
constexpr int ENDING_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGPIPE, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,
#ifdef SIGPWR
                                  SIGPWR,
#endif
#ifdef SIGSTKFLT
                                  SIGSTKFLT,
#endif
};
sigset_t ending_signals;  // ENDING_SIGNALS and the real-time signals, once the run is prepared
sigset_t mask_before_hold;

void hold_signals(bool hold) {
    if (hold) sigprocmask(SIG_BLOCK, &ending_signals, &mask_before_hold);
    else sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

// Removes the temporary file, then ends the run as the signal would: raised
// again with its default action, it arrives once the handler returns.
extern "C" void remove_pending_then_end(int signal_number) {
    if (temp_pending != 0) remove_file(pending_temp);
    temp_pending = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

int create_new(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, FILE_OWNER_ONLY);
}

// Opens what holds the closed descriptor fd (the lowest free one, fd itself):
// the null device, or the root folder, to read; 1 when neither opens.
int hold_descriptor(int fd) {
    int held = open("/dev/null", O_RDWR);
    if (held < 0) held = open("/", O_RDONLY | O_DIRECTORY);
    if (held >= 0 && held != fd) {
        dup2(held, fd);
        close(held);
    }
    return held >= 0 ? 0 : 1;
}

// Renames from to to, over an existing file or (replace false) never: then
// -1 with errno EEXIST when to exists. Without a rename that never
// replaces, the file is linked to its new name, then unlinked from the old.
int move_file(const std::string& from, const std::string& to, bool replace) {
    if (replace) return std::rename(from.c_str(), to.c_str());
#if defined(__linux__)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#elif defined(__APPLE__)
    if (renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return 0;
    if (errno != ENOTSUP) return -1;
#endif
    if (link(from.c_str(), to.c_str()) != 0) return -1;
    unlink(from.c_str());
    return 0;
}

#endif

// Creates a file ".tavo-" and six letters or digits in folder, a name no
// other run uses, readable by its owner alone, and makes it the pending
// file; -1 on failure.
int create_temp(const std::string& folder, std::string& temp_path) {
    static constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::uint64_t state = static_cast<std::uint64_t>(getpid()) << 32 ^
                                 static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        state = state * 6364136223846793005u + 1442695040888963407u;  // a step of a linear congruential generator
        std::uint64_t bits = state >> 16;
        temp_path = folder + ".tavo-";
        for (int k = 0; k < 6; ++k, bits /= 62) temp_path += LETTERS[bits % 62];
        const auto native_path = native(temp_path);
        if (native_path.size() >= std::size(pending_temp)) break;  // longer than any path the system takes
        hold_signals(true);
        const int fd = create_new(native_path);
        const int error = errno;
        if (fd >= 0) {
            std::copy(native_path.c_str(), native_path.c_str() + native_path.size() + 1, pending_temp);
            temp_pending = 1;
        }
        hold_signals(false);
        if (fd >= 0) return fd;
        if (error != EEXIST) break;
    }
    temp_path.clear();
    return -1;
}

// Ends the pending file: moved to *to (over what is there when replace), or
// removed when to is nullptr or the move fails. A new file whose name is
// taken stays pending, taken set, for another name.
int end_pending(PendingFile& file, const std::string* to, bool replace, bool& taken) {
    const auto temp = native(file.temp_path);
    hold_signals(true);
    const bool moved = to != nullptr && move_file(temp, native(*to), replace) == 0;
    const int error = errno;  // why it failed, whatever the cleaning up does
    taken = !moved && to != nullptr && !replace && error == EEXIST;
    if (!moved && !taken) remove_file(temp.c_str());
    if (!taken) temp_pending = 0;
    hold_signals(false);
    if (!taken) file.temp_path.clear();
    if (moved) file.path = *to;
    errno = error;
    return moved ? 0 : 1;
}

// The made file as a stream; when that fails, the file is removed.
std::FILE* stream_of_pending(int fd, PendingFile& file) {
    std::FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    bool taken = false;
    if (stream == nullptr && fd >= 0) {
        close(fd);
        end_pending(file, nullptr, false, taken);
    }
    return stream;
}

// The permissions the finished file keeps: those of the file it replaces, or
// those of a new file in its folder.
int give_permissions(int fd, const PendingFile& file) {
    return file.replaces ? keep_permissions(fd, file.path) : give_new_file_permissions(fd, folder_of(file.temp_path));
}

}  // namespace

#ifdef _WIN32

std::wstring to_utf16(std::string_view text) {
    const auto size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string to_utf8(std::wstring_view text) {
    const auto size = static_cast<int>(text.size());
    std::string utf8(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    return utf8;
}

int run_with_utf8_arguments(int argc, wchar_t** argv, int (*program)(int, const char* const*)) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(to_utf8(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return program(argc, pointers.data());
}

#endif

int prepare_process() {
#ifdef _WIN32
    // The runtime keeps descriptors 0 to 2 for the standard streams even when
    // the process was started without them.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    check_console_at_exit(out == nullptr || out == INVALID_HANDLE_VALUE);
    SetConsoleCtrlHandler(remove_pending_on_break, TRUE);
    return 0;
#else
    const auto closed = [](int fd) { return fcntl(fd, F_GETFD) < 0 && errno == EBADF; };
    check_console_at_exit(closed(1));
    for (int fd = 0; fd <= 2; ++fd)
        if (closed(fd) && hold_descriptor(fd) != 0) return 1;
    std::signal(SIGXFSZ, SIG_IGN);
    sigemptyset(&ending_signals);
    for (const int s : ENDING_SIGNALS) sigaddset(&ending_signals, s);
#ifdef SIGRTMIN
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&ending_signals, s);
#endif
    for (int s = 1; s < NSIG; ++s) {
        if (sigismember(&ending_signals, s) != 1) continue;
        struct sigaction action {};
        sigaction(s, nullptr, &action);
        if (action.sa_handler == SIG_IGN) continue;  // ignored as the caller wished (nohup, trap '')
        action.sa_handler = remove_pending_then_end;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(s, &action, nullptr);
    }
    return 0;
#endif
}

int run_program(int argc, const char* const* argv, int (*run)(int, const char* const*, bool)) {
    if (prepare_process() != 0) return 1;
    const bool from_explorer = started_from_explorer();
    const int status = run(argc, argv, from_explorer);
    if (from_explorer) wait_for_enter();
    return status;
}

bool same_identity(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.number == b.number;
}

FilePlace place_of(const std::string& path) {
    const std::string at = follow_links(path);
    FilePlace place{identity_of(at), {}, ""};
    if (place.file.known) return place;
    const std::string folder = folder_of(at);
    place.folder = identity_of(folder.empty() ? "." : folder);
    place.name = at.substr(folder.size());
    return place;
}

bool leads_to(const std::string& path, const FilePlace& place) {
    const FilePlace other = place_of(path);
    if (place.file.known) return same_identity(other.file, place.file);
    return !other.file.known && same_identity(other.folder, place.folder) && other.name == place.name;
}

std::FILE* open_regular_file(const std::string& path, std::uint64_t& size, FileIdentity& identity) {
    const int fd = open_to_read(path);
    FileStatus about{};
    const bool regular = fd >= 0 && status_of(fd, about) == 0 && S_ISREG(about.st_mode);
    std::FILE* file = regular ? fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && !regular) errno = S_ISDIR(about.st_mode) ? EISDIR : ENODEV;
    if (file == nullptr && fd >= 0) close(fd);
    size = file != nullptr ? static_cast<std::uint64_t>(about.st_size) : 0;
    identity = file != nullptr ? identity_of_open(fd, about) : FileIdentity{};
    return file;
}

std::FILE* create_replacement(const std::string& path, PendingFile& file) {
    file = {path, "", true};
    const std::string folder = folder_of(path);
    if (path.size() == folder.size() || !fits_folder(folder, path.substr(folder.size()))) return nullptr;
    FileStatus about{};
    const bool exists = status_of(path, about) == 0;
    if (exists && (S_ISREG(about.st_mode) ? !is_writable(path) : !is_link(about))) return nullptr;
    return stream_of_pending(create_temp(folder, file.temp_path), file);
}

std::FILE* create_new_file(const std::string& folder, PendingFile& file) {
    file = {};
    return stream_of_pending(create_temp(folder, file.temp_path), file);
}

int finish_file(std::FILE* stream, PendingFile& file, bool written, bool sync) {
    if (stream != nullptr) {
        const int fd = fileno(stream);
        written = written && std::fflush(stream) == 0 && give_permissions(fd, file) == 0 &&
                  (!sync || sync_file(fd) == 0);
        written = std::fclose(stream) == 0 && written;
    }
    if (file.temp_path.empty()) return 1;
    if (written && !file.replaces) return 0;  // it waits for its name
    bool taken = false;
    return end_pending(file, written ? &file.path : nullptr, true, taken);
}

int name_new_file(PendingFile& file, const std::string& path, bool& taken) {
    taken = false;
    return file.temp_path.empty() ? 1 : end_pending(file, &path, false, taken);
}

std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of(PATH_SEPARATORS) + 1); }

bool path_exists(const std::string& path) {
    FileStatus about{};
    return status_of(path, about) == 0;
}

#ifdef _WIN32

std::string follow_links(const std::string& path) { return path; }

std::string current_folder() {
    const std::unique_ptr<wchar_t, decltype(&std::free)> folder(_wgetcwd(nullptr, 0), &std::free);
    return folder ? to_utf8(folder.get()) : ".";
}

int list_folder(std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAW entry{};
    const HANDLE listing = FindFirstFileW(L"*", &entry);
    if (listing == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : 1;  // a drive's root may hold nothing
    do names.push_back(to_utf8(entry.cFileName));
    while (FindNextFileW(listing, &entry));
    const int status = GetLastError() == ERROR_NO_MORE_FILES ? 0 : 1;  // the end of the listing, or a read error
    FindClose(listing);
    return status;
}

// Opened for nothing but its information, folders too.
FileIdentity identity_of(const std::string& path) {
    const HANDLE file = CreateFileW(native(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    const FileIdentity identity = identity_of_handle(file);
    CloseHandle(file);
    return identity;
}

#else

std::string follow_links(const std::string& path) {
    std::string at = path;
    std::vector<char> target(4096);
    for (int hop = 0; hop < 40; ++hop) {  // as many as the system follows
        const ssize_t length = readlink(at.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) == target.size()) break;  // no link, or none to follow
        const std::string to(target.data(), static_cast<std::size_t>(length));
        at = to.starts_with('/') ? to : folder_of(at) + to;
    }
    return at;
}

std::string current_folder() {
    const std::unique_ptr<char, decltype(&std::free)> folder(getcwd(nullptr, 0), &std::free);
    return folder ? folder.get() : ".";
}

int list_folder(std::vector<std::string>& names) {
    names.clear();
    DIR* folder = opendir(".");
    if (folder == nullptr) return 1;
    errno = 0;
    while (const dirent* entry = readdir(folder)) names.emplace_back(entry->d_name);
    const int status = errno == 0 ? 0 : 1;  // a read error ends the listing early
    closedir(folder);
    return status;
}

FileIdentity identity_of(const std::string& path) {
    struct stat about {};
    return stat(path.c_str(), &about) == 0 ? identity_of_status(about) : FileIdentity{};
}

#endif

std::string full_path(const std::string& path) {
#ifdef _WIN32
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(to_utf16(path)), error);
    return error ? path : to_utf8(full.native());
#else
    return path.starts_with('/') ? path : current_folder() + "/" + path;
#endif
}

int change_folder(const std::string& folder) {
#ifdef _WIN32
    return SetCurrentDirectoryW(native(folder).c_str()) ? 0 : 1;
#else
    return chdir(folder.c_str()) == 0 ? 0 : 1;
#endif
}

int make_folders(const std::string& path, bool& made) {
#ifdef _WIN32
    const std::filesystem::path folder(to_utf16(path));
#else
    const std::filesystem::path folder(path);
#endif
    std::error_code error;
    made = std::filesystem::create_directories(folder, error);
    return !error && std::filesystem::is_directory(folder, error) ? 0 : 1;
}

bool same_file(const std::string& a, const std::string& b) { return same_identity(identity_of(a), identity_of(b)); }

std::string reason_of(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return "no such file";
        case EISDIR: return "it is a folder";
        case ENODEV: return "it is no regular file";
        case EACCES:
        case EPERM: return "no permission";
        case EBUSY: return "another program holds it";
        case EROFS: return "the disk is read-only";
        case ENOSPC: return "the disk is full";
#ifdef EDQUOT
        case EDQUOT: return "the disk quota is used up";
#endif
        case EFBIG: return "the file size limit is reached";
        case ENAMETOOLONG: return "the name is too long";
        default: {
            std::string words = std::strerror(error);
            if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
            return words;
        }
    }
}
