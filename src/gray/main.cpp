#include "gray/tavo_gray.h"
#include "io/file_system.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, tavo_gray_main); }
#else
int main(int argc, char** argv) { return tavo_gray_main(argc, argv); }
#endif
