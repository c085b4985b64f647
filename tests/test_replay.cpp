// Replays the fuzzers' seed corpora and every input kept in fuzz/crashers/
// (inputs that once broke a property, or must fail cleanly) through the
// fuzz targets; a target aborts when a property breaks.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "targets.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    int (*run)(std::span<const std::uint8_t>);
};

constexpr Target TARGETS[] = {
    {"bmp_import", fuzz_bmp_import},
    {"pdb_export", fuzz_pdb_export},
    {"round_trip", fuzz_round_trip},
};

TEST(Replay, CorporaAndCrashersPassEveryTarget) {
    std::size_t replayed = 0;
    for (const Target& target : TARGETS) {
        for (const char* folder : {"corpus", "crashers"}) {
            const fs::path dir = fs::path(TAVO_FUZZ_DIR) / folder / target.name;
            if (!fs::exists(dir)) continue;
            for (const auto& entry : fs::directory_iterator(dir)) {
                std::ifstream in(entry.path(), std::ios::binary);
                const Bytes input(std::istreambuf_iterator<char>(in), {});
                console_of([&] { EXPECT_EQ(target.run(input), 0) << entry.path(); });
                ++replayed;
            }
        }
    }
    EXPECT_GT(replayed, 20u);
}

}  // namespace
