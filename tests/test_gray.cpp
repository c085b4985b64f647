// tavo-gray as the user meets it, on pictures committed in tests/pictures/
// (made by make.py there): the rules of the picture it makes, what it never
// writes over, what it cannot read; then both programs' command lines.
#include <cmath>
#include <sstream>

#include "gray/picture.h"
#include "gray/tavo_gray.h"
#include "io/console.h"
#include "tool_fixture.h"

namespace {

class Gray : public Tool {};

// A picture that fits and holds only grays of the ramp (150 x 99 of
// pattern_index) comes out exactly, in every format, written with the
// export's palette; copies of one name are numbered. Windows (under Wine)
// has no WebP decoder: that file is refused and takes no number.
TEST_F(Gray, APictureThatFitsComesOutExactly) {
    fs::create_directory(dir / "out");
    const std::string greek = "\u0395\u03BB\u03BB\u03AC\u03B4\u03B1";  // outside any Western code page
    for (const char* name : {"fits.png", "fits.bmp", "fits.gif", "fits.webp"}) copy_picture(name);
    copy_picture("fits.png", greek + ".png");
    const ToolRun run = tavo_gray({"-o", "out", "fits.png", "fits.bmp", "fits.gif", "fits.webp", greek + ".png"});
    EXPECT_EQ(run.status, under_wine ? 1 : 0);
    const std::string webp = under_wine ? no_decoder_on_windows("WebP") + "\n" : "out/fits (4).bmp\n";
    EXPECT_TRUE(run.out.starts_with("fits.png .. out/fits.bmp\nfits.bmp .. out/fits (2).bmp\n"
                                    "fits.gif .. out/fits (3).bmp\nfits.webp .. " + webp)) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 5) << run.out;
    std::vector<std::string> made = {"fits.bmp", "fits (2).bmp", "fits (3).bmp", greek + ".bmp"};
    if (!under_wine) made.push_back("fits (4).bmp");
    for (const std::string& name : made) EXPECT_EQ(file("out/" + name), bmp_of(150, 99, pattern(150, 99))) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), static_cast<std::ptrdiff_t>(made.size()));
}

// Only a picture larger than 160 x 160 is shrunk, to fit and keeping its
// shape, each pixel the mean of the area it covers: a JPEG of 100 x 400, a
// black PNG of 1000 x 3.
TEST_F(Gray, ALargerPictureIsShrunkToFit) {
    copy_picture("tall.jpg");
    copy_picture("thin.png");
    const ToolRun run = tavo_gray({"tall.jpg", "thin.png"});
    EXPECT_EQ(run.out, "tall.jpg .. tall.bmp\nthin.png .. thin.bmp\n");
    const Bmp4Image tall = read_back(file("tall.bmp"));
    EXPECT_EQ(tall.width * 1000 + tall.height, 40 * 1000 + 160);
    const Bmp4Image thin = read_back(file("thin.bmp"));
    EXPECT_EQ(thin.width * 1000 + thin.height, 160 * 1000 + 1);
    EXPECT_EQ(thin.pixels, Bytes(160, 15));
}

// Transparency is put onto white; a gray between two of the ramp is
// dithered, or taken to its nearest gray alone with --line-art.
TEST_F(Gray, TransparencyGoesOntoWhiteAndLineArtIsNotDithered) {
    copy_picture("alpha.png");  // black, opacity 0, 0x88 / 255 and 1
    copy_picture("mid.png");    // 16 x 16 of gray 128: 7.47 levels from white
    fs::create_directory(dir / "art");
    EXPECT_EQ(tavo_gray({"alpha.png", "mid.png"}).status, 0);
    EXPECT_EQ(tavo_gray({"--line-art", "-o", "art", "mid.png"}).status, 0);
    EXPECT_EQ(file("alpha.bmp"), bmp_of(3, 1, {0, 8, 15}));
    EXPECT_EQ(read_back(file("art/mid.bmp")).pixels, Bytes(256, 7));
    const Bytes dithered = read_back(file("mid.bmp")).pixels;
    EXPECT_EQ(std::set<std::uint8_t>(dithered.begin(), dithered.end()), (std::set<std::uint8_t>{7, 8}));
    double sum = 0;
    for (const std::uint8_t level : dithered) sum += level;
    EXPECT_NEAR(sum / 256, 127.0 / 17, 0.05);
}

// No file is written over: a BMP file in the folder written to is refused,
// an existing NAME.bmp (the user's, or another input's) makes the next free
// "NAME (n).bmp", and two runs at once each make a file of their own. A
// file that cannot be read is reported on its line and the run goes on,
// ending with 1.
TEST_F(Gray, NoFileIsWrittenOverAndBadFilesAreReported) {
    const Bytes drawing = bmp_of(2, 1, {0, 15});
    const Bytes users = {'m', 'i', 'n', 'e'};
    put("a.bmp", drawing);
    put("b.bmp", users);
    put("b (2).bmp", users);
    copy_picture("black-white.png", "a.png");
    copy_picture("white-black.png", "b.png");
    put("broken.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    put("notes.png", {'h', 'e', 'l', 'l', 'o'});
    put("empty.png", {});
    fs::create_directory(dir / "folder.png");
    ToolRun run = tavo_gray({"a.bmp", "a.png", "b.png", "missing.png", "./missing.bmp", "*.jpeg", "folder.png", "notes.png",
                             "empty.png", "broken.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.starts_with("a.bmp .. Error - the picture would replace a.bmp; write into another folder with -o DIR\n"
                                    "a.png .. a (2).bmp\n"
                                    "b.png .. b (3).bmp\n"
                                    "missing.png .. Error while opening missing.png: no such file\n"
                                    "./missing.bmp .. Error while opening ./missing.bmp: no such file\n"
                                    "*.jpeg .. Error - no file matches *.jpeg\n"
                                    "folder.png .. Error while opening folder.png: it is a folder\n"
                                    "notes.png .. Error - not a picture tavo-gray reads (JPEG, PNG, GIF, BMP, WebP, HEIC, AVIF)\n"
                                    "empty.png .. Error - the file is empty\n"
                                    "broken.png .. Error - PNG: "))
        << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 10);
    EXPECT_EQ(file("a.bmp"), drawing);
    EXPECT_EQ(file("b.bmp"), users);
    EXPECT_EQ(file("b (2).bmp"), users);
    EXPECT_EQ(file("a (2).bmp"), bmp_of(2, 1, {15, 0}));
    EXPECT_EQ(file("b (3).bmp"), bmp_of(2, 1, {0, 15}));
    // Two runs at once, of one picture into one folder: a file each.
    for (int i = 0; i < 5; ++i) {
        run = sh("(tavo_gray b.png >/dev/null; echo $?) & (tavo_gray b.png >/dev/null; echo $?) & wait");
        EXPECT_EQ(run.out, "0\n0\n");
    }
    for (int n = 3; n <= 13; ++n) EXPECT_EQ(file("b (" + std::to_string(n) + ").bmp"), bmp_of(2, 1, {0, 15})) << n;
    EXPECT_EQ(files().size(), 9u + 1u + 11u);  // the inputs and folder.png, a (2).bmp, b (3) to b (13).bmp: nothing else
}

// -o writes into its folder, made with its missing parents and said so; a
// folder that is a file is refused before any picture is read.
TEST_F(Gray, TheFolderWrittenToIsMadeWhenMissing) {
    copy_picture("black-white.png", "p.png");
    put("file", {'x'});
    ToolRun run = tavo_gray({"-o", "new/sub", "p.png"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Made the folder new/sub\np.png .. new/sub/p.bmp\n");
    EXPECT_EQ(file("new/sub/p.bmp"), bmp_of(2, 1, {15, 0}));
    run = tavo_gray({"-o", "new/sub/", "p.png"});
    EXPECT_EQ(run.out, "p.png .. new/sub/p (2).bmp\n");
    run = tavo_gray({"-o", "file", "p.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Error - file is not a folder\n");
    run = tavo_gray({"-o", "file/sub", "p.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Error - cannot make the folder file/sub\n");
    EXPECT_EQ(files(), (std::set<std::string>{"file", "new", "p.png"}));
}

// A name too long to take its ending (".bmp", " (2).bmp") is cut to fit
// the 255 bytes every system takes, after a whole character.
TEST_F(Gray, LongNamesAreCutToFit) {
    std::string accents;
    for (int i = 0; i < 127; ++i) accents += "\u00E9";  // two bytes each
    const std::string name = accents + "x";           // 255 bytes, no extension
    copy_picture("black-white.png", name);
    const ToolRun run = tavo_gray({name, name});
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string cut = accents.substr(0, 250);  // byte 251 is inside a character
    EXPECT_EQ(run.out, on_console(name + " .. " + cut + ".bmp\n" + name + " .. " + accents.substr(0, 246) + " (2).bmp\n"));
    EXPECT_EQ(file(cut + ".bmp"), bmp_of(2, 1, {15, 0}));
}

// A file size limit fails the one file that passes it, which leaves no part
// of itself and takes no name: the next file is converted, and the run
// ends with status 1.
TEST_F(Gray, AFileSizeLimitFailsOnlyTheFileThatPassesIt) {
    if (under_wine) GTEST_SKIP() << "the limit would bind Wine's own server";
    copy_picture("black-white.png", "small.png");
    copy_picture("large.png");  // 160 x 160 of pattern_index
    const ToolRun run = sh("ulimit -f 8; tavo_gray -o out large.png large.png small.png");  // 4 KiB: less than 160 x 160
    EXPECT_EQ(run.status, 1);
    const std::string limited = "Cannot write file out/large.bmp: the file size limit is reached\n";
    EXPECT_EQ(run.out, "Made the folder out\nlarge.png .. " + limited + "large.png .. " + limited + "small.png .. out/small.bmp\n");
    EXPECT_EQ(file("out/small.bmp"), bmp_of(2, 1, {15, 0}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), 1);
}

// Files that once crashed or hung picture decoders (a 16-bit PGM header, an
// endless HDR file, a TGA cut short, a JPEG whose Huffman table holds more
// codes than it can, a BMP of 0 x 0 pixels, a 28-byte lossless WebP of
// 16383 x 16383 pixels that libwebp would hold whole, a transparent one of
// 11000 x 11000 whose lossless alpha libwebp would decode at 5 bytes a
// pixel, a 54-byte lossless one of 11216 x 11216 whose transforms' images
// took it past 512 MiB) each end at once with one error line, status 1 and
// nothing written.
TEST_F(Gray, HostilePicturesAreRefused) {
    const fs::path crashers = fs::path(TAVO_SOURCE_DIR) / "fuzz" / "crashers" / "gray";
    const std::string no_webp = no_decoder_on_windows("WebP");
    const std::vector<std::pair<std::string, std::string>> cases = {  // name, the line's start
        {"pgm-16-bit-header.pgm", "Error - "}, {"hdr-endless.hdr", "Error - "}, {"tga-cut-short.tga", "Error - "},
        {"jpeg-overlong-huffman.jpg", "Error - "}, {"bmp-0x0.bmp", "Error - "},
        {"webp-lossless-bomb.webp", under_wine ? no_webp : "Error - WebP: the picture is lossless and needs more than 512 MiB"},
        {"webp-alpha-bomb.webp", under_wine ? no_webp : "Error - WebP: the picture is transparent and needs more than 512 MiB"},
        {"webp-lossless-transforms.webp", under_wine ? no_webp : "Error - WebP: the picture is lossless and needs more than 512 MiB"},
    };
    std::vector<std::string> args = {"-o", "out"};
    for (const auto& [name, start] : cases) {
        fs::copy_file(crashers / name, dir / name);
        args.push_back(name);
    }
    const ToolRun run = tavo_gray(args);
    EXPECT_EQ(run.status, 1);
    std::istringstream lines(run.out);
    std::string line;
    EXPECT_TRUE(std::getline(lines, line) && line == "Made the folder out") << run.out;
    for (const auto& [name, start] : cases)
        EXPECT_TRUE(std::getline(lines, line) && line.starts_with(name + " .. " + start)) << run.out;
    EXPECT_FALSE(std::getline(lines, line)) << run.out;
    EXPECT_TRUE(run.out.ends_with("\n")) << run.out;
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// Started from Explorer (alone on a console of its own, its streams that
// console) a program keeps its window open at its end, and tavo-gray writes
// each BMP file beside its picture unless -o says where; started from a
// console it shares (cmd, PowerShell), with a stream redirected or with no
// console, it never waits.
TEST(Explorer, WhenToWaitAndWhereDroppedPicturesGo) {
    struct Case { unsigned processes; bool input, output, alone; };
    for (const auto& [processes, input, output, alone] :
         {Case{1, true, true, true}, {2, true, true, false}, {0, false, false, false}, {1, false, true, false}, {1, true, false, false}})
        EXPECT_EQ(alone_on_console(processes, input, output), alone) << processes << input << output;
    EXPECT_EQ(output_folder("/pics/cat.jpg", "", true), "/pics/");
    EXPECT_EQ(output_folder("cat.jpg", "", true), current_folder() + "/");
    EXPECT_EQ(output_folder("/pics/cat.jpg", "out/", true), "out/");
    EXPECT_EQ(output_folder("/pics/cat.jpg", "", false), "");
}

TEST_F(Gray, CommandLinesOfBothPrograms) {
    const std::string usage = "Usage: tavo-gray [--line-art] [-o DIR] FILE...\n";
    struct Case { std::string tool; std::vector<std::string> args; int status; std::string starts; };
    const Case cases[] = {
        {"tavo", {"--version"}, 0, std::string("tavo ") + TAVO_VERSION + "\n"},
        {"tavo", {"/?"}, 0, "TAVO.exe is Umbralith 2.x import/export utility.\n"},
        {"tavo", {"i", "--version", "x.pdb"}, 0, std::string("tavo ") + TAVO_VERSION + "\n"},
        {"tavo_gray", {"--version"}, 0, std::string("tavo-gray (tavo) ") + TAVO_VERSION + "\n"},
        {"tavo_gray", {"x.png", "--help"}, 0, usage},
        {"tavo_gray", {"-h"}, 0, usage},
        {"tavo_gray", {}, 1, usage},
        {"tavo_gray", {"--bogus", "-x", "x.png"}, 1, "Error - unknown option --bogus\n" + usage},
        {"tavo_gray", {"-x", "x.png"}, 1, "Error - unknown option -x\n" + usage},
        {"tavo_gray", {"x.png", "-o"}, 1, "Error - the option -o needs a folder after it: -o DIR\n" + usage},
        {"tavo_gray", {"/?"}, 0, usage},
        {"tavo_gray", {"-?"}, 0, usage},
        {"tavo_gray", {"--", "-x.png", "/?"}, 1, "-x.png .. Error while opening -x.png: no such file\n"},
    };
    for (const auto& [tool, args, status, starts] : cases) {
        const ToolRun run = tavo(args, tool);
        EXPECT_EQ(run.status, status) << tool << " " << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(run.out.starts_with(starts)) << tool << " " << (args.empty() ? "" : args[0]) << ": " << run.out;
    }
    if (under_wine) {  // "My Pics\" logo.png, as a batch file hands it over: no Windows name holds a quote
        const ToolRun run = tavo_gray({"-o", "My Pics\" logo.png"});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.starts_with("Error - a quote ended up inside the folder name My Pics\" logo.png: ")) << run.out;
        const ToolRun file = tavo_gray({"My Pics\" logo.png"});
        EXPECT_EQ(file.out, "My Pics\" logo.png .. Error - a quote ended up inside the name My Pics\" logo.png: a backslash before a "
                            "closing quote keeps it there; leave that backslash out\n");
    }
    EXPECT_EQ(files().size(), 0u);
}

}  // namespace
