#include "gray/tavo_gray.h"

#include <cstdio>
#include <string_view>

#include "convert/record_to_bmp.h"
#include "gray/picture.h"
#include "io/console.h"
#include "io/file_system.h"

GrayOptions parse_gray_arguments(int argc, const char* const* argv) {
    GrayOptions options;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options_end || !argument.starts_with('-') || argument == "-") {
            options.files.emplace_back(argument);
        } else if (argument == "--") {
            options_end = true;
        } else if (argument == "--line-art") {
            options.line_art = true;
        } else if (argument == "-o" && i + 1 < argc) {
            options.folder = argv[++i];
        } else if (argument == "-h" || argument == "--help") {
            options.usage = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (options.unknown.empty()) {
            options.unknown = argument;
        }
    }
    return options;
}

void print_gray_usage() {
    print(
        "Usage: tavo-gray [--line-art] [-o DIR] FILE...\n"
        "Makes each picture (PNG, JPEG, GIF, BMP, TGA, PNM) a 16-gray BMP file that\n"
        "tavo imports faithfully: DIR/NAME.bmp, scaled down to fit 160 x 160 pixels.\n"
        "  --line-art   each pixel its nearest gray, not dithered (for drawings)\n"
        "  -o DIR       the folder to write into (the current one by default)\n"
        "  -h, --help   this text\n"
        "  --version    the version\n");
}

int convert_picture(const std::string& file, const std::string& folder, bool line_art, WrittenFiles& written) {
    print("%s .. ", shown(file).c_str());
    const std::string here = folder_of(file);
    if (has_bmp_suffix(file) && same_file(here.empty() ? "." : here, folder.empty() ? "." : folder))
        return fail("Error - the picture would replace %s; write into another folder with -o DIR\n", shown(file).c_str());
    GrayPicture picture;
    if (prepare_picture(file, line_art, picture) != 0) return 1;
    const std::string path = folder + claim_file_name(folder, stem_of(file), written);
    ByteStream stream;
    const bool opened = open_write(stream, path) == 0;
    if (opened) write_bmp(stream, picture.width, picture.height, GRAY_PALETTE, picture.levels);
    if (!opened || close_stream(stream) != 0) return fail("Cannot write file %s\n", shown(path).c_str());
    print("%s\n", shown(path).c_str());
    return 0;
}

int tavo_gray_main(int argc, const char* const* argv) {
    if (prepare_process() != 0) return 1;
    const GrayOptions options = parse_gray_arguments(argc, argv);
    if (options.usage) {
        print_gray_usage();
        return 0;
    }
    if (options.version) {
        print("tavo-gray (tavo) %s\n", TAVO_VERSION);
        return 0;
    }
    if (!options.unknown.empty() || options.files.empty()) {
        if (!options.unknown.empty()) print("Error - unknown option %s\n", shown(options.unknown).c_str());
        print_gray_usage();
        return 1;
    }
    std::string folder = options.folder;
    if (!folder.empty() && PATH_SEPARATORS.find(folder.back()) == std::string_view::npos) folder += '/';
    WrittenFiles written{options.files, {}, {}};  // no input is written over
    int status = 0;
    for (const std::string& file : options.files) status |= convert_picture(file, folder, options.line_art, written);
    return status;
}
