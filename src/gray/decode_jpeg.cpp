// JPEG files through libjpeg-turbo. libjpeg reads straight from the stream's
// buffer and shrinks while decoding (DCT scaling, by the factor plan_rows
// allows), so a baseline file costs a few rows of memory whatever its size;
// a progressive one keeps its coefficients, at most MAX_DECODER_MEMORY.
//
// libjpeg gives up by calling error_exit, which jumps back to decode_guarded.
// Nothing with a destructor lives in the functions between the two: all the
// decoder's state, buffers included, is one Decoder owned by decode_jpeg.
#include "gray/decode.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>  // after jpeglib.h: its codes depend on the library's configuration

#include "io/console.h"

namespace {

// A progressive file may ask for any number of scans, each a pass over the
// picture's coefficients: an ordinary one has about 10 scans going over
// each coefficient 2 or 3 times. A file asking for much more is refused at
// once; and since a scan's cost depends on its data too, any decoding that
// goes on past MAX_DECODING_TIME (rows.h) is given up.
constexpr int MAX_SCANS = 1000;
constexpr std::uint64_t MAX_COEFFICIENT_PASSES = 16;

constexpr int MAX_BATCH = 4;  // rows a read: libjpeg asks for at most 4 (rec_outbuf_height)

constexpr JOCTET FAKE_EOI[] = {0xFF, JPEG_EOI};  // handed over when the data ends, as libjpeg's own sources do

enum class Refusal { NONE, TOO_MANY_SCANS, TOO_SLOW };

struct Decoder {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    ByteStream* stream = nullptr;
    bool ended = false;         // the data ran out: a fake EOI went in its place
    int ended_scan = 0;         // the scan and the iMCU row being read then
    JDIMENSION ended_row = 0;
    int first_warning = -1;     // the code of libjpeg's first warning worth telling
    Refusal refusal = Refusal::NONE;
    int scan_counted = 0;       // the scans whose work is counted
    std::uint64_t work = 0;     // coefficients to decode in them, over all blocks
    std::uint64_t work_limit = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::uint32_t rows_added = 0;
    std::vector<JSAMPLE> samples;  // the rows of one read, as decoded
    std::vector<float> grays;      // one row's grays
};

Decoder& decoder_of(j_common_ptr cinfo) { return *static_cast<Decoder*>(cinfo->client_data); }
Decoder& decoder_of(j_decompress_ptr cinfo) { return *static_cast<Decoder*>(cinfo->client_data); }

// The source: libjpeg reads the stream's buffer as it is, a chunk a call.
void init_source(j_decompress_ptr) {}
void term_source(j_decompress_ptr) {}

boolean fill_input(j_decompress_ptr cinfo) {
    Decoder& d = decoder_of(cinfo);
    ByteStream& stream = *d.stream;
    if (stream.next == stream.end && refill_stream(stream) != 0) {  // the end, or a read error (stream.failed)
        if (!d.ended) {
            d.ended = true;
            d.ended_scan = cinfo->input_scan_number;
            d.ended_row = cinfo->input_iMCU_row;
        }
        d.source.next_input_byte = FAKE_EOI;
        d.source.bytes_in_buffer = sizeof FAKE_EOI;
        return TRUE;
    }
    d.source.next_input_byte = stream.next;
    d.source.bytes_in_buffer = static_cast<std::size_t>(stream.end - stream.next);
    stream.next = stream.end;
    return TRUE;
}

void skip_input(j_decompress_ptr cinfo, long count) {
    Decoder& d = decoder_of(cinfo);
    if (count <= 0) return;
    auto left = static_cast<std::size_t>(count);
    while (left > d.source.bytes_in_buffer) {
        left -= d.source.bytes_in_buffer;
        fill_input(cinfo);
        if (d.ended) return;  // the fake EOI stays to be read
    }
    d.source.next_input_byte += left;
    d.source.bytes_in_buffer -= left;
}

// Errors jump back; libjpeg's messages are never printed, the first warning
// that tells something of the picture is kept.
[[noreturn]] void on_error(j_common_ptr cinfo) { std::longjmp(decoder_of(cinfo).jump, 1); }

void on_output(j_common_ptr) {}

bool worth_telling(int code) {
    switch (code) {
        case JWRN_ADOBE_XFORM:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL: return true;
        default: return false;  // of no harm to the picture: an unknown JFIF version, a bad ICC profile
    }
}

void on_message(j_common_ptr cinfo, int level) {
    Decoder& d = decoder_of(cinfo);
    if (level >= 0) return;  // tracing
    cinfo->err->num_warnings++;
    if (d.first_warning < 0 && worth_telling(cinfo->err->msg_code)) d.first_warning = cinfo->err->msg_code;
}

[[noreturn]] void refuse(Decoder& d, Refusal refusal) {
    d.refusal = refusal;
    std::longjmp(d.jump, 1);
}

// libjpeg calls this between rows of blocks, read or decoded: it counts
// each scan's work as the scan starts, and watches the clock.
void watch_progress(j_common_ptr common) {
    Decoder& d = decoder_of(common);
    const jpeg_decompress_struct& cinfo = d.cinfo;
    if (std::chrono::steady_clock::now() - d.started > MAX_DECODING_TIME) refuse(d, Refusal::TOO_SLOW);
    if (cinfo.input_scan_number == d.scan_counted) return;
    d.scan_counted = cinfo.input_scan_number;
    if (d.work_limit == 0) {
        for (int c = 0; c < cinfo.num_components; ++c)
            d.work_limit += std::uint64_t{cinfo.comp_info[c].width_in_blocks} * cinfo.comp_info[c].height_in_blocks;
        d.work_limit *= MAX_COEFFICIENT_PASSES * DCTSIZE2;
    }
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.comps_in_scan; ++c)
        blocks += std::uint64_t{cinfo.cur_comp_info[c]->width_in_blocks} * cinfo.cur_comp_info[c]->height_in_blocks;
    d.work += blocks * static_cast<std::uint64_t>(std::max(cinfo.Se - cinfo.Ss + 1, 1));
    if (d.scan_counted > MAX_SCANS || d.work > d.work_limit) refuse(d, Refusal::TOO_MANY_SCANS);
}

// The colours libjpeg hands over: gray as gray, YCbCr and RGB as RGB, YCCK
// and CMYK as CMYK. 1 for channels of no known colour space.
int choose_colours(jpeg_decompress_struct& cinfo) {
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE: cinfo.out_color_space = JCS_GRAYSCALE; return 0;
        case JCS_YCbCr:
        case JCS_RGB: cinfo.out_color_space = JCS_RGB; return 0;
        case JCS_CMYK:
        case JCS_YCCK: cinfo.out_color_space = JCS_CMYK; return 0;
        default: return fail("Error - JPEG: the picture's %d channels are of no colour space tavo-gray knows\n", cinfo.num_components);
    }
}

// The rows that hold picture: all of them, unless the data ended during the
// first scan, which then reached only the iMCU rows before ended_row.
JDIMENSION rows_with_data(const Decoder& d) {
    const jpeg_decompress_struct& cinfo = d.cinfo;
    if (!d.ended || d.ended_scan > 1) return cinfo.output_height;
    const std::uint64_t rows = std::uint64_t{d.ended_row} * static_cast<std::uint64_t>(cinfo.max_v_samp_factor) *
                               static_cast<std::uint64_t>(cinfo.min_DCT_scaled_size);
    return static_cast<JDIMENSION>(std::min<std::uint64_t>(rows, cinfo.output_height));
}

// One decoded row as grays. Files with an Adobe marker store CMYK inverted
// (0 is full ink), as Photoshop writes them; others as ink.
void add_samples(Decoder& d, const JSAMPLE* row, GraySink& sink) {
    const jpeg_decompress_struct& cinfo = d.cinfo;
    const bool inverted = cinfo.saw_Adobe_marker != 0;
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x) {
        if (cinfo.out_color_space == JCS_GRAYSCALE) {
            d.grays[x] = row[x];
        } else if (cinfo.out_color_space == JCS_RGB) {
            const JSAMPLE* p = row + 3 * std::size_t{x};
            d.grays[x] = gray_of(p[0], p[1], p[2]);
        } else {
            const JSAMPLE* p = row + 4 * std::size_t{x};
            const auto ink = [inverted](JSAMPLE s) { return inverted ? static_cast<float>(s) : 255.0f - static_cast<float>(s); };
            d.grays[x] = gray_of(ink(p[0]), ink(p[1]), ink(p[2])) * ink(p[3]) / 255.0f;
        }
    }
    add_row(sink, d.grays);
    d.rows_added++;
}

// Everything libjpeg does, under decode_guarded's jump: nothing here owns memory.
int decode_steps(Decoder& d, int orientation, GraySink& sink) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    jpeg_read_header(&cinfo, TRUE);
    if (choose_colours(cinfo) != 0) return 1;
    const RowsPlan plan = plan_rows(cinfo.image_width, cinfo.image_height, orientation);
    cinfo.scale_num = 1;
    cinfo.scale_denom = plan.reduction;
    cinfo.mem->max_memory_to_use = static_cast<long>(MAX_DECODER_MEMORY);
    jpeg_calc_output_dimensions(&cinfo);
    if (start_rows(sink, RowsInfo{cinfo.image_width, cinfo.image_height, cinfo.output_width, cinfo.output_height, orientation}) != 0)
        return 1;
    jpeg_start_decompress(&cinfo);  // a progressive file is read whole here
    if (rows_with_data(d) == 0) return d.stream->failed ? 1 : fail("Error - JPEG: the file is cut short before its first row\n");
    const auto batch = static_cast<JDIMENSION>(std::clamp(cinfo.rec_outbuf_height, 1, MAX_BATCH));
    const std::size_t stride = std::size_t{cinfo.output_width} * static_cast<std::size_t>(cinfo.output_components);
    d.samples.resize(stride * batch);
    d.grays.resize(cinfo.output_width);
    JSAMPROW rows[MAX_BATCH] = {};
    for (JDIMENSION k = 0; k < batch; ++k) rows[k] = d.samples.data() + k * stride;
    while (cinfo.output_scanline < rows_with_data(d)) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, batch);
        for (JDIMENSION k = 0; k < got && first + k < rows_with_data(d); ++k) add_samples(d, rows[k], sink);
        if (got == 0) break;
    }
    if (d.rows_added == 0) return d.stream->failed ? 1 : fail("Error - JPEG: the file is cut short before its first row\n");
    return 0;
}

// libjpeg's own refusals in plain words, its message for the rest.
int report_library_error(Decoder& d) {
    switch (d.errors.msg_code) {
        case JERR_BAD_HUFF_TABLE: return fail("Error - JPEG: a Huffman table is damaged\n");
        case JERR_NO_HUFF_TABLE:
        case JERR_NO_QUANT_TABLE:
        case JERR_NO_ARITH_TABLE: return fail("Error - JPEG: a table the picture needs is missing\n");
        case JERR_BAD_PRECISION:
            return fail("Error - JPEG: the picture has %d-bit samples; tavo-gray reads 8-bit JPEG files\n", d.errors.msg_parm.i[0]);
        case JERR_SOF_UNSUPPORTED:
        case JERR_NOT_COMPILED: return fail("Error - JPEG: the picture is coded in a way tavo-gray cannot read (lossless or hierarchical)\n");
        case JERR_NO_IMAGE: return fail("Error - JPEG: the file holds no picture\n");
        default: break;
    }
    char text[JMSG_LENGTH_MAX] = {};
    d.errors.format_message(reinterpret_cast<j_common_ptr>(&d.cinfo), text);
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return fail("Error - JPEG: the file is damaged (%s)\n", text);
}

// What stopped the decoder, in plain words; 1 once printed.
int report_error(Decoder& d) {
    const jpeg_decompress_struct& cinfo = d.cinfo;
    const int code = d.errors.msg_code;
    if (d.stream->failed) return 1;  // the caller tells of the read error
    if (d.refusal == Refusal::TOO_MANY_SCANS)
        return fail("Error - JPEG: the picture is stored in too many scans to decode in reasonable time\n");
    if (d.refusal == Refusal::TOO_SLOW)
        return fail("Error - JPEG: the picture takes more than %lld s to decode\n", static_cast<long long>(MAX_DECODING_TIME.count()));
    if (code == JERR_NO_BACKING_STORE)  // a whole-picture buffer past max_memory_to_use
        return fail("Error - JPEG: the picture needs more than %" PRIu64 " MiB to decode\n", MAX_DECODER_MEMORY >> 20);
    if (code == JERR_OUT_OF_MEMORY) return fail("Error - JPEG: not enough memory to decode the picture\n");
    const bool size_refused = code == JERR_EMPTY_IMAGE || code == JERR_IMAGE_TOO_BIG;
    if (size_refused && check_picture_size(cinfo.image_width, cinfo.image_height) != 0) return 1;  // its message said
    if (code == JERR_IMAGE_TOO_BIG)
        return fail("Error - JPEG: the picture is %ux%u pixels, more than a JPEG file holds (%ld a side)\n", cinfo.image_width,
                    cinfo.image_height, JPEG_MAX_DIMENSION);
    if (d.ended) return fail("Error - JPEG: the file is cut short before its first row\n");
    return report_library_error(d);
}

// The one warning line of a picture made, if any.
void report_warning(const Decoder& d) {
    if (d.ended) {
        print("Warning - JPEG: the file is cut short; the picture is made as far as it goes\n");
    } else if (d.first_warning == JWRN_ADOBE_XFORM) {
        print("Warning - JPEG: the picture's colour transform is unknown; its grays may be wrong\n");
    } else if (d.first_warning >= 0) {
        print("Warning - JPEG: the picture's data is damaged; it is made as well as it reads\n");
    }
}

// Runs the decoder; libjpeg's errors come back here. A picture already made
// in part when the data turns bad is kept, with a warning.
int decode_guarded(Decoder& d, int orientation, GraySink& sink) {
    if (setjmp(d.jump) != 0) {
        if (d.rows_added == 0 || d.refusal != Refusal::NONE || d.stream->failed) return report_error(d);
        if (d.ended) {
            report_warning(d);
            return 0;
        }
        print("Warning - JPEG: the picture's data is damaged after %" PRIu32 " rows; the rest is left white\n", d.rows_added);
        return 0;
    }
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.src = &d.source;
    d.cinfo.progress = &d.progress;
    const int status = decode_steps(d, orientation, sink);
    if (status != 0 || d.stream->failed) return 1;
    report_warning(d);
    return 0;
}

}  // namespace

int decode_jpeg(ByteStream& stream, int orientation, GraySink& sink) {
    const auto d = std::make_unique<Decoder>();
    d->stream = &stream;
    d->cinfo.client_data = d.get();
    d->cinfo.err = jpeg_std_error(&d->errors);
    d->errors.error_exit = on_error;
    d->errors.output_message = on_output;
    d->errors.emit_message = on_message;
    d->source.init_source = init_source;
    d->source.fill_input_buffer = fill_input;
    d->source.skip_input_data = skip_input;
    d->source.resync_to_restart = jpeg_resync_to_restart;
    d->source.term_source = term_source;
    d->progress.progress_monitor = watch_progress;
    const int status = decode_guarded(*d, orientation, sink);
    jpeg_destroy_decompress(&d->cinfo);
    return status;
}
