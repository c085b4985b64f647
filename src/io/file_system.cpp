#include "io/file_system.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
// Windows has no links nor FIFOs, and no owner or mode bits to keep.
constexpr int O_NONBLOCK = 0, O_CLOEXEC = 0;
static bool S_ISLNK(unsigned) { return false; }
static int lstat(const char* path, struct stat* about) { return stat(path, about); }
static int fsync(int fd) { return _commit(fd); }
static int fchmod(int, unsigned) { return 0; }
static int fchown(int, int, int) { return 0; }
#else
#include <dirent.h>
#include <unistd.h>
constexpr int O_BINARY = 0;
#endif

namespace {

// The temporary file of the replacement under way, for the signal handler: a
// run has at most one at a time. While it is made, renamed or removed, the
// signals are held, so that the handler never removes a file of that name
// that the run does not own.
char pending_temp[4096];
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
    if (temp_pending != 0) DeleteFileA(pending_temp);
    temp_pending = 0;
    return FALSE;
}

// Creates path for writing; fails (EEXIST) when anything of that name exists.
int create_new(const std::string& path) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
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

// Another process may hold the target for a moment (a virus scanner, an
// indexer, another run): the move is tried again for about a second.
int move_over(const char* from, const char* to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
        const DWORD error = GetLastError();
        const bool held_by_another =
            error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held_by_another || attempt == 20) return 1;
        Sleep(50);
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
    if (temp_pending != 0) unlink(pending_temp);
    temp_pending = 0;
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

int create_new(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
}

int move_over(const char* from, const char* to) { return std::rename(from, to); }

#endif

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
        if (temp_path.size() >= sizeof pending_temp) break;  // longer than any path the system takes
        hold_signals(true);
        const int fd = create_new(temp_path);
        const int error = errno;
        if (fd >= 0) {
            std::memcpy(pending_temp, temp_path.c_str(), temp_path.size() + 1);
            temp_pending = 1;
        }
        hold_signals(false);
        if (fd >= 0) return fd;
        if (error != EEXIST) break;
    }
    temp_path.clear();
    return -1;
}

}  // namespace

void prepare_process() {
#ifdef _WIN32
    // The runtime keeps descriptors 0 to 2 for the standard streams even when
    // the process was started without them.
    SetConsoleCtrlHandler(remove_pending_on_break, TRUE);
#else
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR);  // the lowest free descriptor: fd itself
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    for (const int s : ENDING_SIGNALS) {
        struct sigaction action {};
        sigaction(s, nullptr, &action);
        if (action.sa_handler == SIG_IGN) continue;  // ignored as the caller wished (nohup, trap '')
        action.sa_handler = remove_pending_then_end;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(s, &action, nullptr);
    }
#endif
}

std::FILE* open_regular_file(const std::string& path, std::uint64_t& size) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_BINARY | O_CLOEXEC);
    struct stat about {};
    std::FILE* file = fd >= 0 && fstat(fd, &about) == 0 && S_ISREG(about.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    size = file != nullptr ? static_cast<std::uint64_t>(about.st_size) : 0;
    return file;
}

std::FILE* create_replacement(const std::string& path, Replacement& replacement) {
    replacement = {path, ""};
    struct stat about {};
    const bool exists = lstat(path.c_str(), &about) == 0;
    const bool regular = exists && S_ISREG(about.st_mode);
    if (exists && (regular ? access(path.c_str(), W_OK) != 0 : !S_ISLNK(about.st_mode))) return nullptr;
    const int fd = create_temp(folder_of(path), replacement.temp_path);
    if (fd < 0) return nullptr;
    if (regular) {
        if (fchown(fd, about.st_uid, about.st_gid) != 0) {}  // kept where the system allows
        fchmod(fd, about.st_mode & 07777);
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        replace_file(nullptr, replacement, false, false);
    }
    return file;
}

int replace_file(std::FILE* file, Replacement& replacement, bool written, bool sync) {
    if (file != nullptr) {
        written = written && std::fflush(file) == 0 && (!sync || fsync(fileno(file)) == 0);
        written = std::fclose(file) == 0 && written;
    }
    if (replacement.temp_path.empty()) return 1;
    hold_signals(true);
    const bool moved = written && move_over(replacement.temp_path.c_str(), replacement.path.c_str()) == 0;
    if (!moved) std::remove(replacement.temp_path.c_str());
    temp_pending = 0;
    hold_signals(false);
    replacement.temp_path.clear();
    return moved ? 0 : 1;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of(PATH_SEPARATORS) + 1); }

bool path_exists(const std::string& path) {
    struct stat about {};
    return lstat(path.c_str(), &about) == 0;
}

std::string current_folder() {
    const std::unique_ptr<char, decltype(&std::free)> folder(getcwd(nullptr, 0), &std::free);
    return folder ? folder.get() : ".";
}

#ifdef _WIN32

std::string follow_links(const std::string& path) { return path; }

int list_folder(std::vector<std::string>& names) {
    names.clear();
    _finddata_t entry{};
    const intptr_t handle = _findfirst("*", &entry);
    if (handle == -1) return errno == ENOENT ? 0 : 1;  // a drive's root may hold nothing
    do names.emplace_back(entry.name);
    while (_findnext(handle, &entry) == 0);
    const int status = errno == ENOENT ? 0 : 1;  // the end of the listing, or a read error
    _findclose(handle);
    return status;
}

// A file is its volume and its index on the volume.
bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION info[2]{};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = CreateFileA((i == 0 ? a : b).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                        FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info[i]);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!known) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
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

bool same_file(const std::string& a, const std::string& b) {
    struct stat about_a {};
    struct stat about_b {};
    return stat(a.c_str(), &about_a) == 0 && stat(b.c_str(), &about_b) == 0 && about_a.st_dev == about_b.st_dev &&
           about_a.st_ino == about_b.st_ino;
}

#endif
