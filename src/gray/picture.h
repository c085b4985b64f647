// Any picture as 16 grays, ready to be written as a BMP file that import
// takes faithfully: decoded with stb_image (PNG, JPEG, GIF's first frame,
// BMP of any depth, TGA, PNM), put onto white where transparent, scaled down
// to fit the largest picture import takes when larger, made gray by the
// brightness import ranks colours by, and each pixel the nearest of the 16
// grays of the export palette (level i is gray 255 - 17 i).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/image_record.h"

inline constexpr int MAX_PICTURE_SIDE = 16384;  // larger pictures are refused before decoding

struct GrayPicture {
    int width = 0;
    int height = 0;
    std::vector<GrayLevel> levels;  // width * height, row 0 on top
};

// Reads and prepares the picture at path; the error of the grays is spread
// to the neighbours (Floyd-Steinberg) unless line_art, which takes each
// pixel's nearest gray alone. Prints "Error ..." and returns 1 on failure.
int prepare_picture(const std::string& path, bool line_art, GrayPicture& picture);

// The steps after decoding, on gray values 0 (black) to 255 (white).
// shrink_and_turn averages each run of in_length samples of lines lines down
// to out_length samples and returns them turned: out_length lines of lines
// samples, so that two calls shrink both sides of a picture.
std::vector<float> shrink_and_turn(std::span<const float> in, int in_length, int lines, int out_length);
std::vector<GrayLevel> to_levels(std::vector<float> grays, int width, int height, bool line_art);
