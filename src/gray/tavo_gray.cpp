#include "gray/tavo_gray.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <string_view>

#include "convert/record_to_bmp.h"
#include "gray/picture.h"
#include "io/console.h"
#include "io/file_system.h"

// What follows a name a batch file's "NAME\" left a quote in.
static constexpr const char* KEPT_QUOTE = ": a backslash before a closing quote keeps it there; leave that backslash out";

GrayOptions parse_gray_arguments(int argc, const char* const* argv) {
    GrayOptions options;
    bool options_end = false;
    const auto mistake = [&](const std::string& words) {
        if (options.mistake.empty()) options.mistake = words;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options_end) {
            options.files.emplace_back(argument);
        } else if (argument == "/?" || argument == "-?" || argument == "-h" || argument == "--help") {
            options.usage = true;
        } else if (!argument.starts_with('-') || argument == "-") {
            options.files.emplace_back(argument);
        } else if (argument == "--") {
            options_end = true;
        } else if (argument == "--line-art") {
            options.line_art = true;
        } else if (argument == "-o" && i + 1 < argc) {
            options.folder = argv[++i];
        } else if (argument == "-o") {
            mistake("the option -o needs a folder after it: -o DIR");
        } else if (argument == "--version") {
            options.version = true;
        } else {
            mistake("unknown option " + shown(argument));
        }
    }
    // A batch file's "-o "My Pics\"" hands over My Pics" and what follows:
    // a backslash before a closing quote keeps the quote.
    if (ON_WINDOWS && options.folder.find('"') != std::string::npos)
        mistake("a quote ended up inside the folder name " + shown(options.folder) + KEPT_QUOTE);
    return options;
}

std::string output_folder(const std::string& file, const std::string& folder_option, bool from_explorer) {
    if (!folder_option.empty() || !from_explorer) return folder_option;
    return folder_of(full_path(file));
}

void print_gray_usage() {
    print(
        "Usage: tavo-gray [--line-art] [-o DIR] FILE...\n"
        "Makes each picture (JPEG, PNG, GIF, BMP, WebP, HEIC, AVIF) a 16-gray BMP file\n"
        "that tavo imports faithfully: DIR/NAME.bmp, upright, scaled down to fit\n"
        "160 x 160 pixels.\n"
        "An existing file is never written over: NAME (2).bmp and so on are taken instead.\n"
        "  --line-art   each pixel its nearest gray, not dithered (for drawings)\n"
        "  -o DIR       the folder to write into, made if missing (the current one by default)\n"
        "  -h, --help   this text (/? too)\n"
        "  --version    the version\n");
}

// Writes the picture as a new file in folder, then names it the first free
// name of its stem: never over an existing file, whether it was there
// before or made meanwhile (another run). A name is taken only once a file
// has it.
static int write_picture(const GrayPicture& picture, const std::string& folder, std::string_view stem, WrittenFiles& written) {
    FileName name = free_file_name(folder, stem, written);
    std::string path = folder + name.name;
    ByteStream stream;
    const auto cannot_write = [&] { return fail("Cannot write file %s: %s\n", shown(path).c_str(), reason_of(stream.error).c_str()); };
    if (open_new(stream, folder) != 0) return cannot_write();
    write_bmp(stream, static_cast<std::int32_t>(picture.width), static_cast<std::int32_t>(picture.height), GRAY_PALETTE,
              picture.levels);
    if (close_stream(stream) != 0) return cannot_write();
    for (bool taken = false; name_new(stream, path, taken) != 0;) {
        if (!taken) return cannot_write();
        take_file_name(written, stem, name);
        name = free_file_name(folder, stem, written);
        path = folder + name.name;
    }
    take_file_name(written, stem, name);
    print("%s\n", shown(path).c_str());
    return 0;
}

// Why a file given cannot be opened: a pattern no file matches, a quote
// that a batch file kept, or what the system says.
static int cannot_open(const std::string& file, int error) {
    if (error == ENOENT && file.find_first_of("*?[") != std::string::npos)
        return fail("Error - no file matches %s\n", shown(file).c_str());
    if (ON_WINDOWS && file.find('"') != std::string::npos)
        return fail("Error - a quote ended up inside the name %s%s\n", shown(file).c_str(), KEPT_QUOTE);
    return fail("Error while opening %s: %s\n", shown(file).c_str(), reason_of(error).c_str());
}

int convert_picture(const std::string& file, const std::string& folder, bool line_art, WrittenFiles& written) {
    print("%s .. ", shown(file).c_str());
    ByteStream stream;
    if (open_read(stream, file) != 0) return cannot_open(file, stream.error);
    const std::string here = folder_of(file);
    if (has_bmp_suffix(file) && same_file(here.empty() ? "." : here, folder.empty() ? "." : folder)) {
        close_stream(stream);
        return fail("Error - the picture would replace %s; write into another folder with -o DIR\n", shown(file).c_str());
    }
    GrayPicture picture;
    const int made = make_picture(stream, line_art, picture);
    const int error = stream.error;
    if (close_stream(stream) != 0) return fail("Error while reading %s: %s\n", shown(file).c_str(), reason_of(error).c_str());
    return made != 0 ? 1 : write_picture(picture, folder, stem_of(file), written);
}

// The folder the pictures go to, made when missing; "" for the current one,
// otherwise ending in a separator.
static int prepare_folder(std::string& folder) {
    if (folder.empty()) return 0;
    bool made = false;
    if (make_folders(folder, made) != 0) {
        if (path_exists(folder)) return fail("Error - %s is not a folder\n", shown(folder).c_str());
        return fail("Error - cannot make the folder %s\n", shown(folder).c_str());
    }
    if (made) print("Made the folder %s\n", shown(folder).c_str());
    if (PATH_SEPARATORS.find(folder.back()) == std::string_view::npos) folder += '/';
    return 0;
}

// The whole run, but for waiting when started from Explorer.
static int run_gray(int argc, const char* const* argv, bool from_explorer) {
    const GrayOptions options = parse_gray_arguments(argc, argv);
    if (options.usage) {
        print_gray_usage();
        return 0;
    }
    if (options.version) {
        print("tavo-gray (tavo) %s\n", TAVO_VERSION);
        return 0;
    }
    if (!options.mistake.empty() || options.files.empty()) {
        if (!options.mistake.empty()) print("Error - %s\n", options.mistake.c_str());
        print_gray_usage();
        return 1;
    }
    std::string folder = options.folder;
    if (prepare_folder(folder) != 0) return 1;
    std::map<std::string, WrittenFiles> written;  // by folder: nothing existing is written over, each file made new
    int status = 0;
    for (const std::string& file : options.files) {
        const std::string to = output_folder(file, folder, from_explorer);
        status |= convert_picture(file, to, options.line_art, written[to]);
    }
    return status;
}

int tavo_gray_main(int argc, const char* const* argv) { return run_program(argc, argv, run_gray); }
