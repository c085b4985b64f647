#include "formats/file_system.h"

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
// Windows has no links nor FIFOs, keeps a replaced file's attributes, and
// moves a file over another only when asked to.
constexpr int O_NONBLOCK = 0, O_CLOEXEC = 0;
static bool S_ISLNK(unsigned) { return false; }
static int lstat(const char* path, struct stat* about) { return stat(path, about); }
static int fsync(int fd) { return _commit(fd); }
static int fchmod(int, unsigned) { return 0; }
static int move_over(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
#else
#include <dirent.h>
#include <unistd.h>
constexpr int O_BINARY = 0;
static int move_over(const char* from, const char* to) { return std::rename(from, to); }
#endif

// Creates path for writing; fails when anything of that name exists, a link included.
static int create_new(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
}

std::FILE* open_regular_file(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_BINARY | O_CLOEXEC);
    struct stat about {};
    std::FILE* file = fd >= 0 && fstat(fd, &about) == 0 && S_ISREG(about.st_mode) ? fdopen(fd, "rb") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    return file;
}

std::FILE* create_replacement(const std::string& path, Replacement& replacement) {
    replacement = {path, "", false};
    struct stat about {};
    const bool exists = lstat(path.c_str(), &about) == 0;
    const bool regular = exists && S_ISREG(about.st_mode);
    if (exists && (regular ? access(path.c_str(), W_OK) != 0 : !S_ISLNK(about.st_mode))) return nullptr;
    const int empty = exists ? -1 : create_new(path);  // made now, so that a listing shows it as before
    if (!exists && empty < 0) return nullptr;
    replacement.created = !exists;
    if (empty >= 0) close(empty);
    // A name no other run uses: this process's number, then a count past
    // the files a killed run left.
    int fd = -1;
    for (int n = 0; fd < 0 && n < 100 && (n == 0 || errno == EEXIST); ++n) {
        replacement.temp_path = path + "." + std::to_string(getpid()) + "-" + std::to_string(n) + ".tmp";
        fd = create_new(replacement.temp_path);
    }
    if (fd < 0) replacement.temp_path.clear();  // the name is another's
    if (fd >= 0 && regular) fchmod(fd, about.st_mode & 07777);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    if (file == nullptr) replace_file(nullptr, replacement, false, false);
    return file;
}

int replace_file(std::FILE* file, const Replacement& replacement, bool written, bool sync) {
    if (file != nullptr) {
        written = written && std::fflush(file) == 0 && (!sync || fsync(fileno(file)) == 0);
        written = std::fclose(file) == 0 && written;
    }
    if (written && move_over(replacement.temp_path.c_str(), replacement.path.c_str()) == 0) return 0;
    if (!replacement.temp_path.empty()) std::remove(replacement.temp_path.c_str());
    if (replacement.created) std::remove(replacement.path.c_str());
    return 1;
}

#ifdef _WIN32

std::string resolve_links(const std::string& path) { return path; }

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

std::string resolve_links(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    return resolved ? resolved.get() : path;
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
