// GIF through giflib: the picture is the logical screen, white, with the
// file's first frame placed on it (its transparent index white too). Only
// that frame is read, a line at a time, never the whole file (giflib's
// DGifSlurp would hold every frame a file claims). A frame with no colour
// table, its own or the file's, is refused: there is no colour to take.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "gray/decode.h"
#include "io/console.h"

namespace {

struct GifRead {
    ByteStream* stream = nullptr;
    bool cut_short = false;  // the file ended before giflib had what it asked for
};

// giflib's reads, from the stream's buffer: fewer bytes than asked at the end.
int read_input(GifFileType* gif, GifByteType* data, int length) {
    auto* read = static_cast<GifRead*>(gif->UserData);
    ByteStream& stream = *read->stream;
    int got = 0;
    while (got < length) {
        if (stream.next == stream.end && refill_stream(stream) != 0) {
            read->cut_short = true;
            break;
        }
        const int n = static_cast<int>(std::min<std::ptrdiff_t>(length - got, stream.end - stream.next));
        std::memcpy(data + got, stream.next, static_cast<std::size_t>(n));
        stream.next += n;
        got += n;
    }
    return got;
}

// giflib's error code in plain words; nothing for a read error, which the
// caller tells.
int report_error(const GifRead& read, int error) {
    if (read.stream->failed) return 1;
    if (read.cut_short || error == D_GIF_ERR_READ_FAILED) return fail("Error - GIF: the file is cut short before its first row\n");
    const char* text = GifErrorString(error);
    std::string words = text != nullptr ? text : "unknown error";
    words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    return fail("Error - GIF: %s\n", words.c_str());
}

// The warning for a frame read in part, once rows have been made.
void warn_cut_short(const GifRead& read, int error, const char* where) {
    if (read.cut_short || error == D_GIF_ERR_READ_FAILED) {
        print("Warning - GIF: the file is cut short %s\n", where);
        return;
    }
    const char* text = GifErrorString(error);
    print("Warning - GIF: the file is damaged %s (%s)\n", where, text != nullptr ? text : "unknown error");
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

// Where the frame lies on the screen, and the grays of its indexes.
struct Frame {
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    std::uint32_t width = 0;     // as stored
    std::uint32_t height = 0;
    std::uint32_t visible_width = 0;  // the part on the screen
    std::uint32_t visible_height = 0;
    std::array<float, 256> grays{};  // an index past the colour table is black
};

// Puts the visible part of a frame's line onto a screen row of white.
void place_line(const Frame& frame, const GifPixelType* line, std::vector<float>& row) {
    std::fill(row.begin(), row.end(), 255.0f);
    for (std::uint32_t x = 0; x < frame.visible_width; ++x) row[frame.left + x] = frame.grays[line[x]];
}

// A frame stored row by row: each screen row handed over as it is read.
int read_rows(GifFileType* gif, const GifRead& read, const Frame& frame, GraySink& sink, std::uint32_t screen_height) {
    std::vector<GifPixelType> line(frame.width);
    std::vector<float> row(sink.info.width, 255.0f);
    for (std::uint32_t y = 0; y < frame.top + frame.visible_height; ++y) {
        if (y >= frame.top && DGifGetLine(gif, line.data(), static_cast<int>(frame.width)) == GIF_ERROR) {
            if (y == frame.top || read.stream->failed) return report_error(read, gif->Error);
            const std::string where = "after " + std::to_string(y) + " of " + std::to_string(screen_height) + " rows";
            warn_cut_short(read, gif->Error, where.c_str());
            return 0;
        }
        if (y >= frame.top) place_line(frame, line.data(), row);
        add_row(sink, row);
    }
    return 0;
}

// An interlaced frame: its visible part held whole, its rows read in the
// four passes' order, then handed over top to bottom; rows a file cut short
// never reached stay white.
int read_passes(GifFileType* gif, const GifRead& read, const Frame& frame, GraySink& sink) {
    const std::uint64_t size = std::uint64_t{frame.visible_width} * frame.visible_height;
    if (size > MAX_DECODER_MEMORY)
        return fail("Error - GIF: the picture is interlaced and too large to decode at once (more than %" PRIu64 " MiB)\n",
                    MAX_DECODER_MEMORY >> 20);
    std::vector<GifPixelType> held(static_cast<std::size_t>(size));
    std::vector<bool> filled(frame.visible_height, false);
    std::vector<GifPixelType> line(frame.width);
    const std::uint32_t starts[] = {0, 4, 2, 1};
    const std::uint32_t steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (std::uint32_t y = starts[pass]; y < frame.height; y += steps[pass]) {
            if (DGifGetLine(gif, line.data(), static_cast<int>(frame.width)) == GIF_ERROR) {
                if ((pass == 0 && y == 0) || read.stream->failed) return report_error(read, gif->Error);
                const std::string where = "in pass " + std::to_string(pass + 1) + " of 4 of its interlacing";
                warn_cut_short(read, gif->Error, where.c_str());
                pass = 4;
                break;
            }
            if (y >= frame.visible_height) continue;
            std::copy_n(line.begin(), frame.visible_width, held.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * frame.visible_width));
            filled[y] = true;
        }
    }
    std::vector<float> row(sink.info.width, 255.0f);
    for (std::uint32_t y = 0; y < frame.top + frame.visible_height; ++y) {
        const std::uint32_t in_frame = y - frame.top;
        if (y >= frame.top && filled[in_frame])
            place_line(frame, held.data() + std::size_t{in_frame} * frame.visible_width, row);
        else
            std::fill(row.begin(), row.end(), 255.0f);
        add_row(sink, row);
    }
    return 0;
}

// The frame as giflib read its descriptor, placed on a screen of width x height.
Frame frame_of(const GifImageDesc& image, const ColorMapObject& colours, int transparent, std::uint32_t width, std::uint32_t height) {
    Frame frame;
    frame.left = static_cast<std::uint32_t>(image.Left);
    frame.top = static_cast<std::uint32_t>(image.Top);
    frame.width = static_cast<std::uint32_t>(image.Width);
    frame.height = static_cast<std::uint32_t>(image.Height);
    frame.visible_width = frame.left < width ? std::min(frame.width, width - frame.left) : 0;
    frame.visible_height = frame.top < height ? std::min(frame.height, height - frame.top) : 0;
    for (int i = 0; i < colours.ColorCount && i < 256; ++i) {
        const GifColorType& c = colours.Colors[i];
        frame.grays[static_cast<std::size_t>(i)] = gray_of(c.Red, c.Green, c.Blue);
    }
    if (transparent >= 0 && transparent < 256) frame.grays[static_cast<std::size_t>(transparent)] = 255.0f;
    return frame;
}

int decode(GifFileType* gif, const GifRead& read, GraySink& sink) {
    auto width = static_cast<std::uint32_t>(gif->SWidth);
    auto height = static_cast<std::uint32_t>(gif->SHeight);
    // A screen too large is refused before anything else is read.
    if (width > 0 && height > 0 && start_rows(sink, RowsInfo{width, height, width, height, 1}) != 0) return 1;
    int transparent = NO_TRANSPARENT_COLOR;
    const int found = find_frame(gif, transparent);
    if (found == 2) return fail("Error - GIF: the file holds no picture\n");
    if (found != 0) return report_error(read, gif->Error);
    const GifImageDesc& image = gif->Image;
    if (std::uint64_t{static_cast<std::uint32_t>(image.Width)} * static_cast<std::uint32_t>(image.Height) > MAX_PICTURE_PIXELS)
        return fail("Error - GIF: its first frame is %dx%d pixels, more than tavo-gray takes (%" PRIu64 " million in all)\n",
                    image.Width, image.Height, MAX_PICTURE_PIXELS / 1000000);
    if (width == 0 || height == 0) {  // a screen of no size: the frame's
        width = static_cast<std::uint32_t>(image.Left + image.Width);
        height = static_cast<std::uint32_t>(image.Top + image.Height);
        if (start_rows(sink, RowsInfo{width, height, width, height, 1}) != 0) return 1;
    }
    const ColorMapObject* colours = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
    if (colours == nullptr) return fail("Error - GIF: the picture has no colour table\n");
    const Frame frame = frame_of(image, *colours, transparent, width, height);
    if (frame.visible_width == 0 || frame.visible_height == 0) return 0;  // all white
    return image.Interlace ? read_passes(gif, read, frame, sink) : read_rows(gif, read, frame, sink, height);
}

}  // namespace

int decode_gif(ByteStream& stream, GraySink& sink) {
    GifRead read{&stream};
    int error = 0;
    GifFileType* gif = DGifOpen(&read, read_input, &error);
    if (gif == nullptr) return report_error(read, error);
    const int status = decode(gif, read, sink);
    DGifCloseFile(gif, &error);
    return status;
}
