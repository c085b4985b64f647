// The picture decoders, behind one narrow interface: each reads its format
// from the start of d.in and hands the picture's rows to d.sink (rows.h),
// top to bottom. The format is told by the file's content, never its name.
// On Linux and macOS the system's libraries decode (libjpeg-turbo, libpng,
// giflib, libwebp, libheif), on Windows the Windows Imaging Component; BMP
// files are read by tavo's own reader everywhere.
//
// What every decoder needs lives here, once: the input, read within a time
// budget (the stream's deadline); the memory a decoder may hold for a whole
// picture; the words of an error; and the ending of a file cut short or
// damaged: an Error before the first row, a Warning and the picture as far
// as it goes after it. A decoder prints one line and returns 1 when it
// cannot make the picture; a read error it leaves to its caller to tell.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "gray/rows.h"
#include "io/byte_stream.h"

enum class PictureFormat { UNKNOWN, JPEG, PNG, GIF, BMP, WEBP, HEIC, AVIF };

// The format whose signature the file's first bytes (12 are enough) hold.
PictureFormat detect_format(std::span<const std::uint8_t> first_bytes);

// "JPEG", "PNG", ... for messages.
const char* format_name(PictureFormat format);

// One picture being decoded.
struct Decoding {
    ByteStream* in = nullptr;  // the file, from its start
    PictureFormat format = PictureFormat::UNKNOWN;
    GraySink sink;
    bool held_whole = false;  // the picture was held whole (interlaced, progressive, Windows.) or its damage spread: no row count is told
};

// Prints "Error - FORMAT: " and the words; returns 1.
int picture_error(const Decoding& d, std::string_view words);

// 0 when a decoder may hold bytes of memory for a whole picture (why: what
// makes it need them, as "interlaced"), within MAX_MEMORY with MEMORY_ROOM
// to spare; otherwise 1, said.
int check_memory(const Decoding& d, std::uint64_t bytes, std::string_view why);

// How a picture ended before its last row.
enum class Stop { CUT_SHORT, DAMAGED };

// The one ending of a picture that stops early: nothing more when the input
// failed (the caller tells), an Error when its time ran out or before its
// first row (1); after it a Warning, and the picture as far as it goes, the
// rest white (0). detail: the library's words on the damage.
int stop_early(Decoding& d, Stop stop, std::string_view detail = {});

// A part of what a decoder is shown of a file: length bytes from the file's
// offset from, or bytes of ours.
struct Piece {
    std::uint64_t length = 0;
    std::uint64_t from = 0;
    const std::uint8_t* ours = nullptr;
};

// A PNG as a decoder is shown it: the signature, the first IHDR, PLTE and
// tRNS, the run of IDAT chunks, and an IEND of ours; every other chunk is
// passed over unread (a text chunk of a gigabyte costs nothing). width,
// height and depth: the header's.
struct PngChunks {
    std::vector<Piece> pieces;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned depth = 0;
};
PngChunks png_chunks(ByteStream& in);

// The EXIF Orientation (1..8) in a TIFF block, as an APP1 segment holds it
// after "Exif\0\0"; 1 when it has none or it cannot be read.
int orientation_in_tiff(std::span<const std::uint8_t> tiff);

int decode_bmp_picture(Decoding& d);
#ifdef _WIN32
// JPEG, PNG, GIF and WebP (where Windows has its codec) through the Windows
// Imaging Component.
int decode_wic(Decoding& d);
#else
int decode_jpeg(Decoding& d);
int decode_png(Decoding& d);
int decode_gif(Decoding& d);
int decode_webp(Decoding& d);
int decode_heif(Decoding& d);  // HEIC and AVIF
#endif
