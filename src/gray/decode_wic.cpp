// Windows: JPEG, PNG, GIF and WebP decoded by the Windows Imaging Component
// (WIC). WIC reads the file through an IStream of tavo-gray's own over the
// ByteStream, so that it reads only the regular file that was opened, read
// errors show, and the time budget holds; and the IStream shows it only
// what the picture needs: a PNG's header, palette, tRNS and picture data
// (each chunk whole, with its CRC), never a text chunk to inflate. WIC
// decodes the whole frame at once, so a picture whose frame would pass the
// memory a decoder may hold is refused from its header; a JPEG is shrunk
// while decoded where Windows offers it. A JPEG that WIC refuses is tried
// once more with an end (EOI) of its own after its data: so a file cut
// short is made as far as it goes, as elsewhere. Rows are copied out as
// 32-bit RGBA.
#include "gray/decode.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The interface through which a JPEG is decoded shrunk, missing from older
// MinGW-w64 headers.
#ifndef __IWICBitmapSourceTransform_INTERFACE_DEFINED__
#define __IWICBitmapSourceTransform_INTERFACE_DEFINED__
MIDL_INTERFACE("3b16811b-6a43-4ec9-b713-3d5a0c13b940")
IWICBitmapSourceTransform : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height, WICPixelFormatGUID* format,
                                                 WICBitmapTransformOptions transform, UINT stride, UINT size, BYTE* pixels) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};
__CRT_UUID_DECL(IWICBitmapSourceTransform, 0x3b16811b, 0x6a43, 0x4ec9, 0xb7, 0x13, 0x3d, 0x5a, 0x0c, 0x13, 0xb9, 0x40)
#endif

namespace {

constexpr std::uint32_t STRIP_BYTES = 256 * 1024;  // the pixels copied out at a time (at least one row)
constexpr std::uint64_t FARTHEST = 1ull << 62;      // no seek goes past this (a file offset is signed)

// A COM pointer, released when it goes.
template <typename T>
struct Com {
    T* p = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p != nullptr) p->Release();
    }
    T* operator->() const { return p; }
};

constexpr BYTE JPEG_EOI[] = {0xFF, 0xD9};
constexpr HRESULT WARNED = 2;  // made as far as it went, and said so

// The file as WIC reads it: its pieces one after another. It lives on
// decode_file's stack, made before and so gone after every WIC object that
// holds it: its count of references only keeps COM's rules.
struct FileStream final : IStream {
    explicit FileStream(ByteStream& opened) : bytes(opened) {}
    ByteStream& bytes;
    std::vector<Piece> pieces;
    std::uint64_t size = 0;  // of them all
    std::uint64_t at = 0;
    ULONG references = 1;

    void add(Piece piece) {
        pieces.push_back(piece);
        size += piece.length;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream) return E_NOINTERFACE;
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE Read(void* into, ULONG count, ULONG* got) override {
        ULONG done = 0;
        std::uint64_t start = 0;  // of the piece
        for (const Piece& piece : pieces) {
            const std::uint64_t end = start + piece.length;
            if (done < count && at >= start && at < end) {
                const auto n = static_cast<ULONG>(std::min<std::uint64_t>(count - done, end - at));
                BYTE* to = static_cast<BYTE*>(into) + done;
                std::size_t read = n;
                if (piece.ours != nullptr) std::memcpy(to, piece.ours + (at - start), n);
                else read = seek_to(bytes, piece.from + (at - start)) == 0 ? read_up_to(bytes, to, n) : 0;
                done += static_cast<ULONG>(read);
                at += read;
                if (read < n) break;
            }
            start = end;
        }
        if (got != nullptr) *got = done;
        if (bytes.failed || bytes.out_of_time) return STG_E_READFAULT;
        return done == count ? S_OK : S_FALSE;  // S_FALSE: the end of the file
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        std::uint64_t from = 0;
        if (origin == STREAM_SEEK_CUR) from = at;
        else if (origin == STREAM_SEEK_END) from = size;
        else if (origin != STREAM_SEEK_SET) return STG_E_INVALIDFUNCTION;
        const std::int64_t by = move.QuadPart;  // checked in the unsigned range: no overflow
        const std::uint64_t magnitude = by < 0 ? 0 - static_cast<std::uint64_t>(by) : static_cast<std::uint64_t>(by);
        if (by < 0 ? magnitude > from : magnitude > FARTHEST - std::min(from, FARTHEST)) return STG_E_INVALIDFUNCTION;
        at = by < 0 ? from - magnitude : from + magnitude;
        if (now != nullptr) now->QuadPart = at;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size;
        stat->grfMode = STGM_READ;
        return S_OK;
    }

    // Reading only.
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};

// A JPEG's markers walked, for what WIC does not tell: the EXIF Orientation
// of the first APP1 segment that holds one; the width and height of its
// frame; and, walked to its end, where the data worth keeping ends: before
// a segment (a table, a scan's header) the file cuts short, or at the end.
// scanned: data of a scan follows a scan's header.
struct JpegWalk {
    int orientation = 1;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool scanned = false;
    std::uint64_t kept = 0;
};

JpegWalk walk_jpeg(ByteStream& in, bool to_the_end) {
    JpegWalk walk{1, 0, 0, false, in.size};
    BYTE head[4];
    std::vector<BYTE> segment;
    bool exif = false;
    for (std::uint64_t at = 2; seek_to(in, at) == 0 && read_up_to(in, head, 4) == 4 && head[0] == 0xFF;) {
        const std::uint32_t length = number_in(std::span(head).subspan(2), true);
        if (head[1] == 0xD9 || length < 2) break;  // the end, or no segment
        if (at + 2 + length > in.size) {  // cut short inside this segment
            walk.kept = at;
            break;
        }
        const bool frame = head[1] >= 0xC0 && head[1] <= 0xCF && head[1] != 0xC4 && head[1] != 0xC8 && head[1] != 0xCC;
        if ((frame || (head[1] == 0xE1 && !exif)) && length >= 8) {
            segment.resize(length - 2);
            if (read_up_to(in, segment.data(), segment.size()) < segment.size()) break;
            if (frame) walk.height = number_in(std::span(segment).subspan(1, 2), true), walk.width = number_in(std::span(segment).subspan(3, 2), true);
            exif = exif || (!frame && std::memcmp(segment.data(), "Exif\0\0", 6) == 0);
            if (exif && !frame && walk.orientation == 1) walk.orientation = orientation_in_tiff(std::span(segment).subspan(6));
        }
        at += 2 + length;
        if (head[1] != 0xDA) continue;
        walk.scanned = walk.scanned || at < in.size;
        if (!to_the_end) break;
        // The scan's data, to the next marker: 0xFF then 0 is a byte of data, then 0xD0 to 0xD7 a restart.
        BYTE byte = 0;
        seek_to(in, at);
        for (bool marker = false; !marker && get_byte(in, byte) == 0;) {
            if (byte != 0xFF) continue;
            while (get_byte(in, byte) == 0 && byte == 0xFF) {}
            marker = byte != 0 && (byte < 0xD0 || byte > 0xD7);
        }
        if (in.ended) break;  // cut short in the scan's data: all of it kept
        at = stream_position(in) - 2;
    }
    return walk;
}

// The picture as its header tells before WIC is given it, and what Windows
// holds to decode it whole (0 x 0 where the header is not read here).
struct Whole {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t bytes = 0;
};

// A GIF: Windows' decoder decodes every frame as it opens the file, and
// holds the screen at 4 bytes a pixel and every frame at one.
Whole gif_whole(ByteStream& in) {
    BYTE b[9];
    if (seek_to(in, 6) != 0 || read_up_to(in, b, 7) != 7) return {};
    Whole whole{number_in(std::span(b).first(2), false), number_in(std::span(b).subspan(2, 2), false), 0};
    whole.bytes = 4 * std::uint64_t{whole.width} * whole.height;
    std::uint64_t at = 13 + ((b[4] & 0x80) != 0 ? 3u << ((b[4] & 7) + 1) : 0);
    for (BYTE kind = 0; whole.bytes <= MAX_MEMORY && seek_to(in, at) == 0 && read_up_to(in, &kind, 1) == 1 && kind != 0x3B;) {
        if (kind == 0x21) {
            at += 2;  // the extension's label
        } else if (kind == 0x2C && read_up_to(in, b, 9) == 9) {
            whole.bytes += std::uint64_t{number_in(std::span(b).subspan(4, 2), false)} * number_in(std::span(b).subspan(6, 2), false);
            at += 11 + ((b[8] & 0x80) != 0 ? 3u << ((b[8] & 7) + 1) : 0);  // the descriptor, its table, the code size
        } else {
            break;
        }
        for (BYTE length = 1; length != 0 && seek_to(in, at) == 0 && read_up_to(in, &length, 1) == 1;) at += 1 + length;  // sub-blocks
    }
    return whole;
}

Whole whole_of(Decoding& d, const PngChunks& png, const JpegWalk& jpeg) {
    switch (d.format) {
        case PictureFormat::PNG: return {png.width, png.height, std::uint64_t{png.width} * png.height * (png.depth == 16 ? 8 : 4)};
        case PictureFormat::JPEG: return {jpeg.width, jpeg.height, std::uint64_t{jpeg.width} * jpeg.height * 4};
        case PictureFormat::GIF: return gif_whole(*d.in);
        default: return {};
    }
}

int wic_error(Decoding& d, HRESULT result) {
    if (d.in->failed || d.in->out_of_time) return stop_early(d, Stop::DAMAGED);
    if (result == WINCODEC_ERR_COMPONENTNOTFOUND) {  // and the Microsoft Store's extension that adds one
        const char* extension = d.format == PictureFormat::WEBP ? "; the WebP Image Extensions from the Microsoft Store add it"
                                : d.format == PictureFormat::HEIC ? "; the HEIF Image Extensions and HEVC Video Extensions from the Microsoft Store add it"
                                : d.format == PictureFormat::AVIF ? "; the AV1 Video Extension from the Microsoft Store adds it"
                                                                  : "";
        return picture_error(d, std::string("Windows has no decoder for it installed") + extension);
    }
    if (result == E_OUTOFMEMORY) return picture_error(d, "Windows had not memory enough to decode it");
    char words[64];
    const bool damaged = result == WINCODEC_ERR_BADHEADER || result == WINCODEC_ERR_BADIMAGE ||
                         result == WINCODEC_ERR_BADSTREAMDATA || result == WINCODEC_ERR_STREAMREAD;
    std::snprintf(words, sizeof words, "Windows %s (0x%08lX)", damaged ? "found it damaged" : "could not decode it",
                  static_cast<unsigned long>(result));
    return picture_error(d, words);
}

// Where the frame lies in the picture: a GIF's first frame may be smaller
// than its logical screen, which is the picture, white around the frame.
struct Placement {
    UINT width = 0;  // the picture
    UINT height = 0;
    UINT left = 0;  // the frame's top left corner in it
    UINT top = 0;
};

UINT metadata_number(IWICMetadataQueryReader* reader, const wchar_t* name, UINT otherwise) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (reader == nullptr || FAILED(reader->GetMetadataByName(name, &value))) return otherwise;
    const UINT number = value.vt == VT_UI2 ? value.uiVal : otherwise;
    PropVariantClear(&value);
    return number;
}

Placement place_gif_frame(IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame, UINT width, UINT height) {
    Com<IWICMetadataQueryReader> screen;
    Com<IWICMetadataQueryReader> image;
    if (FAILED(decoder->GetMetadataQueryReader(&screen.p))) screen.p = nullptr;
    if (FAILED(frame->GetMetadataQueryReader(&image.p))) image.p = nullptr;
    return {metadata_number(screen.p, L"/logscrdesc/Width", width), metadata_number(screen.p, L"/logscrdesc/Height", height),
            metadata_number(image.p, L"/imgdesc/Left", 0), metadata_number(image.p, L"/imgdesc/Top", 0)};
}

// Copies the frame's rows out, a strip at a time, as RGBA (or as 8-bit
// gray or 24-bit BGR, which a shrinking JPEG decoder hands over, made RGBA
// here), into the sink, placed on white rows. A frame that fails after its
// first strip is made as far as it went (S_OK, or S_FALSE once refused).
template <typename CopyStrip>
HRESULT copy_rows(Decoding& d, UINT width, UINT height, UINT bytes, const Placement& place, CopyStrip copy_strip) {
    std::vector<BYTE> row(4 * std::size_t{place.width}, 255);
    for (UINT y = 0; y < place.top; ++y) add_row(d.sink, row);
    if (width == 0 || height == 0) return S_OK;  // a GIF frame of no pixels: all white
    const UINT stride = width * bytes;
    const UINT strip = std::clamp<UINT>(STRIP_BYTES / stride, 1, height);
    std::vector<BYTE> pixels(std::size_t{stride} * strip);
    const UINT shown = std::min(width, place.width - std::min(place.left, place.width));  // columns inside the picture
    for (UINT top = 0; top < height && place.top + top < place.height; top += strip) {
        const UINT rows = std::min(strip, height - top);
        const HRESULT result = copy_strip(WICRect{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)}, stride, pixels);
        if (FAILED(result) && top == 0) return result;
        if (FAILED(result)) {
            char words[32];
            std::snprintf(words, sizeof words, "0x%08lX", static_cast<unsigned long>(result));
            return stop_early(d, Stop::DAMAGED, words) == 0 ? WARNED : S_FALSE;
        }
        for (UINT y = 0; y < rows; ++y) {
            const BYTE* from = pixels.data() + std::size_t{y} * stride;
            for (UINT x = 0; x < shown; ++x) {
                const BYTE* p = from + std::size_t{x} * bytes;
                const std::size_t red = bytes == 3 ? 2 : 0, green = bytes == 1 ? 0 : 1, blue = bytes == 3 ? 0 : 2 * (bytes / 4);
                const BYTE rgba[4] = {p[red], p[green], p[blue], bytes == 4 ? p[3] : BYTE{255}};
                std::memcpy(row.data() + 4 * std::size_t{place.left + x}, rgba, 4);
            }
            add_row(d.sink, row);
        }
    }
    return S_OK;
}

// A JPEG shrunk while decoded by the reduction plan_rows allows (WIC's own
// DCT scaling), where the frame offers it in a layout read here: 0 with
// the bytes a pixel and the shrunk size, or 1 to decode it whole.
int shrinking(IWICBitmapFrameDecode* frame, UINT width, UINT height, int orientation, Com<IWICBitmapSourceTransform>& transform,
              WICPixelFormatGUID& format, UINT& bytes, UINT& shrunk_width, UINT& shrunk_height) {
    const RowsPlan plan = plan_rows(width, height, orientation);
    if (plan.reduction == 1 || FAILED(frame->QueryInterface(IID_PPV_ARGS(&transform.p)))) return 1;
    const bool sideways = orientation >= 5 && orientation <= 8;
    shrunk_width = (width + plan.reduction - 1) / plan.reduction;
    shrunk_height = (height + plan.reduction - 1) / plan.reduction;
    format = GUID_WICPixelFormat32bppRGBA;
    if (FAILED(transform->GetClosestSize(&shrunk_width, &shrunk_height)) || FAILED(transform->GetClosestPixelFormat(&format)))
        return 1;
    bytes = format == GUID_WICPixelFormat32bppRGBA ? 4 : format == GUID_WICPixelFormat24bppBGR ? 3 : format == GUID_WICPixelFormat8bppGray ? 1 : 0;
    if (bytes == 0 || shrunk_width > width || shrunk_height > height || shrunk_width < (sideways ? plan.height : plan.width) ||
        shrunk_height < (sideways ? plan.width : plan.height))
        return 1;  // WIC shrinks by other steps than asked, or into a layout not read here
    // The first row copied out once before it is relied on, so that a codec
    // that offers shrinking but fails at it leaves the picture decoded whole.
    std::vector<BYTE> row(std::size_t{shrunk_width} * bytes);
    const WICRect first{0, 0, static_cast<INT>(shrunk_width), 1};
    const auto size = static_cast<UINT>(row.size());
    return FAILED(transform->CopyPixels(&first, shrunk_width, shrunk_height, &format, WICBitmapTransformRotate0, size, size, row.data()));
}

// The bytes a pixel of format take in WIC's decoded frame; 8 when unknown.
std::uint64_t frame_bytes(IWICImagingFactory* factory, const WICPixelFormatGUID& format) {
    Com<IWICComponentInfo> component;
    Com<IWICPixelFormatInfo> info;
    UINT bits = 0;
    if (FAILED(factory->CreateComponentInfo(format, &component.p)) || FAILED(component->QueryInterface(IID_PPV_ARGS(&info.p))) ||
        FAILED(info->GetBitsPerPixel(&bits)) || bits == 0)
        bits = 64;
    return (bits + 7) / 8;
}

HRESULT decode_file(Decoding& d, bool ended) {
    FileStream file(*d.in);  // made first: it outlives every COM pointer below
    const PngChunks png = d.format == PictureFormat::PNG ? png_chunks(*d.in) : PngChunks{};
    const JpegWalk jpeg = d.format == PictureFormat::JPEG ? walk_jpeg(*d.in, ended) : JpegWalk{};
    if (ended && !jpeg.scanned) return E_FAIL;  // no data to make a picture of
    const Whole whole = whole_of(d, png, jpeg);
    if ((whole.width > 0 && whole.height > 0 && check_picture_size(whole.width, whole.height, d.sink.max_pixels) != 0) ||
        check_memory(d, whole.bytes, "decoded whole by Windows") != 0)
        return S_FALSE;
    for (const Piece& piece : png.pieces) file.add(piece);
    if (png.pieces.empty()) file.add({ended ? jpeg.kept : d.in->size, 0});
    if (ended) file.add({sizeof JPEG_EOI, 0, JPEG_EOI});
    const int orientation = jpeg.orientation;
    Com<IWICImagingFactory> factory;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    UINT width = 0;
    UINT height = 0;
    WICPixelFormatGUID format{};
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory.p));
    if (SUCCEEDED(result)) result = factory->CreateDecoderFromStream(&file, nullptr, WICDecodeMetadataCacheOnDemand, &decoder.p);
    if (SUCCEEDED(result)) result = decoder->GetFrame(0, &frame.p);
    if (SUCCEEDED(result)) result = frame->GetSize(&width, &height);
    if (SUCCEEDED(result)) result = frame->GetPixelFormat(&format);
    if (FAILED(result)) return result;
    if (check_picture_size(width, height, d.sink.max_pixels) != 0) return S_FALSE;

    Com<IWICBitmapSourceTransform> transform;
    UINT bytes = 4;
    UINT shrunk_width = width;
    UINT shrunk_height = height;
    WICPixelFormatGUID shrunk_format{};
    if (d.format == PictureFormat::JPEG &&
        shrinking(frame.p, width, height, orientation, transform, shrunk_format, bytes, shrunk_width, shrunk_height) == 0) {
        if (start_rows(d.sink, {width, height, shrunk_width, shrunk_height, orientation}) != 0) return S_FALSE;
        return copy_rows(d, shrunk_width, shrunk_height, bytes, {shrunk_width, shrunk_height, 0, 0}, [&](const WICRect& rect, UINT stride, std::vector<BYTE>& pixels) {
            return transform->CopyPixels(&rect, shrunk_width, shrunk_height, &shrunk_format, WICBitmapTransformRotate0, stride,
                                         static_cast<UINT>(pixels.size()), pixels.data());
        });
    }

    if (check_memory(d, std::uint64_t{width} * height * std::max<std::uint64_t>(4, frame_bytes(factory.p, format)), "decoded whole by Windows") != 0)
        return S_FALSE;
    const Placement place = d.format == PictureFormat::GIF ? place_gif_frame(decoder.p, frame.p, width, height) : Placement{width, height, 0, 0};
    if (start_rows(d.sink, {place.width, place.height, place.width, place.height, orientation}) != 0) return S_FALSE;
    d.held_whole = true;
    Com<IWICFormatConverter> converter;
    result = factory->CreateFormatConverter(&converter.p);
    if (SUCCEEDED(result))
        result = converter->Initialize(frame.p, GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(result)) return result;
    return copy_rows(d, width, height, 4, place, [&](const WICRect& rect, UINT stride, std::vector<BYTE>& pixels) {
        return converter->CopyPixels(&rect, stride, static_cast<UINT>(pixels.size()), pixels.data());
    });
}

}  // namespace

int decode_wic(Decoding& d) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // RPC_E_CHANGED_MODE: the thread already has its apartment, which serves as well.
    if (FAILED(joined) && joined != RPC_E_CHANGED_MODE) return wic_error(d, joined);
    HRESULT result = decode_file(d, false);
    const bool again = FAILED(result) && d.format == PictureFormat::JPEG && !d.in->failed && !d.in->out_of_time;
    const HRESULT ended = again ? decode_file(d, true) : E_FAIL;  // with an end of its own: a file cut short
    if (SUCCEEDED(ended)) result = ended;
    if (SUCCEEDED(joined)) CoUninitialize();  // S_OK and S_FALSE alike take one
    if (FAILED(result)) return wic_error(d, result);
    if (result == S_FALSE) return 1;  // refused, and said
    return SUCCEEDED(ended) && result != WARNED ? stop_early(d, Stop::CUT_SHORT) : 0;
}
