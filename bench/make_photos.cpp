// Makes the picture benchmark's workload: camera-sized JPEG photos (4000 x
// 3000, quality 92, 4:2:0), photo-like (smooth light, hard-edged shapes,
// fine detail and sensor noise), each different, the same on every run.
//
//   tavo_make_photos FOLDER [COUNT, default 50]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it needs FILE and size_t

namespace {

constexpr int WIDTH = 4000;
constexpr int HEIGHT = 3000;

struct Noise {
    std::uint64_t state;
    int next() {  // about -24..24, roughly bell-shaped
        int sum = 0;
        for (int k = 0; k < 3; ++k) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            sum += static_cast<int>(state >> 59);
        }
        return sum - 45;
    }
};

std::uint8_t clamp_byte(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

int write_photo(const std::string& path, unsigned seed) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 1;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = WIDTH;
    cinfo.image_height = HEIGHT;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);  // the defaults sample colour 4:2:0
    jpeg_start_compress(&cinfo, TRUE);

    // Light across the frame, from per-row and per-column waves.
    const double phase = seed * 0.7;
    std::vector<double> across(WIDTH), down(HEIGHT);
    for (int x = 0; x < WIDTH; ++x) across[x] = 60 * std::sin(x / 500.0 + phase) + 25 * std::sin(x / 37.0 + 2 * phase);
    for (int y = 0; y < HEIGHT; ++y) down[y] = 50 * std::cos(y / 420.0 - phase) + 20 * std::sin(y / 23.0 + phase);
    Noise noise{seed * 0x9E3779B97F4A7C15u + 1};
    std::vector<std::uint8_t> row(3 * WIDTH);
    const int cx = 1000 + static_cast<int>(seed * 397 % 2000);
    const int cy = 800 + static_cast<int>(seed * 211 % 1400);
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            const bool disc = dx * dx + dy * dy < 700.0 * 700.0;               // a round object
            const bool bar = (x / 90 + y / 300 + static_cast<int>(seed)) % 7 == 0;  // stripes of a fence
            const double light = 128 + across[x] + down[y] + (disc ? 45 : 0) - (bar ? 60 : 0);
            const int n = noise.next();
            row[3 * x] = clamp_byte(light * (disc ? 1.2 : 0.9) + n);
            row[3 * x + 1] = clamp_byte(light + n / 2);
            row[3 * x + 2] = clamp_byte(light * (bar ? 0.6 : 1.05) + n);
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavo_make_photos FOLDER [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 50;
    std::filesystem::create_directories(argv[1]);
    for (int i = 1; i <= count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo%02d.jpg", i);
        if (write_photo(argv[1] + std::string(name), static_cast<unsigned>(i)) != 0) return 1;
    }
    return 0;
}
