// JPEG files as tavo-gray reads them (tests/pictures/, made by libjpeg's
// own compressor through make.py there): every variant showing the grays it
// holds, the eight EXIF orientations turned upright, the orientation reader
// on hostile segments, and hostile files each ending quickly with its one
// line.
#include <algorithm>
#include <string>
#include <vector>

#include "formats/bmp4.h"
#include "gray/decode.h"
#include "tool_fixture.h"

namespace {

// The level of each of a picture's flat areas: area (ax, ay) of a grid.
int area_level(int ax, int ay) { return pattern_index(static_cast<std::size_t>(ax), static_cast<std::size_t>(ay)); }

class Jpeg : public Tool {
protected:
    Bmp4Image made(const std::string& name) const { return read_back(file(name)); }
};

// Each variant of a picture that fits shows the level of each flat area:
// exactly away from the areas' borders, where 4:2:0's colour is shared
// between areas, and within one level on them. The areas are colours of
// their level's gray, two colours taking turns; v0 to v7: baseline,
// progressive, gray, progressive gray, Adobe's inverted CMYK, progressive
// CMYK, arithmetic coding, progressive arithmetic; v8 HEIC, v9 AVIF, which
// Windows reads only with extensions Wine lacks.
TEST_F(Jpeg, EveryVariantShowsItsGrays) {
    constexpr int W = 160;
    constexpr int H = 112;
    constexpr int SIDE = 16;
    const std::vector<std::string> names = {"v0.jpg", "v1.jpg", "v2.jpg", "v3.jpg", "v4.jpg",
                                            "v5.jpg", "v6.jpg", "v7.jpg", "v8.heic", "v9.avif"};
    const auto refused = [&](const std::string& name) { return under_wine && !name.ends_with(".jpg"); };
    std::vector<std::string> args = {"--line-art"};
    std::string expected;
    for (const std::string& name : names) {
        copy_picture(name);
        args.push_back(name);
        const std::string format = name.ends_with(".heic") ? "HEIC" : "AVIF";
        expected += name + " .. " + (refused(name) ? no_decoder_on_windows(format) : name.substr(0, 2) + ".bmp") + "\n";
    }
    const ToolRun run = tavo_gray(args);
    EXPECT_EQ(run.status, under_wine ? 1 : 0);
    EXPECT_EQ(run.out, expected);
    for (const std::string& name : names) {
        if (refused(name)) continue;
        const Bmp4Image image = made(name.substr(0, 2) + ".bmp");
        ASSERT_EQ(image.width * 1000 + image.height, W * 1000 + H) << name;
        int wrong = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const int want = area_level(x / SIDE, y / SIDE);
                const int got = image.pixels[static_cast<std::size_t>(y * W + x)];
                const bool border = x % SIDE == 0 || x % SIDE == SIDE - 1 || y % SIDE == 0 || y % SIDE == SIDE - 1;
                if (border ? std::abs(got - want) > 1 : got != want) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << name;
    }
}

// The letter F as 6 x 10 blocks: no turn or mirror leaves it unchanged.
constexpr const char* LETTER_F[] = {"######", "######", "##....", "##....", "#####.", "#####.", "##....", "##....", "##....", "##...."};

bool f_is_black(int x, int y, int block) { return LETTER_F[y / block][x / block] == '#'; }

// Byte offsets into a file libjpeg wrote.
std::size_t find_marker(const Bytes& file, std::uint8_t marker, std::size_t from = 2, bool needed = true) {
    for (std::size_t at = from; at + 1 < file.size(); ++at)
        if (file[at] == 0xFF && file[at + 1] == marker) return at;
    if (needed) ADD_FAILURE() << "no marker " << int{marker};
    return 0;
}

std::size_t after_segment(const Bytes& file, std::size_t at) { return at + 2 + (std::size_t{file[at + 2]} << 8 | file[at + 3]); }

// Each of the eight orientations of the letter F (f<block>_<orientation>.jpg,
// stored so that its EXIF Orientation shows it upright) comes out upright,
// the same picture as orientation 1's, small or shrunk while decoding (a
// sideways picture 640 x 384 shows 96 x 160), the even ones of those
// progressive: the same coefficients decode to the same pixels, and with
// an XMP, an ICC profile and a comment after its EXIF, passed over. A HEIC
// turned by its own rotation (irot) comes out upright too, turned once.
TEST_F(Jpeg, EveryOrientationComesOutUpright) {
    std::vector<std::string> args;
    std::string expected;
    for (const int block : {8, 64}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const std::string name = "f" + std::to_string(block) + "_" + std::to_string(orientation);
            copy_picture(name + ".jpg");
            args.push_back(name + ".jpg");
            expected += name + ".jpg .. " + name + ".bmp\n";
        }
    }
    const Bytes f8_6 = bytes_of(PICTURES / "f8_6.jpg");  // its EXIF followed by an XMP, an ICC profile and a comment, passed over
    const auto exif_end = static_cast<std::ptrdiff_t>(after_segment(f8_6, find_marker(f8_6, 0xE1)));
    Bytes more(f8_6.begin(), f8_6.begin() + exif_end);
    for (const auto& [marker, length] : {std::pair{0xE1, 60000}, {0xE2, 1000}, {0xFE, 100}}) {
        more.insert(more.end(), {0xFF, static_cast<std::uint8_t>(marker)});
        put_be(more, static_cast<std::uint64_t>(length), 2);
        more.resize(more.size() + static_cast<std::size_t>(length) - 2, 'M');
    }
    more.insert(more.end(), f8_6.begin() + exif_end, f8_6.end());
    put("more.jpg", more);
    args.push_back("more.jpg");
    expected += "more.jpg .. more.bmp\n";
    copy_picture("f8_6.heic", "turned.heic");
    args.push_back("turned.heic");
    expected += "turned.heic .. " + (under_wine ? no_decoder_on_windows("HEIC") : "turned.bmp") + "\n";
    const ToolRun run = tavo_gray(args);
    EXPECT_EQ(run.status, under_wine ? 1 : 0);
    EXPECT_EQ(run.out, expected);
    EXPECT_TRUE(under_wine || file("turned.bmp") == file("f8_1.bmp"));
    EXPECT_EQ(file("more.bmp"), file("f8_1.bmp"));
    for (const int block : {8, 64}) {
        const std::string size = std::to_string(block);
        const int shown_w = std::min(6 * block, 96);
        const int shown_h = std::min(10 * block, 160);
        const int shown_block = shown_w / 6;
        Bytes upright;
        for (int y = 0; y < shown_h; ++y)
            for (int x = 0; x < shown_w; ++x) upright.push_back(f_is_black(x, y, shown_block) ? 15 : 0);
        const Bytes first = file("f" + size + "_1.bmp");
        EXPECT_EQ(first, bmp_of(shown_w, shown_h, upright)) << size;
        for (int orientation = 2; orientation <= 8; ++orientation)
            EXPECT_EQ(file("f" + size + "_" + std::to_string(orientation) + ".bmp"), first) << size << " " << orientation;
    }
}

// A TIFF block as a JPEG's EXIF segment holds it, in either byte order
// (mm: Motorola's), IFD0 at ifd with count entries (count may claim more
// than are written), the entries, no next IFD.
struct ExifEntry {
    unsigned tag;
    unsigned type;  // 3, SHORT: the value in the entry's first two bytes; others all four
    std::uint64_t count;
    std::uint32_t value;
};
Bytes tiff(bool mm, const std::vector<ExifEntry>& entries, std::uint64_t ifd = 8, std::uint64_t count = ~0ull, unsigned magic = 42) {
    const auto put = [mm](Bytes& b, std::uint64_t value, int size) { mm ? put_be(b, value, size) : put_le(b, value, size); };
    Bytes b = {static_cast<std::uint8_t>(mm ? 'M' : 'I'), static_cast<std::uint8_t>(mm ? 'M' : 'I')};
    put(b, magic, 2);
    put(b, ifd, 4);
    put(b, count == ~0ull ? entries.size() : count, 2);
    for (const ExifEntry& e : entries) {
        put(b, e.tag, 2), put(b, e.type, 2), put(b, e.count, 4);
        if (e.type == 3) put(b, e.value, 2), put(b, 0, 2);
        else put(b, e.value, 4);
    }
    put(b, 0, 4);
    return b;
}

constexpr unsigned ORIENTATION = 0x0112;
const ExifEntry MAKE = {0x010F, 2, 4, 0x4142};  // "AB\0\0" in the entry

// The orientation reader on hostile TIFF blocks: anything but a well-formed
// SHORT Orientation 1..8 inside the block reads as upright.
TEST(JpegOrientation, HostileBlocksReadAsUpright) {
    const Bytes ii6 = tiff(false, {MAKE, {ORIENTATION, 3, 1, 6}});
    Bytes cut_entry = ii6;
    cut_entry.resize(cut_entry.size() - 4 - 6);  // the next-IFD offset and most of the Orientation entry gone
    struct Case {
        const char* name;
        Bytes block;
        int orientation;
    };
    const Case cases[] = {
        {"II", ii6, 6},
        {"MM", tiff(true, {MAKE, {ORIENTATION, 3, 1, 8}}), 8},
        {"empty", {}, 1},
        {"value 0", tiff(false, {{ORIENTATION, 3, 1, 0}}), 1},
        {"value 9", tiff(true, {{ORIENTATION, 3, 1, 9}}), 1},
        {"type LONG", tiff(false, {{ORIENTATION, 4, 1, 6}}), 1},
        {"type BYTE", tiff(false, {{ORIENTATION, 1, 1, 6}}), 1},
        {"count 2", tiff(true, {{ORIENTATION, 3, 2, 6}}), 1},
        {"count huge, the tag not among the entries", tiff(false, {MAKE}, 8, 0xFFFF), 1},
        {"IFD past the block", tiff(false, {{ORIENTATION, 3, 1, 6}}, 60), 1},
        {"IFD offset 0xFFFFFFFF", tiff(true, {{ORIENTATION, 3, 1, 6}}, 0xFFFFFFFF), 1},
        {"byte order IM", [&] { Bytes b = ii6; b[1] = 'M'; return b; }(), 1},
        {"not 42", tiff(false, {{ORIENTATION, 3, 1, 6}}, 8, ~0ull, 43), 1},
        {"TIFF header cut", {'I', 'I', 42, 0}, 1},
        {"entry cut by the block's end", cut_entry, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(orientation_in_tiff(c.block), c.orientation) << c.name;
}

void set_size(Bytes& file, std::uint8_t sof, unsigned width, unsigned height) {
    const std::size_t at = find_marker(file, sof);
    file[at + 5] = static_cast<std::uint8_t>(height >> 8), file[at + 6] = static_cast<std::uint8_t>(height);
    file[at + 7] = static_cast<std::uint8_t>(width >> 8), file[at + 8] = static_cast<std::uint8_t>(width);
}

Bytes first_bytes(const Bytes& file, std::size_t size) { return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)); }

// Hostile files end quickly, each with its one line: refused with the
// problem in plain words, or made as far as they go with a warning. They
// are made from 64 x 64 pictures of a dark even texture: baseline,
// progressive gray and progressive colour.
TEST_F(Jpeg, HostileFilesEndWithTheirOneLine) {
    const Bytes base = bytes_of(PICTURES / "textured.jpg");
    const Bytes prog = bytes_of(PICTURES / "textured-progressive-gray.jpg");
    const std::size_t dht = find_marker(base, 0xC4);
    const std::size_t scan = after_segment(base, find_marker(base, 0xDA));

    Bytes long_table = base;  // 16 x 17 codes: more than the 256 a table holds
    for (std::size_t i = 0; i < 16; ++i) long_table[dht + 5 + i] = 17;
    Bytes crowded = base;  // the DC table's 12 codes, three of 1 bit: more than 1 bit codes
    const Bytes dc_counts = {3, 0, 3, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    std::copy(dc_counts.begin(), dc_counts.end(), crowded.begin() + static_cast<std::ptrdiff_t>(dht + 5));
    Bytes empty = base;
    set_size(empty, 0xC0, 0, 0);
    Bytes huge = first_bytes(base, scan);
    set_size(huge, 0xC0, 65535, 65535);
    Bytes many = first_bytes(base, scan);  // within a JPEG's sides, past the pixels taken
    set_size(many, 0xC0, 20000, 20000);
    Bytes over_jpeg = first_bytes(base, scan);
    set_size(over_jpeg, 0xC0, 65501, 100);
    Bytes wide = first_bytes(base, scan);
    set_size(wide, 0xC0, 60000, 4000);
    Bytes memory = bytes_of(PICTURES / "textured-progressive.jpg");  // 16000 x 16000 progressive 4:2:0: 768 MB of coefficients
    set_size(memory, 0xC2, 16000, 16000);
    Bytes twelve_bits = base;
    twelve_bits[find_marker(base, 0xC0) + 4] = 12;
    Bytes lossless = base;
    lossless[find_marker(base, 0xC0) + 1] = 0xC3;
    Bytes scans = first_bytes(prog, prog.size() - 2);  // the last scan again and again
    std::size_t last = find_marker(prog, 0xDA);
    for (std::size_t next = last; next != 0; next = find_marker(prog, 0xDA, next + 2, false)) last = next;
    const Bytes last_scan(prog.begin() + static_cast<std::ptrdiff_t>(last), prog.end() - 2);
    for (int i = 0; i < 1100; ++i) scans.insert(scans.end(), last_scan.begin(), last_scan.end());
    scans.insert(scans.end(), {0xFF, 0xD9});
    Bytes bad_code = base;  // all ones, which no Huffman code is
    for (std::size_t i = scan + 40; i < scan + 60; i += 2) bad_code[i] = 0xFF, bad_code[i + 1] = 0;
    Bytes marker = base;  // a restart marker where none is due
    marker[scan + 40] = 0xFF, marker[scan + 41] = 0xD0;

    // What libjpeg says, then what Windows' decoder does (under Wine): it
    // refuses any file it cannot decode whole alike, decodes the one that
    // needs much memory and the many scans, and tells nothing of damaged data.
    const std::string refused = "Error - JPEG: Windows could not decode it (0x80004005)\n";
    struct Case {
        std::string name;
        Bytes bytes;
        std::string out;
        std::string wine_out;  // "": the picture made
    };
    const std::string damaged = "Warning - JPEG: the file is damaged; the picture is made as far as it goes\n";
    const std::string cut_short = "Error - JPEG: the file is cut short before its first row\n";
    const std::vector<Case> cases = {
        {"long_table.jpg", long_table, "Error - JPEG: a Huffman table is damaged\n", refused},
        {"crowded.jpg", crowded, "Error - JPEG: a Huffman table is damaged\n", refused},
        {"header.jpg", first_bytes(base, scan), cut_short, refused},
        {"prog_header.jpg", first_bytes(prog, after_segment(prog, find_marker(prog, 0xDA))), cut_short, refused},
        {"empty.jpg", empty, "Error - the picture is 0x0 pixels: it has none\n", refused},
        {"huge.jpg", huge, "Error - the picture is 65535x65535 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n",
         "Error - the picture is 65535x65535 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n"},
        {"many.jpg", many, "Error - the picture is 20000x20000 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n",
         "Error - the picture is 20000x20000 pixels, more than tavo-gray takes (65535 a side, 268 million in all)\n"},
        {"over_jpeg.jpg", over_jpeg, "Error - JPEG: the picture is 65501x100 pixels, more than a JPEG file holds (65500 a side)\n",
         refused},
        {"wide.jpg", wide, cut_short, "Error - JPEG: the picture is decoded whole by Windows and needs more than 512 MiB to decode at once\n"},
        {"memory.jpg", memory, "Error - JPEG: the picture is progressive and needs more than 512 MiB to decode at once\n",
         "Error - JPEG: the picture is decoded whole by Windows and needs more than 512 MiB to decode at once\n"},
        {"twelve_bits.jpg", twelve_bits, "Error - JPEG: the picture has 12-bit samples; tavo-gray reads 8-bit JPEG files\n", refused},
        {"lossless.jpg", lossless, "Error - JPEG: the picture is coded in a way tavo-gray cannot read (lossless or hierarchical)\n",
         refused},
        {"no_picture.jpg", {0xFF, 0xD8, 0xFF, 0xD9}, "Error - JPEG: the file holds no picture\n", refused},
        {"scans.jpg", scans, "Error - JPEG: the picture is stored in too many scans to decode in reasonable time\n", ""},
        {"bad_code.jpg", bad_code, damaged + "bad_code.bmp\n", ""},
        {"marker.jpg", marker, damaged + "marker.bmp\n", ""},
    };
    std::vector<std::string> names;
    std::string expected;
    for (const Case& c : cases) {
        put(c.name, c.bytes);
        names.push_back(c.name);
        const std::string bmp = fs::path(c.name).replace_extension(".bmp").string();
        expected += c.name + " .. " + (!under_wine ? c.out : c.wine_out.empty() ? bmp + "\n" : c.wine_out);
    }
    const ToolRun run = tavo_gray(names);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected);
    for (const Case& c : cases) {  // a picture for each file made, and only for those
        const std::string bmp = fs::path(c.name).replace_extension(".bmp").string();
        const bool made = under_wine ? c.wine_out.empty() : c.out.ends_with("\n" + bmp + "\n");
        EXPECT_EQ(fs::exists(dir / bmp), made) << c.name;
    }
}

// A file cut short in its scan is made as far as whole rows of blocks go,
// the rest white, with a warning; a progressive one cut in a later scan has
// every row, coarser.
TEST_F(Jpeg, ACutShortFileIsMadeAsFarAsItGoes) {
    constexpr int SIDE = 64;
    const Bytes whole = bytes_of(PICTURES / "textured.jpg");
    const Bytes prog = bytes_of(PICTURES / "textured-progressive.jpg");
    const std::size_t scan = after_segment(whole, find_marker(whole, 0xDA));
    put("cut.jpg", first_bytes(whole, scan + (whole.size() - scan) / 2));
    put("prog_cut.jpg", first_bytes(prog, prog.size() * 3 / 4));
    const ToolRun run = tavo_gray({"--line-art", "cut.jpg", "prog_cut.jpg"});
    EXPECT_EQ(run.status, 0);
    const std::string as_far = "Warning - JPEG: the file is cut short; the picture is made as far as it goes\n";
    if (under_wine) {  // Windows' decoder, given an end, makes the rest of its own gray
        EXPECT_EQ(run.out, "cut.jpg .. " + as_far + "cut.bmp\nprog_cut.jpg .. " + as_far + "prog_cut.bmp\n");
        return;
    }
    const auto whites = [](const Bmp4Image& image, int y) {  // the row's white pixels
        return std::count(image.pixels.begin() + y * SIDE, image.pixels.begin() + (y + 1) * SIDE, 0);
    };
    const Bmp4Image cut = made("cut.bmp");
    ASSERT_EQ(cut.pixels.size(), std::size_t{SIDE * SIDE});
    int first_white = 0;
    while (first_white < SIDE && whites(cut, first_white) == 0) ++first_white;
    EXPECT_EQ(first_white % 16, 0);  // whole rows of 4:2:0 blocks
    EXPECT_EQ(run.out, "cut.jpg .. Warning - JPEG: the file is cut short after " + std::to_string(first_white) +
                           " of " + std::to_string(SIDE) + " rows; the rest is white\ncut.bmp\nprog_cut.jpg .. " + as_far + "prog_cut.bmp\n");
    EXPECT_GE(first_white, SIDE / 4);
    EXPECT_LE(first_white, SIDE * 3 / 4);
    for (int y = first_white; y < SIDE; ++y) EXPECT_EQ(whites(cut, y), SIDE) << y;
    const Bmp4Image prog_cut = made("prog_cut.bmp");
    ASSERT_EQ(prog_cut.pixels.size(), std::size_t{SIDE * SIDE});
    for (int y = 0; y < SIDE; ++y) EXPECT_EQ(whites(prog_cut, y), 0) << y;
}

}  // namespace
