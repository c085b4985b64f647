// For the end-to-end tests under Wine: holds a file as another program may
// for a moment (a virus scanner, an export rewriting it). hold_file FILE MS
// MARKER opens FILE sharing nothing, creates MARKER once it holds it, waits
// MS milliseconds and lets it go. Built for Windows only.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const HANDLE marker = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return marker != INVALID_HANDLE_VALUE ? 0 : 1;
}
