#include "cli/platform.h"

#include "convert/names.h"

#ifdef _WIN32
#include <io.h>
#else
#include <dirent.h>
#endif

#ifdef _WIN32

// The runtime's find-first/find-next; its "*.bmp" also matches short names
// (x.bmpx has the short name X~1.BMP), so the suffix is checked again.
int list_bmp_files(std::vector<std::string>& names) {
    names.clear();
    _finddata_t entry{};
    const intptr_t handle = _findfirst("*.bmp", &entry);
    if (handle == -1) return 0;
    do {
        if (has_bmp_suffix(entry.name)) names.emplace_back(entry.name);
    } while (_findnext(handle, &entry) == 0);
    _findclose(handle);
    return 0;
}

#else

int list_bmp_files(std::vector<std::string>& names) {
    names.clear();
    DIR* folder = opendir(".");
    if (folder == nullptr) return 1;
    while (const dirent* entry = readdir(folder))
        if (has_bmp_suffix(entry->d_name)) names.emplace_back(entry->d_name);
    closedir(folder);
    return 0;
}

#endif
