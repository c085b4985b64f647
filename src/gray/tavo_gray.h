// tavo-gray as the user meets it: any picture as a 16-gray BMP file that
// tavo imports faithfully. tavo_gray_main is the whole program.
#pragma once

#include <string>
#include <vector>

#include "convert/names.h"

struct GrayOptions {
    bool line_art = false;
    bool usage = false;
    bool version = false;
    std::string folder;  // where the BMP files go; empty: the current folder
    std::vector<std::string> files;
    std::string mistake;  // the first mistake on the command line, in words
};

// Reads the arguments after the program name: [--line-art] [-o DIR] FILE...,
// -h, --help, /? or -?, --version; "--" ends the options.
GrayOptions parse_gray_arguments(int argc, const char* const* argv);

// The folder (ending in a separator, or "" for the current one) that the
// BMP file of file goes to: the -o folder when given, else beside the
// picture when the program was started from Explorer, else the current one.
std::string output_folder(const std::string& file, const std::string& folder_option, bool from_explorer);

void print_gray_usage();

// Writes one picture as FOLDER/NAME.bmp, or the first free "NAME (n).bmp",
// and prints "FILE .. FOLDER/NAME.bmp", or the error and why; 1 when it
// cannot be read, converted or written. A BMP file in the folder written to
// is refused: the picture would replace it.
int convert_picture(const std::string& file, const std::string& folder, bool line_art, WrittenFiles& written);

// Runs tavo-gray; returns the exit status: 1 when any file failed.
int tavo_gray_main(int argc, const char* const* argv);
