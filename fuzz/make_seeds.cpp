// Writes the fuzzers' seed corpora and the hostile inputs that must fail
// cleanly: make_seeds <fuzz folder> fills corpus/<target>/ and
// crashers/<target>/hostile_*. Every file is made here, with the project's
// own writers, and kept small.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/record_to_bmp.h"
#include "formats/bmp4.h"
#include "formats/image_record.h"
#include "formats/pdb.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void save(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> picture(int width, int height) {
    std::vector<std::uint8_t> p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.push_back(static_cast<std::uint8_t>((x * 5 + y * 3 + x * y) % 16));
    return p;
}

Bytes bmp(int width, int height) {
    std::array<std::uint8_t, 64> palette{};
    for (std::size_t i = 0; i < 64; ++i) palette[i] = static_cast<std::uint8_t>((i * 37) % 256);
    ByteStream s;
    open_memory_write(s);
    write_bmp(s, width, height, palette, picture(width, height));
    const auto b = memory_contents(s);
    return Bytes(b.begin(), b.end());
}

void put_le32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// The same picture with a larger info header (the palette moves along).
Bytes with_info_size(Bytes b, std::uint32_t size) {
    b.insert(b.begin() + 54, size - 40, 0);
    put_le32(b, 14, size);
    put_le32(b, 10, 14 + size + 64);
    return b;
}

// The same picture, top-down.
Bytes top_down(int width, int height) {
    Bytes b = bmp(width, height);
    const std::size_t row = bmp_padded_row_bytes(static_cast<std::size_t>(width));
    Bytes flipped(b.begin(), b.begin() + 118);
    for (std::size_t r = static_cast<std::size_t>(height); r-- > 0;)
        flipped.insert(flipped.end(), b.begin() + static_cast<std::ptrdiff_t>(118 + r * row),
                       b.begin() + static_cast<std::ptrdiff_t>(118 + (r + 1) * row));
    put_le32(flipped, 22, static_cast<std::uint32_t>(-height));
    return flipped;
}

Bytes database(const std::vector<Bytes>& records) {
    PdbDatabase db = new_database();
    for (const Bytes& r : records) add_record(db, r);
    ByteStream s;
    open_memory_write(s);
    write_database(s, db);
    const auto b = memory_contents(s);
    return Bytes(b.begin(), b.end());
}

Bytes record(const std::string& name, int width, int height) {
    ByteBuffer r;
    pack_image_record(name, width, height, picture(width, height), r);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: make_seeds <fuzz folder>\n");
        return 1;
    }
    const fs::path root = fs::path(argv[1]) / "corpus";
    const fs::path crashers = fs::path(argv[1]) / "crashers";
    const std::vector<std::pair<std::string, Bytes>> bmps = {
        {"1x1", bmp(1, 1)},
        {"5x3", bmp(5, 3)},
        {"17x4", bmp(17, 4)},
        {"info124", with_info_size(bmp(9, 2), 124)},
        {"info108", with_info_size(bmp(3, 3), 108)},
        {"topdown", top_down(6, 5)},
        {"short_palette", [] { Bytes b = bmp(4, 2); put_le32(b, 46, 2); return b; }()},
        {"rle4", [] { Bytes b = bmp(4, 2); b[30] = 2; return b; }()},
        {"8bit", [] { Bytes b = bmp(4, 2); b[28] = 8; return b; }()},
        {"cut", [] { Bytes b = bmp(8, 8); b.resize(100); return b; }()},
    };
    for (const auto& [name, bytes] : bmps) {
        save(root / "bmp_import" / (name + ".bmp"), bytes);
        save(root / "round_trip" / (name + ".bmp"), bytes);
    }
    save(root / "pdb_export" / "empty.pdb", database({}));
    save(root / "pdb_export" / "one.pdb", database({record("CAT", 4, 3)}));
    save(root / "pdb_export" / "three.pdb",
         database({record("a/b", 5, 2), record("CON", 2, 1), record(std::string(40, 'n'), 16, 6)}));
    save(root / "pdb_export" / "short_record.pdb", database({Bytes{4, 9, 'x', 0}, record("ok", 2, 2)}));
    save(root / "round_trip" / "name.bin", Bytes{7, 3, 4, 'n', 'a', 'm', 'e', 0x12, 0x34, 0xAB});

    // Claims no file can back: each must be refused before anything is allocated.
    const auto patched = [](Bytes b, std::size_t at, std::uint32_t v) { put_le32(b, at, v); return b; };
    const std::vector<std::pair<std::string, Bytes>> hostile_bmps = {
        {"negative_width", patched(bmp(4, 2), 18, 0xFFFFFFFC)},
        {"millions", patched(patched(bmp(4, 2), 18, 3000000), 22, 3000000)},
        {"most_negative_height", patched(bmp(4, 2), 22, 0x80000000)},
        {"palette_300_million", patched(bmp(4, 2), 46, 300000000)},
        {"header_size_66", patched(bmp(4, 2), 14, 66)},
        {"header_size_4G", patched(bmp(4, 2), 14, 0xFFFFFFFF)},
        {"pixels_past_end", patched(bmp(4, 2), 10, 0xFFFFFF00)},
        {"cut_after_header", [] { Bytes b = bmp(4, 2); b.resize(54); return b; }()},
        {"core_header_no_room", [&] { Bytes b = patched(bmp(4, 2), 14, 12); b[24] = 4; b[25] = 0; return b; }()},
    };
    for (const auto& [name, bytes] : hostile_bmps) save(crashers / "bmp_import" / ("hostile_" + name + ".bmp"), bytes);
    Bytes many = database({});
    many[76] = 0xFF;
    many[77] = 0xFF;
    save(crashers / "pdb_export" / "hostile_65535_records.pdb", many);
    Bytes descending = database({record("a", 2, 1), record("b", 2, 1), record("c", 2, 1)});
    std::swap(descending[78 + 8 + 3], descending[78 + 16 + 3]);
    save(crashers / "pdb_export" / "hostile_descending.pdb", descending);
    Bytes beyond = database({record("a", 2, 1)});
    beyond[78] = 0xFF;
    save(crashers / "pdb_export" / "hostile_offset_beyond_end.pdb", beyond);
    save(crashers / "pdb_export" / "hostile_tiny_record.pdb", database({Bytes{1}, Bytes{255, 255}}));
    return 0;
}
