// JPEG files through libjpeg-turbo. libjpeg reads straight from the stream's
// buffer, shrinks while decoding (DCT scaling, by the factor plan_rows
// allows) and hands over RGBA or gray rows itself, so a baseline file costs
// a few rows of memory whatever its size; a progressive one, or one whose
// components lie in scans of their own, keeps its coefficients, within the
// memory a decoder may hold. Its EXIF orientation comes from the APP1
// segment libjpeg hands over as it reads the header.
//
// libjpeg gives up by calling error_exit, which jumps back to decode_guarded.
// Nothing with a destructor lives in the functions between the two: all the
// decoder's state, buffers included, is one Decoder owned by decode_jpeg.
#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>  // after jpeglib.h: its codes depend on the library's configuration

#include "gray/decode.h"

namespace {

// A progressive file may ask for any number of scans, each a pass over the
// picture's coefficients: an ordinary one has about 10 scans going over
// each coefficient 2 or 3 times. A file asking for much more is refused.
constexpr int MAX_SCANS = 1000;
constexpr std::uint64_t MAX_COEFFICIENT_PASSES = 16;

constexpr int MAX_BATCH = 4;  // rows a read: libjpeg asks for at most 4 (rec_outbuf_height)

constexpr JOCTET FAKE_EOI[] = {0xFF, JPEG_EOI};  // handed over when the data ends, as libjpeg's own sources do
constexpr unsigned EXIF_HEADER_SIZE = 6;         // "Exif\0\0", then the TIFF block

struct Decoder {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    Decoding* d = nullptr;
    bool ended = false;      // the data ran out: a fake EOI went in its place
    int ended_scan = 0;      // the scan and the iMCU row being read then
    JDIMENSION ended_row = 0;
    bool damaged = false;    // libjpeg warned of damaged data
    bool refused = false;    // too much work, or out of time
    int scan_counted = 0;    // the scans whose work is counted
    std::uint64_t work = 0;  // coefficients to decode in them, over all blocks
    std::uint64_t work_limit = 0;
    int orientation = 0;           // from the first EXIF segment; 0 before one
    std::vector<JOCTET> segment;   // an APP1 segment being read
    std::vector<JSAMPLE> samples;  // the rows of one read, as decoded
    std::vector<JSAMPLE> rgba;     // one CMYK row as RGBA
};

Decoder& decoder_of(j_common_ptr cinfo) { return *static_cast<Decoder*>(cinfo->client_data); }
Decoder& decoder_of(j_decompress_ptr cinfo) { return *static_cast<Decoder*>(cinfo->client_data); }

// The source: libjpeg reads the stream's buffer as it is, a chunk a call.
void init_source(j_decompress_ptr) {}
void term_source(j_decompress_ptr) {}

boolean fill_input(j_decompress_ptr cinfo) {
    Decoder& dec = decoder_of(cinfo);
    const std::span<const std::uint8_t> bytes = take_buffered(*dec.d->in);
    if (bytes.empty() && !dec.ended) {  // the end, a read error or no time left
        dec.ended = true;
        dec.ended_scan = cinfo->input_scan_number;
        dec.ended_row = cinfo->input_iMCU_row;
    }
    dec.source.next_input_byte = bytes.empty() ? FAKE_EOI : bytes.data();
    dec.source.bytes_in_buffer = bytes.empty() ? sizeof FAKE_EOI : bytes.size();
    return TRUE;
}

void skip_input(j_decompress_ptr cinfo, long count) {
    Decoder& dec = decoder_of(cinfo);
    if (count <= 0) return;
    auto left = static_cast<std::size_t>(count);
    while (left > dec.source.bytes_in_buffer) {
        left -= dec.source.bytes_in_buffer;
        fill_input(cinfo);
        if (dec.ended) return;  // the fake EOI stays to be read
    }
    dec.source.next_input_byte += left;
    dec.source.bytes_in_buffer -= left;
}

// Errors jump back; libjpeg's messages are never printed, and of its
// warnings only those of damaged data count.
[[noreturn]] void on_error(j_common_ptr cinfo) { std::longjmp(decoder_of(cinfo).jump, 1); }

void on_output(j_common_ptr) {}

void on_message(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // tracing
    const int code = cinfo->err->msg_code;
    cinfo->err->num_warnings++;
    if (code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_MUST_RESYNC || code == JWRN_NOT_SEQUENTIAL ||
        code == JWRN_BOGUS_PROGRESSION || code == JWRN_ARITH_BAD_CODE)
        decoder_of(cinfo).damaged = true;
}

// libjpeg calls this between rows of blocks, read or decoded: it counts
// each scan's work as the scan starts, and keeps the time budget.
void watch_progress(j_common_ptr common) {
    Decoder& dec = decoder_of(common);
    const jpeg_decompress_struct& cinfo = dec.cinfo;
    if (past_deadline(*dec.d->in)) dec.refused = true;
    if (cinfo.input_scan_number != dec.scan_counted) {
        dec.scan_counted = cinfo.input_scan_number;
        if (dec.work_limit == 0) {
            for (int c = 0; c < cinfo.num_components; ++c)
                dec.work_limit += std::uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
            dec.work_limit *= MAX_COEFFICIENT_PASSES * DCTSIZE2;
        }
        std::uint64_t blocks = 0;
        for (int c = 0; c < cinfo.comps_in_scan; ++c)
            blocks += std::uint64_t{cinfo.cur_comp_info[c]->width_in_blocks} * cinfo.cur_comp_info[c]->height_in_blocks;
        dec.work += blocks * static_cast<std::uint64_t>(std::max(cinfo.Se - cinfo.Ss + 1, 1));
        if (dec.scan_counted > MAX_SCANS || dec.work > dec.work_limit) dec.refused = true;
    }
    if (dec.refused) std::longjmp(dec.jump, 1);
}

// The next byte of the file, as libjpeg's own marker readers take it.
JOCTET next_byte(j_decompress_ptr cinfo) {
    if (cinfo->src->bytes_in_buffer == 0) fill_input(cinfo);  // never fails: past the end, a fake EOI
    cinfo->src->bytes_in_buffer--;
    return *cinfo->src->next_input_byte++;
}

// libjpeg's reader of APP1 segments: the first that holds EXIF gives the
// orientation, every one is passed over. (Saved by libjpeg instead, each
// would stay in memory, as many as a file holds.)
boolean read_app1(j_decompress_ptr cinfo) {
    Decoder& dec = decoder_of(cinfo);
    const unsigned high = next_byte(cinfo);
    const unsigned length = (high << 8 | next_byte(cinfo)) - 2;  // what follows the length
    if (length > 0xFFFF || dec.orientation != 0) {
        skip_input(cinfo, length > 0xFFFF ? 0 : static_cast<long>(length));
        return TRUE;
    }
    dec.segment.resize(length);
    for (JOCTET& byte : dec.segment) byte = next_byte(cinfo);
    const bool exif = length >= EXIF_HEADER_SIZE && std::memcmp(dec.segment.data(), "Exif\0\0", EXIF_HEADER_SIZE) == 0;
    if (exif) dec.orientation = orientation_in_tiff(std::span(dec.segment).subspan(EXIF_HEADER_SIZE));
    return TRUE;
}

// The rows that hold picture: all of them, unless the data ended during the
// first scan, which then reached only the iMCU rows before ended_row.
JDIMENSION rows_with_data(const Decoder& dec) {
    const jpeg_decompress_struct& cinfo = dec.cinfo;
    if (!dec.ended || dec.ended_scan > 1) return cinfo.output_height;
    const std::uint64_t rows = std::uint64_t{dec.ended_row} * static_cast<std::uint64_t>(cinfo.max_v_samp_factor) *
                               static_cast<std::uint64_t>(cinfo.min_DCT_scaled_size);
    return static_cast<JDIMENSION>(std::min<std::uint64_t>(rows, cinfo.output_height));
}

// One decoded row to the sink. CMYK is made RGBA here: files with an Adobe
// marker store it inverted (0 is full ink), as Photoshop writes them;
// others as ink.
void add_samples(Decoder& dec, const JSAMPLE* row) {
    const jpeg_decompress_struct& cinfo = dec.cinfo;
    const std::size_t width = cinfo.output_width;
    if (cinfo.out_color_space != JCS_CMYK) {
        add_row(dec.d->sink, {row, width * static_cast<std::size_t>(cinfo.output_components)});
        return;
    }
    const bool inverted = cinfo.saw_Adobe_marker != 0;
    for (std::size_t x = 0; x < width; ++x) {
        const JSAMPLE* p = row + 4 * x;
        const unsigned k = inverted ? p[3] : 255u - p[3];
        for (int c = 0; c < 3; ++c) dec.rgba[4 * x + static_cast<std::size_t>(c)] = static_cast<JSAMPLE>((inverted ? p[c] : 255u - p[c]) * k / 255);
        dec.rgba[4 * x + 3] = 255;
    }
    add_row(dec.d->sink, dec.rgba);
}

// Everything libjpeg does, under decode_guarded's jump: nothing here owns memory.
int decode_steps(Decoder& dec) {
    jpeg_decompress_struct& cinfo = dec.cinfo;
    jpeg_set_marker_processor(&cinfo, JPEG_APP0 + 1, read_app1);
    jpeg_read_header(&cinfo, TRUE);
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE: cinfo.out_color_space = JCS_GRAYSCALE; break;
        case JCS_YCbCr:
        case JCS_RGB: cinfo.out_color_space = JCS_EXT_RGBA; break;
        case JCS_CMYK:
        case JCS_YCCK: cinfo.out_color_space = JCS_CMYK; break;
        default: {
            char words[96];
            std::snprintf(words, sizeof words, "the picture's %d channels are of no colour space tavo-gray knows", cinfo.num_components);
            return picture_error(*dec.d, words);
        }
    }
    dec.d->held_whole = jpeg_has_multiple_scans(&cinfo) != 0;  // its coefficients are held, and made into rows at the end
    const int orientation = std::max(dec.orientation, 1);
    cinfo.scale_num = 1;
    cinfo.scale_denom = plan_rows(cinfo.image_width, cinfo.image_height, orientation).reduction;
    jpeg_calc_output_dimensions(&cinfo);
    const RowFormat format = cinfo.out_color_space == JCS_GRAYSCALE ? RowFormat::GRAY : RowFormat::RGBA;
    if (start_rows(dec.d->sink, {cinfo.image_width, cinfo.image_height, cinfo.output_width, cinfo.output_height, orientation, format}) != 0)
        return 1;
    jpeg_start_decompress(&cinfo);  // a progressive file is read whole here
    const auto batch = static_cast<JDIMENSION>(std::clamp(cinfo.rec_outbuf_height, 1, MAX_BATCH));
    const std::size_t stride = std::size_t{cinfo.output_width} * static_cast<std::size_t>(cinfo.output_components);
    dec.samples.resize(stride * batch);
    dec.rgba.resize(4 * std::size_t{cinfo.output_width});
    JSAMPROW rows[MAX_BATCH] = {};
    for (JDIMENSION k = 0; k < batch; ++k) rows[k] = dec.samples.data() + k * stride;
    while (cinfo.output_scanline < rows_with_data(dec)) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, batch);
        for (JDIMENSION k = 0; k < got && first + k < rows_with_data(dec); ++k) add_samples(dec, rows[k]);
        if (got == 0) break;
    }
    return 0;
}

// Why libjpeg gave up, in plain words; a picture made in part when the data
// ended or turned bad is kept, with a warning.
int report_error(Decoder& dec) {
    Decoding& d = *dec.d;
    const jpeg_decompress_struct& cinfo = dec.cinfo;
    const int code = dec.errors.msg_code;
    if (d.in->failed || d.in->out_of_time) return stop_early(d, Stop::DAMAGED);
    if (dec.refused) return picture_error(d, "the picture is stored in too many scans to decode in reasonable time");
    if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY) return check_memory(d, MAX_MEMORY, "progressive");
    if ((code == JERR_EMPTY_IMAGE || code == JERR_IMAGE_TOO_BIG) &&
        check_picture_size(cinfo.image_width, cinfo.image_height, d.sink.max_pixels) != 0)
        return 1;
    if (code == JERR_BAD_PRECISION) return picture_error(d, "the picture has " + std::to_string(dec.errors.msg_parm.i[0]) + "-bit samples; tavo-gray reads 8-bit JPEG files");
    if (code == JERR_SOF_UNSUPPORTED || code == JERR_NOT_COMPILED)
        return picture_error(d, "the picture is coded in a way tavo-gray cannot read (lossless or hierarchical)");
    if (code == JERR_NO_IMAGE) return picture_error(d, "the file holds no picture");
    if (code == JERR_BAD_HUFF_TABLE) return picture_error(d, "a Huffman table is damaged");
    if (code == JERR_NO_HUFF_TABLE || code == JERR_NO_QUANT_TABLE || code == JERR_NO_ARITH_TABLE)
        return picture_error(d, "a table the picture needs is missing");
    if (code == JERR_IMAGE_TOO_BIG)
        return picture_error(d, "the picture is " + std::to_string(cinfo.image_width) + "x" + std::to_string(cinfo.image_height) +
                                    " pixels, more than a JPEG file holds (" + std::to_string(JPEG_MAX_DIMENSION) + " a side)");
    if (dec.ended) return stop_early(d, Stop::CUT_SHORT);
    char text[JMSG_LENGTH_MAX] = {};
    dec.errors.format_message(reinterpret_cast<j_common_ptr>(&dec.cinfo), text);
    return stop_early(d, Stop::DAMAGED, text);
}

// Runs the decoder; libjpeg's errors come back here.
int decode_guarded(Decoder& dec) {
    if (setjmp(dec.jump) != 0) return report_error(dec);
    jpeg_create_decompress(&dec.cinfo);
    dec.cinfo.mem->max_memory_to_use = static_cast<long>(MAX_MEMORY - MEMORY_ROOM);
    dec.cinfo.src = &dec.source;
    dec.cinfo.progress = &dec.progress;
    if (decode_steps(dec) != 0) return 1;
    if (dec.ended) return stop_early(*dec.d, Stop::CUT_SHORT);
    if (!dec.damaged) return 0;
    dec.d->held_whole = true;  // libjpeg read past the damage: no row count to tell
    return stop_early(*dec.d, Stop::DAMAGED);
}

}  // namespace

int decode_jpeg(Decoding& d) {
    const auto dec = std::make_unique<Decoder>();
    dec->d = &d;
    dec->cinfo.client_data = dec.get();
    dec->cinfo.err = jpeg_std_error(&dec->errors);
    dec->errors.error_exit = on_error;
    dec->errors.output_message = on_output;
    dec->errors.emit_message = on_message;
    dec->source.init_source = init_source;
    dec->source.fill_input_buffer = fill_input;
    dec->source.skip_input_data = skip_input;
    dec->source.resync_to_restart = jpeg_resync_to_restart;
    dec->source.term_source = term_source;
    dec->progress.progress_monitor = watch_progress;
    const int status = decode_guarded(*dec);
    jpeg_destroy_decompress(&dec->cinfo);
    return status;
}
