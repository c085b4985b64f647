// Windows: JPEG, PNG, GIF and WebP decoded by the Windows Imaging Component
// (WIC). WIC reads the file through a small IStream over the ByteStream, not
// by its name, so that it reads only the regular file tavo-gray opened and a
// read error shows in stream.failed, as with the decoders on Linux. The first
// frame is copied out a strip of rows at a time into the GraySink: in its own
// pixel format where that is one of a few read here (16-bit samples kept),
// else converted to 32-bit RGBA. A JPEG is shrunk while it is decoded where
// WIC offers it.
#include "gray/decode.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "io/console.h"

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

// The file as WIC reads it. It lives on decode_file's stack, made before and
// so gone after every WIC object that holds it: its count of references only
// keeps COM's rules.
struct FileStream final : IStream {
    explicit FileStream(ByteStream& opened) : bytes(opened) {}
    ByteStream& bytes;
    ULONG references = 1;

    std::uint64_t position() const { return bytes.start + static_cast<std::uint64_t>(bytes.next - bytes.buffer.data()); }

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
        while (done < count && (bytes.next != bytes.end || refill_stream(bytes) == 0)) {
            const auto n = static_cast<ULONG>(std::min<std::ptrdiff_t>(count - done, bytes.end - bytes.next));
            std::memcpy(static_cast<BYTE*>(into) + done, bytes.next, n);
            bytes.next += n;
            done += n;
        }
        if (got != nullptr) *got = done;
        if (bytes.failed) return STG_E_READFAULT;
        return done == count ? S_OK : S_FALSE;  // S_FALSE: the end of the file
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        std::uint64_t from = 0;
        if (origin == STREAM_SEEK_CUR) from = position();
        else if (origin == STREAM_SEEK_END) from = bytes.size;
        else if (origin != STREAM_SEEK_SET) return STG_E_INVALIDFUNCTION;
        const std::int64_t by = move.QuadPart;  // checked in the unsigned range: no overflow
        const std::uint64_t magnitude = by < 0 ? 0 - static_cast<std::uint64_t>(by) : static_cast<std::uint64_t>(by);
        if (by < 0 ? magnitude > from : magnitude > FARTHEST - std::min(from, FARTHEST)) return STG_E_INVALIDFUNCTION;
        if (seek_to(bytes, by < 0 ? from - magnitude : from + magnitude) != 0) return STG_E_SEEKERROR;
        if (now != nullptr) now->QuadPart = position();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = bytes.size;
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

// A pixel as WIC hands it over: its bytes, where each channel is (-1: no
// opacity), and whether a sample is 16 bits.
struct Layout {
    const GUID* format;
    std::uint32_t bytes;
    int red, green, blue, alpha;
    bool wide;
};

// The pixel formats read as they come; any other is converted to the first.
const Layout LAYOUTS[] = {{&GUID_WICPixelFormat32bppRGBA, 4, 0, 1, 2, 3, false},
                          {&GUID_WICPixelFormat32bppBGRA, 4, 2, 1, 0, 3, false},
                          {&GUID_WICPixelFormat32bppBGR, 4, 2, 1, 0, -1, false},
                          {&GUID_WICPixelFormat24bppBGR, 3, 2, 1, 0, -1, false},
                          {&GUID_WICPixelFormat24bppRGB, 3, 0, 1, 2, -1, false},
                          {&GUID_WICPixelFormat8bppGray, 1, 0, 0, 0, -1, false},
                          {&GUID_WICPixelFormat64bppRGBA, 8, 0, 1, 2, 3, true},
                          {&GUID_WICPixelFormat48bppRGB, 6, 0, 1, 2, -1, true},
                          {&GUID_WICPixelFormat16bppGray, 2, 0, 0, 0, -1, true}};

const Layout* layout_of(const WICPixelFormatGUID& format) {
    for (const Layout& layout : LAYOUTS)
        if (format == *layout.format) return &layout;
    return nullptr;
}

// Where the frame lies in the picture: a GIF's first frame may be smaller
// than its logical screen, which is the picture, white around the frame.
struct Placement {
    UINT width = 0;  // the picture
    UINT height = 0;
    UINT left = 0;  // the frame's top left corner in it
    UINT top = 0;
};

int wic_error(const ByteStream& stream, PictureFormat format, HRESULT result) {
    if (stream.failed) return 1;  // prepare_picture tells of a read error
    const char* name = format_name(format);
    if (result == WINCODEC_ERR_COMPONENTNOTFOUND) return fail("Error - %s: Windows has no decoder for it installed\n", name);
    if (result == E_OUTOFMEMORY) return fail("Error - %s: Windows had not memory enough to decode it\n", name);
    const bool damaged = result == WINCODEC_ERR_BADHEADER || result == WINCODEC_ERR_BADIMAGE ||
                         result == WINCODEC_ERR_BADSTREAMDATA || result == WINCODEC_ERR_STREAMREAD;
    return fail("Error - %s: Windows %s (0x%08lX)\n", name, damaged ? "found it damaged" : "could not decode it",
                static_cast<unsigned long>(result));
}

float sample(const BYTE* pixel, const Layout& layout, int channel) {
    const auto at = static_cast<std::size_t>(channel);
    if (!layout.wide) return pixel[at];
    return static_cast<float>(pixel[2 * at] | pixel[2 * at + 1] << 8) / 257.0f;
}

// Copies the frame's rows out, a strip at a time, into the sink. A frame that
// fails after its first strip is made as far as it went.
template <typename CopyStrip>
int copy_rows(GraySink& sink, const ByteStream& stream, PictureFormat format, const Layout& layout, UINT width,
              UINT height, const Placement& place, CopyStrip copy_strip) {
    for (UINT y = 0; y < place.top; ++y) add_row(sink, {});  // white above the frame
    if (width == 0 || height == 0) return 0;  // a GIF frame of no pixels: all white
    const UINT stride = width * layout.bytes;
    const UINT strip = std::clamp<UINT>(STRIP_BYTES / stride, 1, height);
    std::vector<BYTE> pixels(std::size_t{stride} * strip);
    std::vector<float> grays(place.width, 255.0f);
    const UINT shown = std::min(width, place.width - std::min(place.left, place.width));  // columns inside the picture
    for (UINT top = 0; top < height && place.top + top < place.height; top += strip) {
        const UINT rows = std::min(strip, height - top);
        const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(rows)};
        const HRESULT result = copy_strip(rect, stride, pixels);
        if (FAILED(result) && (top == 0 || stream.failed)) return wic_error(stream, format, result);
        if (FAILED(result)) {
            print("Warning - %s: Windows could not decode all of it (0x%08lX)\n", format_name(format),
                  static_cast<unsigned long>(result));
            return 0;
        }
        for (UINT y = 0; y < rows; ++y) {
            const BYTE* row = pixels.data() + std::size_t{y} * stride;
            for (UINT x = 0; x < shown; ++x) {
                const BYTE* pixel = row + std::size_t{x} * layout.bytes;
                const float opacity = layout.alpha < 0 ? 1.0f : sample(pixel, layout, layout.alpha) / 255.0f;
                grays[place.left + x] = gray_of(sample(pixel, layout, layout.red), sample(pixel, layout, layout.green),
                                                sample(pixel, layout, layout.blue), opacity);
            }
            add_row(sink, grays);
        }
    }
    return 0;
}

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

// A JPEG shrunk while decoded by the reduction plan_rows allows (WIC's own
// DCT scaling), when the frame offers it: the layout its rows come in and
// their size, or nullptr to decode it whole.
const Layout* shrinking(IWICBitmapFrameDecode* frame, UINT width, UINT height, int orientation,
                        Com<IWICBitmapSourceTransform>& transform, UINT& shrunk_width, UINT& shrunk_height) {
    const RowsPlan plan = plan_rows(width, height, orientation);
    if (plan.reduction == 1 || FAILED(frame->QueryInterface(IID_PPV_ARGS(&transform.p)))) return nullptr;
    const bool sideways = orientation >= 5 && orientation <= 8;
    shrunk_width = (width + plan.reduction - 1) / plan.reduction;
    shrunk_height = (height + plan.reduction - 1) / plan.reduction;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(transform->GetClosestSize(&shrunk_width, &shrunk_height)) ||
        FAILED(transform->GetClosestPixelFormat(&format)))
        return nullptr;
    if (shrunk_width > width || shrunk_height > height || shrunk_width < (sideways ? plan.height : plan.width) ||
        shrunk_height < (sideways ? plan.width : plan.height))
        return nullptr;  // WIC shrinks by other steps than asked: no use here
    const Layout* layout = layout_of(format);
    if (layout == nullptr) return nullptr;
    // The first row copied out once before it is relied on, so that a codec
    // that offers shrinking but fails at it leaves the picture decoded whole.
    std::vector<BYTE> row(std::size_t{shrunk_width} * layout->bytes);
    const WICRect first{0, 0, static_cast<INT>(shrunk_width), 1};
    const auto size = static_cast<UINT>(row.size());
    if (FAILED(transform->CopyPixels(&first, shrunk_width, shrunk_height, &format, WICBitmapTransformRotate0, size, size,
                                     row.data())))
        return nullptr;
    return layout;
}

int decode_file(ByteStream& stream, PictureFormat format, int orientation, GraySink& sink) {
    FileStream file(stream);  // made first: it outlives every COM pointer below
    Com<IWICImagingFactory> factory;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    UINT width = 0;
    UINT height = 0;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory.p));
    if (SUCCEEDED(result)) result = factory->CreateDecoderFromStream(&file, nullptr, WICDecodeMetadataCacheOnDemand, &decoder.p);
    if (SUCCEEDED(result)) result = decoder->GetFrame(0, &frame.p);
    if (SUCCEEDED(result)) result = frame->GetSize(&width, &height);
    if (FAILED(result)) return wic_error(stream, format, result);
    if (check_picture_size(width, height) != 0) return 1;

    Com<IWICBitmapSourceTransform> transform;
    UINT shrunk_width = width;
    UINT shrunk_height = height;
    const Layout* shrunk = format == PictureFormat::JPEG
                               ? shrinking(frame.p, width, height, orientation, transform, shrunk_width, shrunk_height)
                               : nullptr;
    if (shrunk != nullptr) {
        if (start_rows(sink, RowsInfo{width, height, shrunk_width, shrunk_height, orientation}) != 0) return 1;
        WICPixelFormatGUID pixel_format = *shrunk->format;
        return copy_rows(sink, stream, format, *shrunk, shrunk_width, shrunk_height, {shrunk_width, shrunk_height, 0, 0},
                         [&](const WICRect& rect, UINT stride, std::vector<BYTE>& pixels) {
                             return transform->CopyPixels(&rect, shrunk_width, shrunk_height, &pixel_format,
                                                          WICBitmapTransformRotate0, stride,
                                                          static_cast<UINT>(pixels.size()), pixels.data());
                         });
    }

    const Placement place = format == PictureFormat::GIF ? place_gif_frame(decoder.p, frame.p, width, height)
                                                         : Placement{width, height, 0, 0};
    if (start_rows(sink, RowsInfo{place.width, place.height, place.width, place.height, orientation}) != 0) return 1;
    // The frame's own pixels where they come in a layout read here (16-bit
    // samples among them), else converted to 32-bit RGBA, not premultiplied.
    Com<IWICFormatConverter> converter;
    IWICBitmapSource* source = frame.p;
    WICPixelFormatGUID pixel_format{};
    result = frame->GetPixelFormat(&pixel_format);
    const Layout* layout = SUCCEEDED(result) ? layout_of(pixel_format) : nullptr;
    if (SUCCEEDED(result) && layout == nullptr) {
        layout = &LAYOUTS[0];
        result = factory->CreateFormatConverter(&converter.p);
        if (SUCCEEDED(result))
            result = converter->Initialize(frame.p, *layout->format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                           WICBitmapPaletteTypeCustom);
        source = converter.p;
    }
    if (FAILED(result)) return wic_error(stream, format, result);
    return copy_rows(sink, stream, format, *layout, width, height, place,
                     [&](const WICRect& rect, UINT stride, std::vector<BYTE>& pixels) {
                         return source->CopyPixels(&rect, stride, static_cast<UINT>(pixels.size()), pixels.data());
                     });
}

}  // namespace

int decode_wic(ByteStream& stream, PictureFormat format, int orientation, GraySink& sink) {
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // RPC_E_CHANGED_MODE: the thread already has its apartment, which serves as well.
    if (FAILED(joined) && joined != RPC_E_CHANGED_MODE) return wic_error(stream, format, joined);
    const int status = decode_file(stream, format, orientation, sink);
    if (SUCCEEDED(joined)) CoUninitialize();  // S_OK and S_FALSE alike take one
    return status;
}
