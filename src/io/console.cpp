#include "io/console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "io/file_system.h"
#endif

namespace {

void print_list(const char* format, std::va_list arguments) {
#ifdef _WIN32
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length <= 0) return;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.pop_back();
    const std::wstring wide = to_utf16(text);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {  // a console window shows every character
        DWORD written = 0;
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const auto size = static_cast<int>(wide.size());
    std::string ansi(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr);
    std::fwrite(ansi.data(), 1, ansi.size(), stdout);
#else
    std::vprintf(format, arguments);
#endif
}

}  // namespace

void print(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    print_list(format, arguments);
    va_end(arguments);
}

int fail(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    print_list(format, arguments);
    va_end(arguments);
    return 1;
}
