// The picture decoders, behind one narrow interface: each reads its format
// from an open stream, from the start, and hands the picture's rows to a
// GraySink (rows.h), top to bottom. The format is told by the file's
// content, never its name. On Linux and macOS the system's libraries decode
// (libjpeg-turbo, libpng, giflib, libwebp), on Windows the Windows Imaging
// Component; BMP files are read by tavo's own reader everywhere.
//
// A decoder prints one "Error - ..." line naming the format and the problem
// and returns 1 when it cannot make the picture. A picture cut short is made
// as far as it goes, with a "Warning - ..." line first, and returns 0.
#pragma once

#include <cstdint>
#include <span>

#include "gray/rows.h"
#include "io/byte_stream.h"

enum class PictureFormat { UNKNOWN, JPEG, PNG, GIF, BMP, WEBP };

// The format whose signature the file's first bytes (12 are enough) hold.
PictureFormat detect_format(std::span<const std::uint8_t> first_bytes);

// "JPEG", "PNG", ... for messages.
const char* format_name(PictureFormat format);

// The EXIF Orientation (1..8) of a JPEG file read from the stream's start,
// 1 when it has none or it cannot be read. Reads no further than the
// markers before the picture's first scan.
int read_jpeg_orientation(ByteStream& stream);

// Each decoder reads from the stream's start. The JPEG decoder shrinks while
// decoding as far as plan_rows allows, with orientation as read above.
int decode_jpeg(ByteStream& stream, int orientation, GraySink& sink);
int decode_png(ByteStream& stream, GraySink& sink);
int decode_gif(ByteStream& stream, GraySink& sink);
int decode_webp(ByteStream& stream, GraySink& sink);
int decode_bmp_picture(ByteStream& stream, GraySink& sink);

#ifdef _WIN32
// Windows: JPEG, PNG, GIF and WebP (where Windows has its codec) through the
// Windows Imaging Component, read through the stream.
int decode_wic(ByteStream& stream, PictureFormat format, int orientation, GraySink& sink);
#endif
