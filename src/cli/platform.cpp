#include "cli/platform.h"

#include "convert/names.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#ifdef _WIN32

// The runtime's find-first/find-next.
int list_files(std::vector<std::string>& names, bool (*wanted)(std::string_view name)) {
    names.clear();
    _finddata_t entry{};
    const intptr_t handle = _findfirst("*", &entry);
    if (handle == -1) return 0;
    do {
        if (wanted(entry.name)) names.emplace_back(entry.name);
    } while (_findnext(handle, &entry) == 0);
    _findclose(handle);
    sort_by_name(names);
    return 0;
}

// A file is its volume and its index on the volume.
bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION info[2]{};
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const BOOL known = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!known) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

// Entries that cannot be looked at (a dangling link) stay listed: opening
// them fails at once.
int list_files(std::vector<std::string>& names, bool (*wanted)(std::string_view name)) {
    names.clear();
    DIR* folder = opendir(".");
    if (folder == nullptr) return 1;
    while (const dirent* entry = readdir(folder)) {
        if (!wanted(entry->d_name)) continue;
        struct stat about {};
        if (stat(entry->d_name, &about) == 0 && !S_ISREG(about.st_mode) && !S_ISDIR(about.st_mode)) continue;
        names.emplace_back(entry->d_name);
    }
    closedir(folder);
    sort_by_name(names);
    return 0;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat about_a {};
    struct stat about_b {};
    return stat(a.c_str(), &about_a) == 0 && stat(b.c_str(), &about_b) == 0 && about_a.st_dev == about_b.st_dev &&
           about_a.st_ino == about_b.st_ino;
}

#endif
