#include "io/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "io/file_system.h"
#endif

namespace {

bool console_closed = false;
bool console_failed = false;  // a write that standard output's error state does not keep
std::string line;             // the start of a line, out with its end

// Writes text out at once, so that a run a signal ends has told of every
// file it did.
void write_out(const std::string& text) {
#ifdef _WIN32
    const std::wstring wide = to_utf16(text);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {  // a console window shows every character
        DWORD written = 0;
        if (!WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) console_failed = true;
        return;
    }
    const auto size = static_cast<int>(wide.size());
    std::string ansi(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr);
    std::fwrite(ansi.data(), 1, ansi.size(), stdout);
#else
    std::fwrite(text.data(), 1, text.size(), stdout);  // unbuffered: one write, however long
#endif
    std::fflush(stdout);
}

// Each line goes out whole, in one write.
void print_list(const char* format, std::va_list arguments) {
    if (console_closed) return;
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (length <= 0) return;
    const std::size_t start = line.size();
    line.resize(start + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(line.data() + start, static_cast<std::size_t>(length) + 1, format, arguments);
    line.pop_back();
    if (!line.ends_with('\n')) return;
    write_out(line);
    line.clear();
}

// At exit, after the last line: the status becomes 1 when the output was lost.
extern "C" void end_unless_console_written() {
    if (!line.empty()) write_out(line);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || console_failed) std::_Exit(1);
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

void check_console_at_exit(bool closed) {
    static bool registered = false;
    console_closed = closed;
    if (!closed) std::setvbuf(stdout, nullptr, _IONBF, 0);  // print keeps each line whole
    if (!closed && !registered) registered = std::atexit(end_unless_console_written) == 0;
}

bool alone_on_console(unsigned console_processes, bool input_on_console, bool output_on_console) {
    return console_processes == 1 && input_on_console && output_on_console;
}

bool started_from_explorer() {
#ifdef _WIN32
    DWORD processes[2] = {};
    DWORD mode = 0;
    const DWORD count = GetConsoleProcessList(processes, 2);
    const bool input = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    const bool output = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return alone_on_console(count, input, output);
#else
    return false;
#endif
}

void wait_for_enter() {
    print("Press Enter to close this window.\n");
    for (int c = 0; c != '\n' && c != EOF;) c = std::getchar();
}
