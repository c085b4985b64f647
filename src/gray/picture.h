// Any picture as 16 grays, ready to be written as a BMP file that import
// takes faithfully: decoded by the format its content shows (decode.h), put
// onto white where transparent, shrunk while it is read to fit the largest
// picture import takes, turned upright as its EXIF orientation asks, made
// gray by the brightness import ranks colours by, and each pixel the nearest
// of the 16 grays of the export palette (level i is gray 255 - 17 i).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/image_record.h"
#include "gray/rows.h"
#include "io/byte_stream.h"

struct GrayPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<GrayLevel> levels;  // width * height, row 0 on top
};

// Makes the picture the open stream holds (read from its start, within
// MAX_DECODING_TIME); the error of the grays is spread to the neighbours
// (Floyd-Steinberg) unless line_art, which takes each pixel's nearest gray
// alone. Prints one "Error ..." line and returns 1 when it cannot; a read
// error (stream.failed) is left to the caller to tell. max_pixels: the
// largest picture taken.
int make_picture(ByteStream& stream, bool line_art, GrayPicture& picture, std::uint64_t max_pixels = MAX_PICTURE_PIXELS);

// The 16 grays of grays (0 black to 255 white), width x height, row 0 on top.
std::vector<GrayLevel> to_levels(std::vector<float> grays, std::uint32_t width, std::uint32_t height, bool line_art);
