// Makes the largest workload import and export meet, in a folder:
//   make_workload <folder>
// writes <folder>/bmp/pic000.bmp .. pic255.bmp (160 x 160, 16 colours, each
// with its own palette and picture) and <folder>/pdb/workload.pdb, the
// 256-record database of the same pictures.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/bmp_to_record.h"
#include "formats/bmp4.h"
#include "formats/image_record.h"
#include "formats/pdb.h"

namespace {

namespace fs = std::filesystem;
constexpr int SIZE = 160;
constexpr int PICTURES = 256;

std::vector<std::uint8_t> picture(int n) {
    std::vector<std::uint8_t> p(SIZE * SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            const int rings = ((x - 80) * (x - 80) + (y - 80) * (y - 80)) / (40 + n);
            p[static_cast<std::size_t>(y * SIZE + x)] = static_cast<std::uint8_t>((rings + x / (1 + n % 7) + n) % 16);
        }
    return p;
}

std::array<std::uint8_t, BMP_PALETTE_SIZE> palette(int n) {
    std::array<std::uint8_t, BMP_PALETTE_SIZE> p{};
    for (std::size_t i = 0; i < 16; ++i) {
        p[4 * i] = static_cast<std::uint8_t>((i * 16 + static_cast<std::size_t>(n) * 7) % 256);
        p[4 * i + 1] = static_cast<std::uint8_t>((i * 53 + static_cast<std::size_t>(n) * 3) % 256);
        p[4 * i + 2] = static_cast<std::uint8_t>((255 - i * 11 + static_cast<std::size_t>(n)) % 256);
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: make_workload <folder>\n");
        return 1;
    }
    const fs::path root = argv[1];
    fs::create_directories(root / "bmp");
    fs::create_directories(root / "pdb");
    std::vector<std::vector<std::uint8_t>> records(PICTURES);
    PdbDatabase database = new_database();
    for (int n = 0; n < PICTURES; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "pic%03d", n);
        const auto pixels = picture(n);
        const auto colours = palette(n);
        ByteStream out;
        if (open_write(out, (root / "bmp" / (std::string(name) + ".bmp")).string()) != 0) return 1;
        write_bmp(out, SIZE, SIZE, colours, pixels);
        if (close_stream(out) != 0) return 1;

        pack_image_record(name, SIZE, SIZE, pixels, rank_palette(colours), records[static_cast<std::size_t>(n)]);
        add_record(database, records[static_cast<std::size_t>(n)]);
    }
    ByteStream out;
    if (open_write(out, (root / "pdb" / "workload.pdb").string()) != 0) return 1;
    write_database(out, database);
    return close_stream(out);
}
