#include "io/file_system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
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
void keep_owner_and_mode(int, const FileStatus&) {}
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
// Where the owner cannot be kept (only root gives a file away), the group
// still is when the user is in it, as cp -p does: a shared file stays shared.
void keep_owner_and_mode(int fd, const FileStatus& about) {
    if (fchown(fd, about.st_uid, about.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), about.st_gid) != 0) {}
    fchmod(fd, about.st_mode & 07777);
}
#endif

// The temporary file of the replacement under way, for the signal handler: a
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

// Creates path for writing; fails (EEXIST) when anything of that name exists.
int create_new(const std::wstring& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
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
        if (!wait_if_held(GetLastError(), attempt)) return -1;
    }
}

int move_over(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
        const DWORD error = GetLastError();  // a target held or being deleted is denied access
        if (!wait_if_held(error == ERROR_ACCESS_DENIED ? ERROR_SHARING_VIOLATION : error, attempt)) return 1;
    }
}

#else

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};
sigset_t mask_before_hold;

void hold_signals(bool hold) {
    if (!hold) {
        sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
        return;
    }
    sigset_t ending;
    sigemptyset(&ending);
    for (const int s : ENDING_SIGNALS) sigaddset(&ending, s);
    sigprocmask(SIG_BLOCK, &ending, &mask_before_hold);
}

// Removes the temporary file, then ends the run as the signal would: raised
// again with its default action, it arrives once the handler returns.
extern "C" void remove_pending_then_end(int signal_number) {
    if (temp_pending != 0) remove_file(pending_temp);
    temp_pending = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

int create_new(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }

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

int move_over(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }

#endif

// Creates path, which must not exist, and makes it the pending file: -1
// (errno EEXIST when anything of that name exists) on failure.
int create_pending(const std::string& path) {
    const auto native_path = native(path);
    if (native_path.size() >= std::size(pending_temp)) {  // longer than any path the system takes
        errno = ENAMETOOLONG;
        return -1;
    }
    hold_signals(true);
    const int fd = create_new(native_path);
    const int error = errno;
    if (fd >= 0) {
        std::copy(native_path.c_str(), native_path.c_str() + native_path.size() + 1, pending_temp);
        temp_pending = 1;
    }
    hold_signals(false);
    errno = error;
    return fd;
}

// Creates a file ".tavo-" and six letters or digits in folder, a name no other
// run uses, and makes it the pending temporary file; -1 on failure.
int create_temp(const std::string& folder, std::string& temp_path) {
    static constexpr char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::uint64_t state = static_cast<std::uint64_t>(getpid()) << 32 ^
                                 static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        state = state * 6364136223846793005u + 1442695040888963407u;  // a step of a linear congruential generator
        std::uint64_t bits = state >> 16;
        temp_path = folder + ".tavo-";
        for (int k = 0; k < 6; ++k, bits /= 62) temp_path += LETTERS[bits % 62];
        const int fd = create_pending(temp_path);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    temp_path.clear();
    return -1;
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
    for (const int s : ENDING_SIGNALS) {
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
    std::FILE* file = fd >= 0 && status_of(fd, about) == 0 && S_ISREG(about.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    size = file != nullptr ? static_cast<std::uint64_t>(about.st_size) : 0;
    identity = file != nullptr ? identity_of_open(fd, about) : FileIdentity{};
    return file;
}

// The made file as a stream; when that fails, the file is removed.
static std::FILE* stream_of_pending(int fd, Replacement& replacement) {
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        replace_file(nullptr, replacement, false, false);
    }
    return file;
}

std::FILE* create_replacement(const std::string& path, Replacement& replacement) {
    replacement = {path, ""};
    const std::string folder = folder_of(path);
    if (path.size() == folder.size() || !fits_folder(folder, path.substr(folder.size()))) return nullptr;
    FileStatus about{};
    const bool exists = status_of(path, about) == 0;
    const bool regular = exists && S_ISREG(about.st_mode);
    if (exists && (regular ? !is_writable(path) : !is_link(about))) return nullptr;
    const int fd = create_temp(folder, replacement.temp_path);
    if (fd < 0) return nullptr;
    if (regular) keep_owner_and_mode(fd, about);
    return stream_of_pending(fd, replacement);
}

int replace_file(std::FILE* file, Replacement& replacement, bool written, bool sync) {
    if (file != nullptr) {
        written = written && std::fflush(file) == 0 && (!sync || sync_file(fileno(file)) == 0);
        written = std::fclose(file) == 0 && written;
    }
    if (replacement.temp_path.empty()) return 1;
    const auto temp = native(replacement.temp_path);
    hold_signals(true);
    const bool in_place = replacement.temp_path == replacement.path;  // a new file made where it stays
    const bool moved = written && (in_place || move_over(temp, native(replacement.path)) == 0);
    if (!moved) remove_file(temp.c_str());
    temp_pending = 0;
    hold_signals(false);
    replacement.temp_path.clear();
    return moved ? 0 : 1;
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

std::FILE* create_new_file(const std::string& path, Replacement& replacement, bool& exists) {
    replacement = {path, ""};
    const int fd = create_pending(path);
    exists = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;  // nothing of ours to remove
    replacement.temp_path = path;
    return stream_of_pending(fd, replacement);
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
