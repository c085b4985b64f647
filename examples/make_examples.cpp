// Makes the bundled sample data: make_examples <folder> writes
//   <folder>/bmp/<name>.bmp  each picture as a 16-colour BMP with a palette of
//                            its own, in colour or gray, in any order
//   <folder>/sample.pdb      the database of the same pictures, in the order
//                            below, as `tavo i` would make it from the BMPs
// The pictures are drawn here with integer arithmetic only, so every
// platform makes the same bytes.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert/bmp_to_record.h"
#include "formats/bmp4.h"
#include "formats/image_record.h"
#include "formats/pdb.h"

namespace {

namespace fs = std::filesystem;
using Palette = std::array<std::uint8_t, BMP_PALETTE_SIZE>;
using Rgb = std::array<int, 3>;

struct Example {
    std::string name;
    int width;
    int height;
    std::function<int(int, int)> level;  // 0 = white .. 15 = black at (x, y)
    std::vector<Rgb> colours;            // 16 entries, any order
};

Palette palette_of(const std::vector<Rgb>& colours) {
    Palette p{};
    for (std::size_t i = 0; i < 16; ++i) {
        p[4 * i] = static_cast<std::uint8_t>(colours[i][2]);
        p[4 * i + 1] = static_cast<std::uint8_t>(colours[i][1]);
        p[4 * i + 2] = static_cast<std::uint8_t>(colours[i][0]);
    }
    return p;
}

std::vector<Rgb> grays_shuffled() {
    std::vector<Rgb> c;
    for (int i : {7, 0, 12, 3, 15, 9, 5, 1, 14, 10, 2, 8, 13, 6, 11, 4}) c.push_back({255 - 17 * i, 255 - 17 * i, 255 - 17 * i});
    return c;
}

std::vector<Rgb> rainbow() {
    return {{255, 255, 255}, {255, 0, 0}, {255, 128, 0}, {255, 255, 0}, {128, 255, 0}, {0, 200, 0},
            {0, 255, 255},   {0, 128, 255}, {0, 0, 255}, {128, 0, 255}, {255, 0, 255}, {255, 128, 192},
            {128, 64, 0},    {96, 96, 96},  {0, 64, 0},  {0, 0, 0}};
}

std::vector<Rgb> sepia() {
    std::vector<Rgb> c;
    for (int i = 15; i >= 0; --i) c.push_back({40 + 14 * i, 26 + 13 * i, 10 + 11 * i});
    return c;
}

int clamp_level(int v) { return std::clamp(v, 0, 15); }

std::vector<Example> examples() {
    return {
        {"palette", 160, 20, [](int x, int) { return x / 10; }, rainbow()},
        {"circle", 31, 31,
         [](int x, int y) {
             const int d2 = (x - 15) * (x - 15) + (y - 15) * (y - 15);
             return d2 > 15 * 15 ? 0 : clamp_level(15 - d2 / 16);
         },
         grays_shuffled()},
        {"checkers", 40, 24, [](int x, int y) { return ((x / 8 + y / 8) % 2) * 12 + (x + y) % 4; }, rainbow()},
        {"gradient", 160, 16, [](int x, int) { return x * 16 / 160; }, sepia()},
        {"stripes", 17, 9, [](int x, int y) { return ((x + 2 * y) / 3) % 2 == 0 ? 15 : 2; }, grays_shuffled()},
        {"diamond", 45, 45, [](int x, int y) { return (std::abs(x - 22) + std::abs(y - 22)) % 16; }, sepia()},
        {"Letter F", 13, 21,
         [](int x, int y) { return (x >= 2 && x <= 4) || ((y <= 3) && x <= 11) || (y >= 9 && y <= 11 && x <= 9) ? 15 : 0; },
         rainbow()},
    };
}

int save_bmp(const fs::path& path, const Example& e, const Palette& palette, const std::vector<std::uint8_t>& pixels) {
    ByteStream out;
    if (open_write(out, path.string()) != 0) return 1;
    write_bmp(out, e.width, e.height, palette, pixels);
    return close_stream(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: make_examples <folder>\n");
        return 1;
    }
    const fs::path root = argv[1];
    fs::create_directories(root / "bmp");
    const auto all = examples();
    std::vector<std::vector<std::uint8_t>> records(all.size());
    PdbDatabase database = new_database();
    for (std::size_t n = 0; n < all.size(); ++n) {
        const Example& e = all[n];
        const Palette palette = palette_of(e.colours);
        // The palette index that each gray level comes from on import.
        const auto ranks = rank_palette(palette);
        std::array<std::uint8_t, 16> index_of{};
        for (std::uint8_t i = 0; i < 16; ++i) index_of[ranks[i]] = i;

        std::vector<std::uint8_t> pixels;
        for (int y = 0; y < e.height; ++y)
            for (int x = 0; x < e.width; ++x) pixels.push_back(index_of[static_cast<std::size_t>(clamp_level(e.level(x, y)))]);
        if (save_bmp(root / "bmp" / (e.name + ".bmp"), e, palette, pixels) != 0) return 1;
        pack_image_record(e.name, e.width, e.height, pixels, ranks, records[n]);
        add_record(database, records[n]);
    }
    ByteStream out;
    if (open_write(out, (root / "sample.pdb").string()) != 0) return 1;
    write_database(out, database);
    return close_stream(out);
}
