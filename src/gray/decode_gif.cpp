// GIF through giflib: the picture is the logical screen, white, with the
// file's first frame placed on it (its transparent index clear). Only that
// frame is read, a line at a time, never the whole file (giflib's DGifSlurp
// would hold every frame a file claims). A frame with no colour table, its
// own or the file's, is refused: there is no colour to take.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "gray/decode.h"

namespace {

constexpr std::array<std::uint8_t, 4> WHITE = {255, 255, 255, 255};

// giflib's reads: fewer bytes than asked at the end of the file.
int read_input(GifFileType* gif, GifByteType* data, int length) {
    return static_cast<int>(read_up_to(*static_cast<Decoding*>(gif->UserData)->in, data, static_cast<std::size_t>(length)));
}

// giflib's error as the picture's end: a read that came short is the file
// cut short.
int stop_gif(Decoding& d, int error) {
    if (error == D_GIF_ERR_READ_FAILED) return stop_early(d, Stop::CUT_SHORT);
    const char* words = GifErrorString(error);
    return stop_early(d, Stop::DAMAGED, words != nullptr ? words : "unknown error");
}

// Reads one extension, keeping the transparent index of a graphic control block.
int read_extension(GifFileType* gif, int& transparent) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return 1;
    GraphicsControlBlock control{};
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
        transparent = control.TransparentColor;
    while (block != nullptr)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return 1;
    return 0;
}

// Walks the records up to the first frame and reads its descriptor into
// gif->Image. 1 on giflib's error, 2 when the file ends with no frame.
int find_frame(GifFileType* gif, int& transparent) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    while (type != IMAGE_DESC_RECORD_TYPE) {
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return 1;
        if (type == TERMINATE_RECORD_TYPE) return 2;
        if (type == EXTENSION_RECORD_TYPE && read_extension(gif, transparent) != 0) return 1;
    }
    return DGifGetImageDesc(gif) == GIF_ERROR ? 1 : 0;
}

// Where the frame lies on the screen, and the colour of each index.
struct Frame {
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    std::uint32_t width = 0;  // as stored
    std::uint32_t height = 0;
    std::uint32_t visible_width = 0;  // the part on the screen
    std::uint32_t visible_height = 0;
    std::array<std::uint8_t, 4 * 256> colours{};  // RGBA; an index past the colour table is black
};

// A screen row: white, with the visible part of a frame's line on it.
void place_line(const Frame& frame, const GifPixelType* line, std::vector<std::uint8_t>& row) {
    for (std::size_t x = 0; x < row.size(); x += 4) std::copy(WHITE.begin(), WHITE.end(), row.begin() + static_cast<std::ptrdiff_t>(x));
    for (std::uint32_t x = 0; line != nullptr && x < frame.visible_width; ++x)
        std::copy_n(frame.colours.begin() + 4 * line[x], 4, row.begin() + 4 * std::ptrdiff_t{frame.left + x});
}

// A frame stored row by row: each screen row handed over as it is read.
int read_rows(GifFileType* gif, Decoding& d, const Frame& frame) {
    std::vector<GifPixelType> line(frame.width);
    std::vector<std::uint8_t> row(4 * std::size_t{d.sink.info.width});
    for (std::uint32_t y = 0; y < frame.top + frame.visible_height; ++y) {
        const bool in_frame = y >= frame.top;
        if (in_frame && DGifGetLine(gif, line.data(), static_cast<int>(frame.width)) == GIF_ERROR) return stop_gif(d, gif->Error);
        place_line(frame, in_frame ? line.data() : nullptr, row);
        add_row(d.sink, row);
    }
    return 0;
}

// An interlaced frame: its visible part held whole, its rows read in the
// four passes' order, then handed over top to bottom; rows a file cut short
// never reached stay white.
int read_passes(GifFileType* gif, Decoding& d, const Frame& frame) {
    const std::uint64_t size = std::uint64_t{frame.visible_width} * frame.visible_height;
    if (check_memory(d, size, "interlaced") != 0) return 1;
    d.held_whole = true;
    std::vector<GifPixelType> held(static_cast<std::size_t>(size));
    std::vector<bool> filled(frame.visible_height, false);
    std::vector<GifPixelType> line(frame.width);
    constexpr std::uint32_t STARTS[] = {0, 4, 2, 1};
    constexpr std::uint32_t STEPS[] = {8, 8, 4, 2};
    int error = 0;
    for (int pass = 0; pass < 4 && error == 0; ++pass) {
        for (std::uint32_t y = STARTS[pass]; y < frame.height && error == 0; y += STEPS[pass]) {
            if (DGifGetLine(gif, line.data(), static_cast<int>(frame.width)) == GIF_ERROR) {
                if (pass == 0 && y == 0) return stop_gif(d, gif->Error);
                error = gif->Error;
            } else if (y < frame.visible_height) {
                std::copy_n(line.begin(), frame.visible_width, held.begin() + std::ptrdiff_t{y} * frame.visible_width);
                filled[y] = true;
            }
        }
    }
    std::vector<std::uint8_t> row(4 * std::size_t{d.sink.info.width});
    for (std::uint32_t y = 0; y < frame.top + frame.visible_height; ++y) {
        const bool in_frame = y >= frame.top && filled[y - frame.top];
        place_line(frame, in_frame ? held.data() + std::size_t{y - frame.top} * frame.visible_width : nullptr, row);
        add_row(d.sink, row);
    }
    return error != 0 ? stop_gif(d, error) : 0;
}

// The frame as giflib read its descriptor, placed on a screen of width x height.
Frame frame_of(const GifImageDesc& image, const ColorMapObject& table, int transparent, std::uint32_t width, std::uint32_t height) {
    Frame frame;
    frame.left = static_cast<std::uint32_t>(image.Left);
    frame.top = static_cast<std::uint32_t>(image.Top);
    frame.width = static_cast<std::uint32_t>(image.Width);
    frame.height = static_cast<std::uint32_t>(image.Height);
    frame.visible_width = frame.left < width ? std::min(frame.width, width - frame.left) : 0;
    frame.visible_height = frame.top < height ? std::min(frame.height, height - frame.top) : 0;
    for (std::size_t i = 0; i < 256; ++i) {
        const bool listed = i < static_cast<std::size_t>(std::max(table.ColorCount, 0));
        const GifColorType c = listed ? table.Colors[i] : GifColorType{0, 0, 0};
        const bool clear = static_cast<int>(i) == transparent;
        std::copy_n(std::array<std::uint8_t, 4>{c.Red, c.Green, c.Blue, clear ? std::uint8_t{0} : std::uint8_t{255}}.begin(), 4,
                    frame.colours.begin() + static_cast<std::ptrdiff_t>(4 * i));
    }
    return frame;
}

int decode(GifFileType* gif, Decoding& d) {
    auto width = static_cast<std::uint32_t>(gif->SWidth);
    auto height = static_cast<std::uint32_t>(gif->SHeight);
    // A screen too large is refused before anything else is read.
    if (width > 0 && height > 0 && start_rows(d.sink, {width, height, width, height}) != 0) return 1;
    int transparent = NO_TRANSPARENT_COLOR;
    const int found = find_frame(gif, transparent);
    if (found == 2) return picture_error(d, "the file holds no picture");
    if (found != 0) return stop_gif(d, gif->Error);
    const GifImageDesc& image = gif->Image;
    const auto frame_width = static_cast<std::uint32_t>(image.Width), frame_height = static_cast<std::uint32_t>(image.Height);
    if (frame_width > 0 && frame_height > 0 && check_picture_size(frame_width, frame_height, d.sink.max_pixels) != 0) return 1;
    if (width == 0 || height == 0) {  // a screen of no size: the frame's
        width = static_cast<std::uint32_t>(image.Left + image.Width);
        height = static_cast<std::uint32_t>(image.Top + image.Height);
        if (start_rows(d.sink, {width, height, width, height}) != 0) return 1;
    }
    const ColorMapObject* table = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
    if (table == nullptr) return picture_error(d, "the picture has no colour table");
    const Frame frame = frame_of(image, *table, transparent, width, height);
    if (frame.visible_width == 0 || frame.visible_height == 0) return 0;  // all white
    return image.Interlace ? read_passes(gif, d, frame) : read_rows(gif, d, frame);
}

}  // namespace

int decode_gif(Decoding& d) {
    int error = 0;
    GifFileType* gif = DGifOpen(&d, read_input, &error);
    if (gif == nullptr) return stop_gif(d, error);
    const int status = decode(gif, d);
    DGifCloseFile(gif, &error);
    return status;
}
