// The console: every message the tools print goes through print, so that
// names reach it as the system shows them. Text is UTF-8 inside the tools.
// On Windows a console window gets it as UTF-16 (WriteConsoleW), and a file
// or a pipe in the ANSI code page, the bytes Windows programs write there.
#pragma once

#if defined(__GNUC__) && !defined(__MINGW32__)  // MinGW's printf archetype lacks %zu
#define TAVO_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define TAVO_PRINTF_FORMAT
#endif

// The control characters of Windows-1252 and of UTF-8's first 128: C0 and
// DEL. No name shows one raw on the console, nor may a Palm name hold one.
constexpr bool is_control_character(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Prints a message, printf-style, to standard output. A line goes out once
// it ends, whole, in one write.
TAVO_PRINTF_FORMAT void print(const char* format, ...);

// Prints a message and returns 1: a failing step reports its own fault.
TAVO_PRINTF_FORMAT int fail(const char* format, ...);

// Has a run whose console output could not all be written (a full disk, a
// device error) end with status 1, whatever status it returns: standard
// output is flushed and checked as the process exits. closed: standard output
// was closed when the run began, so nothing is printed and nothing is lost.
void check_console_at_exit(bool closed);

// Whether a program is alone on its console, as when Explorer started it (a
// double click, or files dropped on it): the console has no other process
// (console_processes is 1; 0 when there is none) and both standard input
// and output are that console, not a file or a pipe. Such a window closes
// as the program ends, so it waits for the user first.
bool alone_on_console(unsigned console_processes, bool input_on_console, bool output_on_console);

// alone_on_console for this process: always false but on Windows.
bool started_from_explorer();

// Says "Press Enter to close this window." and waits for a line of input.
void wait_for_enter();
