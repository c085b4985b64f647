#!/usr/bin/env python3
"""Makes the pictures in this folder, which the tests copy into their own
temporary folders and read back through tavo-gray.

CI does not run this script: its output is committed, and the tests read
the committed files. Run it again only to change a picture, then commit the
files it writes:

    python3 tests/pictures/make.py

It writes each picture it makes afresh, the same bytes on every run with
the same tools (these were made with libjpeg-turbo 2.1.5, ImageMagick
6.9.11 and libwebp 1.2.4); a picture no longer made is removed by hand.

Needs: Python 3 (its standard library alone writes PNG, GIF and BMP, which
gives exact control over colour types, depths, palettes, tRNS and
interlacing), and for the formats Python cannot encode, these Debian
packages' programs:
  libjpeg-turbo-progs  cjpeg: JPEG (baseline, progressive, gray, arithmetic)
  imagemagick          convert: the CMYK JPEG with Adobe's marker
  webp                 cwebp: WebP, lossless and lossy
  libheif-dev, gcc     HEIC (x265) and AVIF (aom) through libheif's API,
                       which also writes a picture's rotation (irot, imir)

The pixels are the ones the tests expect: the formulas below are the tests'
own (tests/test_support.h, tests/test_libraries.cpp, tests/test_jpeg.cpp,
tests/test_bmp_read.cpp, tests/test_gray.cpp).
"""

import os
import shutil
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def out(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---- The tests' formulas ----

def pattern_index(x, y):
    """An asymmetric picture: no row, column or nibble swap leaves it unchanged."""
    return (x * 7 + y * 3 + (5 if x == 0 else 0) + (9 if y == 0 else 0)) % 16


def gray_of_level(level):
    """The export palette's gray of a level: 0 white, 15 black."""
    return 255 - 17 * level


def ramp(level):
    g = gray_of_level(level)
    return (g, g, g, 255)


def colour_of_level(level, other=False):
    """A colour whose gray (2 red + 4 green + blue) / 7 is exactly the level's,
    its channels apart so that a decoder taking one channel, swapping red and
    blue or inverting CMYK shows another level; other is a second such colour."""
    g = gray_of_level(level)
    s = min(g, 255 - g) // 4
    r = g + 2 * s if other else g - 2 * s
    green = g - s if other else g
    b = g if other else g + 4 * s
    return (r, green, b)


def picture(width, height, colour):
    """Rows of (red, green, blue, opacity) pixels, row 0 on top."""
    return [[colour(x, y) for x in range(width)] for y in range(height)]


# ---- PNG ----

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pack_samples(samples, depth):
    """One row of samples of depth bits, packed as PNG stores them."""
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    row = bytearray((len(samples) * depth + 7) // 8)
    for i, s in enumerate(samples):
        bit = i * depth
        row[bit // 8] |= s << (8 - depth - bit % 8)
    return bytes(row)


def to_depth(value, depth):
    """An 8-bit value at depth bits; only values the depth holds exactly."""
    if depth == 16:
        return value * 257
    top = (1 << depth) - 1
    sample = value * top // 255
    assert sample * 255 % top == 0 and sample * 255 // top == value, (value, depth)
    return sample


def png(rgba, depth=8, colour=True, alpha=True, palette=False, interlaced=False):
    """A PNG of the picture as libpng writes it: a palette of the picture's
    colours (first seen first, opacities in tRNS up to the last that is not
    opaque), or gray, gray and alpha, RGB or RGBA samples of 1 to 16 bits; a
    gray picture below 8 bits keeps its transparency as one gray in tRNS."""
    height, width = len(rgba), len(rgba[0])
    chunks = []
    pixels = []  # the samples of each pixel, rows of tuples
    if palette:
        colour_type = 3
        index = {}
        for row in rgba:
            pixels.append([])
            for (r, g, b, a) in row:
                key = (r, g, b, a if alpha else 255)
                if key not in index:
                    index[key] = len(index)
                pixels[-1].append((index[key],))
        assert len(index) <= 1 << depth
        entries = sorted(index, key=index.get)
        chunks.append(png_chunk(b"PLTE", bytes(c for e in entries for c in e[:3])))
        opacities = [e[3] for e in entries]
        while opacities and opacities[-1] == 255:
            opacities.pop()
        if opacities:
            chunks.append(png_chunk(b"tRNS", bytes(opacities)))
    else:
        key = alpha and not colour and depth < 8
        with_alpha = alpha and not key
        assert not colour or depth >= 8
        colour_type = (2 if colour else 0) | (4 if with_alpha else 0)
        key_gray = None
        for row in rgba:
            pixels.append([])
            for (r, g, b, a) in row:
                values = (r, g, b) if colour else (r,)
                assert colour or r == g == b
                values += (a,) if with_alpha else ()
                pixels[-1].append(tuple(to_depth(v, depth) for v in values))
                if key and a != 255:
                    assert a == 0 and key_gray in (None, to_depth(r, depth)), "one transparent gray only"
                    key_gray = to_depth(r, depth)
        if key_gray is not None:
            chunks.append(png_chunk(b"tRNS", struct.pack(">H", key_gray)))
    # The rows, each with filter type 0; Adam7's seven passes of sub-pictures.
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = bytearray()
    for (x0, y0, dx, dy) in passes if interlaced else [(0, 0, 1, 1)]:
        if x0 >= width or y0 >= height:
            continue
        for y in range(y0, height, dy):
            raw += b"\0" + pack_samples([s for p in pixels[y][x0::dx] for s in p], depth)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 1 if interlaced else 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + b"".join(chunks) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


# ---- GIF ----

def lzw(indices, min_size):
    """GIF's LZW: codes from min_size + 1 bits up to 12, a clear code first and
    whenever the table is full, the end code last; packed low bit first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    bits = bytearray()
    table, next_code = {}, end + 1

    def emit(code):
        # The decoder, one entry behind, reads each code as wide as its next entry needs.
        width = min(12, max(min_size + 1, (next_code - 1).bit_length()))
        bits.extend((code >> i) & 1 for i in range(width))

    emit(clear)
    prefix = indices[0]
    for k in indices[1:]:
        if (prefix, k) in table:
            prefix = table[(prefix, k)]
            continue
        emit(prefix)
        if next_code < 4096:
            table[(prefix, k)] = next_code
            next_code += 1
        else:
            emit(clear)
            table, next_code = {}, end + 1
        prefix = k
    emit(prefix)
    emit(end)
    bits.extend([0] * (-len(bits) % 8))
    return bytes(sum(bits[i + j] << j for j in range(8)) for i in range(0, len(bits), 8))


def gif(rgba, interlaced=False, screen=None, at=(0, 0)):
    """A GIF89a as giflib writes it: a global palette of the picture's colours
    (first seen first, every pixel of opacity 0 one transparent index named
    in a graphics control extension), one frame at at on a screen of its own
    size or screen."""
    height, width = len(rgba), len(rgba[0])
    index, transparent, indices = {}, None, []
    for row in rgba:
        for (r, g, b, a) in row:
            assert a in (0, 255)
            key = "clear" if a == 0 else (r, g, b)
            if key not in index:
                index[key] = len(index)
                if a == 0:
                    transparent = index[key]
            indices.append(index[key])
    colours = [(0, 0, 0) if k == "clear" else k for k in sorted(index, key=index.get)]
    bits = 1
    while (1 << bits) < len(colours):
        bits += 1
    colours += [(0, 0, 0)] * ((1 << bits) - len(colours))
    sw, sh = screen or (width, height)
    data = b"GIF89a" + struct.pack("<HHBBB", sw, sh, 0x80 | (bits - 1) << 4 | (bits - 1), 0, 0)
    data += bytes(c for e in colours for c in e)
    if transparent is not None:
        data += bytes([0x21, 0xF9, 4, 1, 0, 0, transparent, 0])
    data += b"\x2c" + struct.pack("<HHHHB", at[0], at[1], width, height, 0x40 if interlaced else 0)
    order = list(range(height))
    if interlaced:
        order = [y for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(start, height, step)]
    min_size = max(bits, 2)
    codes = lzw([indices[y * width + x] for y in order for x in range(width)], min_size)
    data += bytes([min_size])
    for i in range(0, len(codes), 255):
        data += bytes([len(codes[i:i + 255])]) + codes[i:i + 255]
    return data + b"\0\x3b"


# ---- BMP ----

def raw_bmp(pixels, width=1, height=1, bits=24, compression=0, info_size=40, masks=(), palette=()):
    """A BMP file laid out field by field: a BITMAPFILEHEADER, an info header
    of info_size bytes (12: OS/2's core header, its sizes 16-bit), 72 dpi and
    the palette's size as biClrUsed; masks at offset 54 (in a header of 52
    bytes or more, after a 40-byte one); palette entries 0xRRGGBB."""
    core = info_size == 12
    after = 4 * len(masks) if info_size == 40 else 0
    offset = 14 + info_size + after + (3 if core else 4) * len(palette)
    b = b"BM" + struct.pack("<III", offset + len(pixels), 0, offset) + struct.pack("<I", info_size)
    if core:
        b += struct.pack("<HHHH", width & 0xFFFF, height & 0xFFFF, 1, bits)
    else:
        b += struct.pack("<iiHHIIIIII", width, height, 1, bits, compression, len(pixels), 2835, 2835, len(palette), 0)
        b += b"".join(struct.pack("<I", m) for m in masks)
        if after == 0:
            b = b.ljust(14 + info_size, b"\0")
    b += b"".join(struct.pack("<I", c)[:3 if core else 4] for c in palette)
    return b + bytes(pixels)


def rle_row(row, nibbles):
    """One row of indices as RLE8 or RLE4: runs of two or more as encoded runs,
    stretches of three or more single pixels as absolute runs (padded to a
    16-bit word), one or two single pixels as runs of one; then the end of
    the line."""
    def run_at(x):
        n = 1
        while x + n < len(row) and n < 255 and row[x + n] == row[x]:
            n += 1
        return n
    b = bytearray()
    x = 0
    while x < len(row):
        n = run_at(x)
        if n >= 2:
            b += bytes([n, row[x] * 17 if nibbles else row[x]])
            x += n
            continue
        n = 0
        while x + n < len(row) and n < 255 and run_at(x + n) == 1:
            n += 1
        if n < 3:
            for k in range(n):
                b += bytes([1, row[x + k] << 4 if nibbles else row[x + k]])
        else:
            b += bytes([0, n])
            start = len(b)
            for k in range(n):
                if not nibbles:
                    b.append(row[x + k])
                elif k % 2 == 0:
                    b.append(row[x + k] << 4)
                else:
                    b[-1] |= row[x + k]
            if (len(b) - start) % 2:
                b.append(0)
        x += n
    return b + b"\0\0"


def bmp(rgba, bits=24, rle=False, top_down=False):
    """A BMP as other programs write it: a 40-byte info header, a palette of
    the picture's colours (first seen first) at 1, 4 and 8 bits, 5-5-5 at 16,
    blue, green, red (and a 4th byte 0) at 24 and 32; RLE8 or RLE4 bottom-up."""
    height, width = len(rgba), len(rgba[0])
    palette, index = [], {}
    if bits <= 8:
        for row in rgba:
            for (r, g, b, _) in row:
                if (r, g, b) not in index:
                    index[(r, g, b)] = len(palette)
                    palette.append(r << 16 | g << 8 | b)
        assert len(palette) <= 1 << bits
    pixels = bytearray()
    for y in (range(height) if top_down else range(height - 1, -1, -1)):
        if rle:
            pixels += rle_row([index[p[:3]] for p in rgba[y]], bits == 4)
            continue
        row = bytearray()
        for x, (r, g, b, _) in enumerate(rgba[y]):
            if bits <= 8:
                if x % (8 // bits) == 0:
                    row.append(0)
                row[-1] |= index[(r, g, b)] << (8 - bits - x % (8 // bits) * bits)
            elif bits == 16:
                row += struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
            else:
                row += bytes([b, g, r] + ([0] if bits == 32 else []))
        pixels += row.ljust((len(row) + 3) // 4 * 4, b"\0")
    if rle:
        pixels += b"\0\1"  # the end of the bitmap
    return raw_bmp(pixels, width, -height if top_down else height, bits, (1 if bits == 8 else 2) if rle else 0,
                   palette=palette)


# ---- JPEG and WebP, by the tools ----

def run(*command):
    subprocess.run(command, check=True)


def pnm(rgba, gray=False):
    """A PPM of the picture, or a PGM of its gray (2 red + 4 green + blue) / 7."""
    height, width = len(rgba), len(rgba[0])
    if gray:
        return b"P5 %d %d 255\n" % (width, height) + bytes((2 * r + 4 * g + b + 3) // 7 for row in rgba for (r, g, b, _) in row)
    return b"P6 %d %d 255\n" % (width, height) + bytes(c for row in rgba for p in row for c in p[:3])


def exif_block(mm, entries):
    """EXIF as a JPEG's APP1 segment holds it: "Exif\\0\\0", a TIFF header in
    Intel (II) or Motorola (MM) order, IFD0 at 8 with the entries (tag, type,
    count, value; a SHORT's value in the entry's first two bytes), no next IFD."""
    e = ">" if mm else "<"
    b = b"Exif\0\0" + (b"MM" if mm else b"II") + struct.pack(e + "HIH", 42, 8, len(entries))
    for (tag, kind, count, value) in entries:
        b += struct.pack(e + "HHI", tag, kind, count)
        b += struct.pack(e + "HH", value, 0) if kind == 3 else struct.pack(e + "I", value)
    return b + struct.pack(e + "I", 0)


def with_orientation(jpeg, orientation):
    """The JPEG with an EXIF Orientation in an APP1 segment after its JFIF one,
    as cameras write IFD0: Make (its text after the IFD) and Model (its text
    in the entry itself) before Orientation; odd orientations in Intel order,
    even ones in Motorola order."""
    text_at = 8 + 2 + 3 * 12 + 4
    exif = exif_block(orientation % 2 == 0, [(0x010F, 2, 6, text_at), (0x0110, 2, 4, 0x46464600),
                                            (0x0112, 3, 1, orientation)]) + b"tavo!\0"
    assert jpeg[2:4] == b"\xff\xe0"
    at = 4 + (jpeg[4] << 8 | jpeg[5])
    return jpeg[:at] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[at:]


def jpeg(rgba, progressive=False, gray=False, cmyk=False, arithmetic=False, orientation=0):
    """A JPEG at quality 95, as libjpeg's compressor makes it by default (YCbCr
    4:2:0 from RGB), or of the picture's gray, or CMYK as Adobe's files store
    it (inverted, 255: no ink: each colour's ink in C, M and Y, its darkness
    shared into K)."""
    height, width = len(rgba), len(rgba[0])
    with tempfile.TemporaryDirectory() as tmp:
        made = os.path.join(tmp, "out.jpg")
        if cmyk:
            raw = bytearray()
            for row in rgba:
                for (r, g, b, _) in row:
                    k = max(r, g, b, 1)  # stored K: 255 - black ink
                    raw += bytes([255 - (c * 255 + k // 2) // k for c in (r, g, b)] + [255 - k])  # ink, as convert takes it
            source = os.path.join(tmp, "in.cmyk")
            with open(source, "wb") as f:
                f.write(raw)
            convert = shutil.which("convert-im6.q16") or "/usr/bin/convert"
            run(convert, "-size", "%dx%d" % (width, height), "-depth", "8", "cmyk:" + source, "-quality", "95",
                "-interlace", "JPEG" if progressive else "none", "-strip", made)
        else:
            source = os.path.join(tmp, "in.pnm")
            with open(source, "wb") as f:
                f.write(pnm(rgba, gray))
            run("cjpeg", "-quality", "95", *(["-progressive"] if progressive else []),
                *(["-arithmetic"] if arithmetic else []), "-outfile", made, source)
        with open(made, "rb") as f:
            data = f.read()
    return with_orientation(data, orientation) if orientation else data


def webp(rgba, lossless=True):
    """A WebP made by cwebp from a PNG of the picture: lossless, or lossy at
    quality 95 (its alpha lossless)."""
    with tempfile.TemporaryDirectory() as tmp:
        source, made = os.path.join(tmp, "in.png"), os.path.join(tmp, "out.webp")
        with open(source, "wb") as f:
            f.write(png(rgba))
        run("cwebp", "-quiet", "-metadata", "none", *(["-lossless"] if lossless else ["-q", "95"]), source, "-o", made)
        with open(made, "rb") as f:
            return f.read()


# A small program of libheif's API: HEIC or AVIF of a PPM at quality 90,
# stored as it is and shown turned by an EXIF-numbered orientation (libheif
# writes irot and imir for it). Debian 12's aom takes AVIF only at 4:2:2.
HEIF_WRITER = r"""
#include <libheif/heif.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    FILE* in = fopen(argv[1], "rb");
    int width = 0, height = 0;
    if (in == NULL || fscanf(in, "P6 %d %d 255", &width, &height) != 2 || fgetc(in) != '\n') return 1;
    struct heif_image* image = NULL;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    uint8_t* pixels = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        if (fread(pixels + y * stride, 3, (size_t)width, in) != (size_t)width) return 1;
    const int avif = atoi(argv[3]);
    struct heif_context* context = heif_context_alloc();
    struct heif_encoder* encoder = NULL;
    heif_context_get_encoder_for_format(context, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    if (avif) heif_encoder_set_parameter(encoder, "chroma", "422");
    struct heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = (enum heif_orientation)atoi(argv[4]);
    if (heif_context_encode_image(context, image, encoder, options, NULL).code != heif_error_Ok) return 1;
    return heif_context_write_to_file(context, argv[2]).code == heif_error_Ok ? 0 : 1;
}
"""


def heif(rgba, avif=False, orientation=1):
    """HEIC (HEVC) or AVIF (AV1) of the picture at quality 90, shown turned by
    an EXIF-numbered orientation that the file's own irot and imir carry."""
    with tempfile.TemporaryDirectory() as tmp:
        program, source, made = (os.path.join(tmp, name) for name in ("write_heif", "in.ppm", "out.heif"))
        with open(program + ".c", "w") as f:
            f.write(HEIF_WRITER)
        run("gcc", "-O", "-o", program, program + ".c", "-lheif")
        with open(source, "wb") as f:
            f.write(pnm(rgba))
        run(program, source, made, "1" if avif else "0", str(orientation))
        with open(made, "rb") as f:
            return f.read()


# ---- tests/test_libraries.cpp: PNG, GIF and WebP of known levels ----

NONE, CLEAR, PARTIAL, FRAMED = range(4)  # CLEAR: some pixels black of opacity 0; PARTIAL: and some of 0x88
ALL_LEVELS = list(range(16))
TWO_LEVELS = [0, 15]           # 1-bit grays
FOUR_LEVELS = [0, 5, 10, 15]   # 2-bit grays
THREE_LEVELS = [0, 5, 10]      # 2-bit grays, black left for transparency


def clear_at(alpha, x, y):
    outside = alpha == FRAMED and (x < 9 or x >= 29 or y < 7 or y >= 17)  # a frame at (9, 7) of 20 x 10
    return alpha != NONE and (outside or (x + 2 * y) % 5 == 1)


def half_clear_at(alpha, x, y):
    return alpha == PARTIAL and not clear_at(alpha, x, y) and (3 * x + y) % 7 == 2


def level_at(look, x, y):
    levels, _, alpha = look
    if clear_at(alpha, x, y):
        return 0
    if half_clear_at(alpha, x, y):
        return 8
    return levels[pattern_index(x, y) % len(levels)]


def rgba_of(look, width, height, scale=1):
    """The picture of look (levels, colour, alpha), each pixel of look at (x / scale, y / scale)."""
    def colour(x, y):
        x, y = x // scale, y // scale
        if clear_at(look[2], x, y):
            return (0, 0, 0, 0)
        if half_clear_at(look[2], x, y):
            return (0, 0, 0, 0x88)
        level = level_at(look, x, y)
        return (colour_of_level(level) if look[1] else ramp(level)[:3]) + (255,)
    return picture(width, height, colour)


def libraries():
    gray, colour = (ALL_LEVELS, False, NONE), (ALL_LEVELS, True, NONE)
    see_through, gray_see_through = (ALL_LEVELS, True, PARTIAL), (ALL_LEVELS, False, PARTIAL)
    clear = (ALL_LEVELS, True, CLEAR)
    w, h = 37, 23  # odd sizes: every Adam7 pass, GIF pass and BMP row padding
    variants = [
        ("gray1.png", (TWO_LEVELS, False, NONE), lambda p: png(p, 1, colour=False, alpha=False)),
        ("gray2.png", (FOUR_LEVELS, False, NONE), lambda p: png(p, 2, colour=False, alpha=False)),
        ("gray4.png", gray, lambda p: png(p, 4, colour=False, alpha=False)),
        ("gray8.png", gray, lambda p: png(p, 8, colour=False, alpha=False)),
        ("gray16.png", gray, lambda p: png(p, 16, colour=False, alpha=False)),
        ("gray2_trns.png", (THREE_LEVELS, False, CLEAR), lambda p: png(p, 2, colour=False, alpha=True)),
        ("gray_alpha8.png", gray_see_through, lambda p: png(p, 8, colour=False)),
        ("gray_alpha16.png", gray_see_through, lambda p: png(p, 16, colour=False)),
        ("rgb8.png", colour, lambda p: png(p, 8, alpha=False)),
        ("rgb16.png", colour, lambda p: png(p, 16, alpha=False)),
        ("rgba8.png", see_through, lambda p: png(p, 8)),
        ("rgba16.png", see_through, lambda p: png(p, 16)),
        ("palette1.png", (TWO_LEVELS, True, NONE), lambda p: png(p, 1, alpha=False, palette=True)),
        ("palette2.png", (FOUR_LEVELS, True, NONE), lambda p: png(p, 2, alpha=False, palette=True)),
        ("palette4.png", colour, lambda p: png(p, 4, alpha=False, palette=True)),
        ("palette8.png", colour, lambda p: png(p, 8, alpha=False, palette=True)),
        ("palette2_trns.png", (THREE_LEVELS, True, CLEAR), lambda p: png(p, 2, palette=True)),
        ("palette8_trns.png", see_through, lambda p: png(p, 8, palette=True)),
        ("gray1_adam7.png", (TWO_LEVELS, False, NONE), lambda p: png(p, 1, colour=False, alpha=False, interlaced=True)),
        ("palette4_adam7.png", colour, lambda p: png(p, 4, alpha=False, palette=True, interlaced=True)),
        ("rgba16_adam7.png", see_through, lambda p: png(p, 16, interlaced=True)),
        ("plain.gif", colour, gif),
        ("transparent.gif", clear, gif),
        ("interlaced.gif", clear, lambda p: gif(p, interlaced=True)),
        ("lossless.webp", see_through, webp),
        ("lossy.webp", gray, lambda p: webp(p, lossless=False)),
        ("lossy_alpha.webp", gray_see_through, lambda p: webp(p, lossless=False)),
    ]
    for name, look, make in variants:
        out(name, make(rgba_of(look, w, h)))
    # Larger than 160 pixels: shrunk back to half.
    out("shrunk.png", png(rgba_of(see_through, 320, 230, 2)))
    out("large.webp", webp(rgba_of(see_through, 320, 200, 2)))
    out("large_lossy.webp", webp(rgba_of(gray, 320, 46, 2), lossless=False))
    # One frame (20 x 10 at 9, 7) smaller than its screen, which is clear around it.
    framed = rgba_of((ALL_LEVELS, True, FRAMED), w, h)
    out("framed.gif", gif([row[9:29] for row in framed[7:17]], screen=(w, h), at=(9, 7)))
    # Cut short in half: a 150 x 100 GIF and lossy WebP.
    whole = gif(rgba_of(gray, 150, 100))
    out("gif-cut.gif", whole[:len(whole) // 2])
    whole = webp(rgba_of(gray, 150, 100), lossless=False)
    out("webp-cut.webp", whole[:len(whole) // 2])


# ---- tests/test_libraries.cpp: hostile PNG, GIF and WebP files ----

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_header(width, height, depth, colour_type, interlaced=False):
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, int(interlaced)))


def gif_of(width, height, colour_table, records):
    table = b"\0\0\0\xff\xff\xff" if colour_table else b""
    return b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 if colour_table else 0, 0, 0) + table + records


def image_descriptor(width, height):
    return b"\x2c\0\0\0\0" + struct.pack("<HHB", width, height, 0)


def riff_webp(chunks):
    return b"RIFF" + struct.pack("<I", len(chunks) + 4) + b"WEBP" + chunks


def hostile():
    header = png_header(4, 4, 8, 0)
    out("hostile-bad_crc.png", header[:29] + bytes([header[29] ^ 1]) + header[30:])
    out("hostile-header_only.png", header)
    out("hostile-wide.png", png_header(70000, 1, 8, 0))
    out("hostile-interlaced_huge.png", png_header(16384, 16383, 16, 6, True) + chunk(b"IDAT", b"\x78\x01"))
    # A comment, then a frame of the screen's size with no data: 62 bytes.
    huge = gif_of(65535, 65535, True, b"\x21\xfe\x1a" + b"x" * 26 + b"\0" + image_descriptor(65535, 65535) + b"\2\0\x3b")
    assert len(huge) == 62
    out("hostile-huge.gif", huge)
    out("hostile-header_cut.gif", huge[:10])
    out("hostile-frame_cut.gif", huge[:50])
    out("hostile-no_colours.gif", gif_of(4, 4, False, image_descriptor(4, 4) + b"\2\2\x4c\x01\0\x3b"))
    out("hostile-empty.gif", gif_of(4, 4, True, b"\x3b"))
    broken = riff_webp(b"VP8 " + struct.pack("<I", 20) + bytes(20))
    out("hostile-broken.webp", broken)
    out("hostile-cut.webp", broken[:20])
    # The animation flag, a canvas of 100 x 100.
    out("hostile-animated.webp", riff_webp(b"VP8X\x0a\0\0\0\x02\0\0\0" + (99).to_bytes(3, "little") * 2))


# ---- tests/test_jpeg.cpp ----

VARIANTS = [{}, {"progressive": True}, {"gray": True}, {"progressive": True, "gray": True}, {"cmyk": True},
            {"progressive": True, "cmyk": True}, {"arithmetic": True}, {"progressive": True, "arithmetic": True}]

LETTER_F = ["######", "######", "##....", "##....", "#####.", "#####.", "##....", "##....", "##....", "##...."]


def stored_pixel(orientation, x, y, width, height):
    """The stored pixel of a width x height picture that EXIF's orientation shows at (x, y)."""
    return {1: (x, y), 2: (width - 1 - x, y), 3: (width - 1 - x, height - 1 - y), 4: (x, height - 1 - y),
            5: (y, x), 6: (y, height - 1 - x), 7: (width - 1 - y, height - 1 - x), 8: (width - 1 - y, x)}[orientation]


def stored_f(orientation, block):
    """The letter F, 6 x 10 blocks, stored so that orientation shows it upright."""
    shown_w, shown_h = 6 * block, 10 * block
    width, height = (shown_h, shown_w) if orientation >= 5 else (shown_w, shown_h)
    rgba = [[(255, 255, 255, 255)] * width for _ in range(height)]
    for y in range(shown_h):
        for x in range(shown_w):
            if LETTER_F[y // block][x // block] == "#":
                sx, sy = stored_pixel(orientation, x, y, width, height)
                rgba[sy][sx] = (0, 0, 0, 255)
    return rgba


def textured(width, height):
    """A dark picture of even detail, so that its data is spread evenly down the rows."""
    def colour(x, y):
        g = 30 + (x * 7 + y * 13 + (x * y) % 11) % 50
        return (g, g, g, 255)
    return picture(width, height, colour)


def jpegs():
    # Flat areas 16 x 16 of the levels pattern_index gives area (ax, ay), each
    # the colour of its level (the second colour on every other area).
    areas = picture(160, 112, lambda x, y: colour_of_level(pattern_index(x // 16, y // 16), (x // 16 + y // 16) % 2 != 0) + (255,))
    for i, options in enumerate(VARIANTS):
        out("v%d.jpg" % i, jpeg(areas, **options))
    for block in (8, 64):
        for orientation in range(1, 9):
            out("f%d_%d.jpg" % (block, orientation),
                jpeg(stored_f(orientation, block), progressive=block == 64 and orientation % 2 == 0, orientation=orientation))
    out("v8.heic", heif(areas))
    out("v9.avif", heif(areas, avif=True))
    out("f8_6.heic", heif(stored_f(6, 8), orientation=6))  # turned by irot, its EXIF none
    out("textured.jpg", jpeg(textured(64, 64)))
    out("textured-progressive.jpg", jpeg(textured(64, 64), progressive=True))
    out("textured-progressive-gray.jpg", jpeg(textured(64, 64), progressive=True, gray=True))


# ---- tests/test_bmp_read.cpp ----

def u16s(*values):
    """16-bit pixels, the row padded to 4 bytes."""
    b = b"".join(struct.pack("<H", v) for v in values)
    return b.ljust((len(b) + 3) // 4 * 4, b"\0")


def u32s(*values):
    return b"".join(struct.pack("<I", v) for v in values)


def bmps():
    # Every depth and layout, of the ramp's grays.
    def ramp_picture(width, height, level):
        return picture(width, height, lambda x, y: ramp(level(x, y)))

    def two(x, y):
        return pattern_index(x, y) % 2 * 15

    def runs(x, y):  # runs, single pixels and runs of one nibble pair
        return pattern_index(x, y) if x < 9 else (x // 5 + y) % 16 if x < 40 else y % 3

    def halves(x, y):  # shrinks to pattern_index
        return pattern_index(x // 2, y // 2)

    for name, width, height, options, level in [
        ("1.bmp", 13, 5, {"bits": 1}, two),
        ("1-top.bmp", 33, 3, {"bits": 1, "top_down": True}, two),
        ("4.bmp", 13, 7, {"bits": 4}, pattern_index),
        ("4-top.bmp", 6, 5, {"bits": 4, "top_down": True}, pattern_index),
        ("8.bmp", 17, 6, {"bits": 8}, pattern_index),
        ("8-top.bmp", 3, 9, {"bits": 8, "top_down": True}, pattern_index),
        ("24.bmp", 7, 9, {"bits": 24}, pattern_index),
        ("24-top.bmp", 10, 4, {"bits": 24, "top_down": True}, pattern_index),
        ("24-large.bmp", 320, 4, {"bits": 24}, halves),
        ("32.bmp", 10, 4, {"bits": 32}, pattern_index),
        ("rle8.bmp", 50, 6, {"bits": 8, "rle": True}, runs),
        ("rle8-large.bmp", 320, 4, {"bits": 8, "rle": True}, halves),
        ("rle8-wide.bmp", 160, 3, {"bits": 8, "rle": True}, lambda x, y: y),
        ("rle4.bmp", 50, 6, {"bits": 4, "rle": True}, runs),
        ("rle4-odd.bmp", 13, 7, {"bits": 4, "rle": True}, pattern_index),
        ("16.bmp", 11, 5, {"bits": 16}, pattern_index),
    ]:
        out(name, bmp(ramp_picture(width, height, level), **options))

    # The layouts the writer above does not make: colour masks, opacity and
    # the 4th byte that is not opacity, core headers, 2 bits, an index past
    # the palette; one row each.
    rgba_masks = (0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    black_fading = u32s(0x00000000, 0x88000000, 0xFF000000)  # black, opacity 0, 0x88 / 255 and 1
    for name, fields in [
        # 5-6-5: red 255, green 32 * 255 / 63, blue 255, white, black
        ("565.bmp", dict(width=5, bits=16, compression=3, masks=(0xF800, 0x7E0, 0x1F),
                         pixels=u16s(0xF800, 0x0400, 0x1F, 0xFFFF, 0))),
        ("565-v3.bmp", dict(info_size=56, width=3, bits=16, compression=3, masks=(0xF800, 0x7E0, 0x1F, 0),
                            pixels=u16s(0x0400, 0xFFFF, 0))),
        ("555-top-bit.bmp", dict(width=3, bits=16, pixels=u16s(0x8000, 0xFFFF, 0x7C00))),
        ("32-fourth-byte-0.bmp", dict(width=3, bits=32, pixels=u32s(0, 0xFFFFFF, 0xFF0000))),
        ("32-v3-rgb-opaque.bmp", dict(info_size=56, width=3, bits=32, masks=rgba_masks, pixels=black_fading)),
        ("32-v5-alpha.bmp", dict(info_size=124, width=3, bits=32, masks=rgba_masks, pixels=black_fading)),
        ("32-v4-alpha-bitfields.bmp", dict(info_size=108, width=3, bits=32, compression=3, masks=rgba_masks,
                                           pixels=black_fading)),
        ("32-alphabitfields.bmp", dict(width=3, bits=32, compression=6, masks=rgba_masks, pixels=black_fading)),
        ("32-bitfields-no-alpha.bmp", dict(width=3, bits=32, compression=3, masks=(0xFF0000, 0xFF00, 0xFF),
                                           pixels=black_fading)),
        # red in the low byte: bytes red, green, blue, 0
        ("32-bitfields-rgb.bmp", dict(width=3, bits=32, compression=3, masks=(0xFF, 0xFF00, 0xFF0000),
                                      pixels=u32s(0xFF, 0xFF0000, 0xFFFFFF))),
        # bottom row black, white; top row red, black (its padding missing)
        ("core-24.bmp", dict(info_size=12, width=2, height=2, pixels=[0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0])),
        ("core-8.bmp", dict(info_size=12, width=3, bits=8, palette=(0xFFFFFF, 0x888888), pixels=[1, 0, 1, 0])),
        ("2-bit.bmp", dict(width=5, bits=2, palette=(0, 0xFFFFFF, 0xFF0000, 0x888888), pixels=[0x1B, 0x40, 0, 0])),
        ("index-past-palette.bmp", dict(width=3, bits=8, palette=(0xFFFFFF,), pixels=[0, 200, 0, 0])),
    ]:
        out(name, raw_bmp(**fields))

    # RLE as other programs and hostile files use it, a palette of levels 15
    # (index 0), 0, 5 and 10: deltas, an early end, runs and absolute runs
    # past the row's end, a delta past the last row.
    palette = (0x000000, 0xFFFFFF, 0xAAAAAA, 0x555555)
    for name, bits, width, height, data in [
        ("delta.bmp", 8, 4, 3, [2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 4, 3, 0, 1]),
        ("early-end.bmp", 8, 3, 3, [3, 2, 0, 1, 3, 1, 3, 1]),
        ("end-without-eol.bmp", 8, 2, 2, [2, 1, 0, 0, 1, 2, 0, 1]),
        ("run-past-row.bmp", 8, 3, 2, [200, 1, 0, 0, 250, 2, 0, 0]),
        ("absolute-past-row.bmp", 8, 3, 2, [0, 5, 1, 2, 3, 1, 2, 0, 0, 0, 1, 3, 0, 1]),
        ("delta-past-row.bmp", 8, 3, 1, [0, 2, 200, 0, 5, 1, 0, 1]),
        ("delta-past-picture.bmp", 8, 2, 3, [2, 1, 0, 2, 0, 200, 2, 2, 0, 0, 2, 3, 0, 1]),
        ("rle4-absolute-odd.bmp", 4, 5, 1, [0, 5, 0x12, 0x30, 0x10, 0, 0, 1]),
        ("rle4-run-pair.bmp", 4, 5, 1, [5, 0x13, 0, 1]),
        ("rle4-absolute-past-row.bmp", 4, 2, 1, [0, 7, 0x21, 0x33, 0x33, 0x30, 0, 1]),
    ]:
        out(name, raw_bmp(data, width, height, bits, 1 if bits == 8 else 2, palette=palette))

    # Cut short: 2 x 4 black at 24 bits (rows of 8 bytes) bottom-up and
    # top-down less 11 bytes, an RLE8 file of 3 rows that ends after 2, the
    # last row without its padding, and one cut before its first row.
    black = [0] * 32
    out("bottom-up.bmp", raw_bmp(black, 2, 4)[:-11])
    out("top-down.bmp", raw_bmp(black, 2, -4)[:-11])
    out("rle.bmp", raw_bmp([2, 1, 0, 0, 2, 0, 0, 0, 2], 2, 3, 8, 1, palette=(0x000000, 0xFFFFFF)))
    out("unpadded-last-row.bmp", raw_bmp(black, 2, 4)[:-2])
    out("no-row.bmp", raw_bmp(black, 2, 4)[:-25])

    # Hostile headers: a good 5 x 3 file for the tests to spoil, a palette of
    # 3 entries and no pixels, a palette that claims 200 entries.
    out("good.bmp", raw_bmp([0x80] * 48, 5, 3))
    out("palette-no-pixels.bmp", raw_bmp([], 2, 1, 8, palette=(0, 0, 0)))
    short_palette = bytearray(raw_bmp([0, 0, 0, 0], 2, 1, 8, palette=(0, 0, 0)))
    short_palette[46:50] = struct.pack("<I", 200)
    out("short-palette.bmp", bytes(short_palette))


# ---- tests/test_gray.cpp ----

def grays():
    def pattern_gray(x, y):
        return ramp(pattern_index(x, y))
    fits = picture(150, 99, pattern_gray)
    out("fits.png", png(fits))
    out("fits.bmp", bmp(fits, bits=4))
    out("fits.gif", gif(fits))
    out("fits.webp", webp(fits))
    out("large.png", png(picture(160, 160, pattern_gray)))
    out("tall.jpg", jpeg(picture(100, 400, lambda x, y: ramp(15 if y // 40 % 2 == 0 else 0))))  # bands of 8-pixel blocks
    out("thin.png", png(picture(1000, 3, lambda x, y: (0, 0, 0, 255))))
    out("alpha.png", png(picture(3, 1, lambda x, y: (0, 0, 0, (0, 0x88, 0xFF)[x]))))  # black, opacity 0 to 1
    out("mid.png", png(picture(16, 16, lambda x, y: (0x80, 0x80, 0x80, 255))))  # gray 128: 7.47 levels from white
    out("black-white.png", png(picture(2, 1, lambda x, y: ramp(15 if x == 0 else 0))))
    out("white-black.png", png(picture(2, 1, lambda x, y: ramp(0 if x == 0 else 15))))


if __name__ == "__main__":
    libraries()
    hostile()
    jpegs()
    bmps()
    grays()
