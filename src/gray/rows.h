// Where a decoder's rows go: a streaming shrinker that takes the picture's
// rows top to bottom, 8-bit gray or RGBA, makes each pixel its gray once,
// and keeps no more than the sums of the picture that is made (at most
// 160 x 160), so that memory follows that picture, not the one that is read:
//
//   plan_rows(width, height, orientation) -> the target, and how far the
//                                           decoder may shrink by itself
//   start_rows(sink, info)                   once, before the first row
//   add_row(sink, samples)                   row_width pixels, each row once
//   finish_rows(sink, ...)                   the picture, the right way up
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::uint32_t MAX_PICTURE_SIDE = 65535;         // a side past this is refused from the header
inline constexpr std::uint64_t MAX_PICTURE_PIXELS = 1ull << 28;  // 268 MP: about 10 s of decoding at most
inline constexpr std::uint64_t MAX_MEMORY = 512ull << 20;        // the process's peak, whatever the picture
inline constexpr std::uint64_t MEMORY_ROOM = 32ull << 20;        // of it, the program's own and its libraries' working memory
inline constexpr auto MAX_DECODING_TIME = std::chrono::seconds(30);

// The gray of a colour, each channel 0..255 as stored (sRGB), put onto white
// as far as it is transparent (opacity 0..1): the brightness import ranks
// colours by, 2 red + 4 green + blue, over 7.
constexpr float gray_of(float red, float green, float blue, float opacity = 1.0f) {
    return (2 * red + 4 * green + blue) / 7 * opacity + 255 * (1 - opacity);
}

// A row's pixels: one 8-bit gray, or red, green, blue and opacity.
enum class RowFormat : unsigned { GRAY = 1, RGBA = 4 };

// The picture as its decoder hands it over.
struct RowsInfo {
    std::uint32_t width = 0;   // the picture as stored, before any turn
    std::uint32_t height = 0;
    std::uint32_t row_width = 0;  // the rows handed over: less than width and height
    std::uint32_t row_count = 0;  // when the decoder shrank while decoding
    int orientation = 1;          // EXIF Orientation 1..8: how to turn the rows to show them upright
    RowFormat format = RowFormat::RGBA;
};

// How large the made picture is (as shown, after the turn), and the largest
// factor (1, 2, 4 or 8) by which a decoder may shrink while decoding and
// still hand over at least as many rows and columns as are made.
struct RowsPlan {
    std::uint32_t width = 0;  // as shown
    std::uint32_t height = 0;
    unsigned reduction = 1;
};

// The plan for a stored width x height turned by orientation: shrunk to fit
// 160 x 160 keeping its shape, or kept as it is when it fits.
RowsPlan plan_rows(std::uint32_t width, std::uint32_t height, int orientation);

struct GraySink {
    RowsInfo info;
    std::uint64_t max_pixels = MAX_PICTURE_PIXELS;
    std::uint32_t out_width = 0;  // the stored side's target sizes (before the turn)
    std::uint32_t out_height = 0;
    std::vector<std::uint32_t> column_to;     // per input column: the output column it falls in first
    std::vector<std::uint32_t> column_share;  // and how much of it (of out_width), the rest in the next
    std::vector<double> sums;                 // out_width * out_height, each weighted by its overlap
    std::vector<double> row;                  // one row shrunk across, before it is shared out
    std::uint32_t rows_in = 0;                // rows added so far
};

// Checks the picture's size: prints "Error - ..." and returns 1 for a
// picture of no pixels, more than MAX_PICTURE_SIDE a side or max_pixels.
int check_picture_size(std::uint32_t width, std::uint32_t height, std::uint64_t max_pixels = MAX_PICTURE_PIXELS);

// Sets the sink up for info's rows; 1 (message printed) when check_picture_size refuses.
int start_rows(GraySink& sink, const RowsInfo& info);

// Takes the next row: info.row_width pixels in info.format. Rows past
// row_count are ignored.
void add_row(GraySink& sink, std::span<const std::uint8_t> samples);

// The picture made, as shown (turned by the orientation), its grays row 0 on
// top; rows never added count as white. width and height are as shown.
std::vector<float> finish_rows(GraySink& sink, std::uint32_t& width, std::uint32_t& height);
