#pragma once

// Paints pages into a WIC bitmap instead of a window, so the tests can read the pixels back and keep
// pictures of every screen. The text formats are made the way the window makes them; under Wine
// "Segoe UI" must be replaced by an installed font (scripts/setup does it) or no text is drawn.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Window/ComPtr.h"
#include "Window/Page.h"

namespace Velotrix {

enum class IconFont {
    Lookup,  // the icon fonts the window looks for; missing under Wine
    None,    // as on a system without them
    StandIn, // any installed family, to take the path that draws glyphs
};

class PaintHarness {
    // Declared first, so that COM is uninitialised after every pointer below has been released.
    struct ComScope {
        bool initialised = false;
        ~ComScope() {
            if (initialised) CoUninitialize();
        }
    } com;

public:
    // Answers false when COM, WIC, Direct2D or DirectWrite is not there.
    bool Open() {
        com.initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    reinterpret_cast<void**>(wic.Put())))) {
            return false;
        }
        if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                     reinterpret_cast<void**>(d2d.Put())))) {
            return false;
        }
        return SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                             reinterpret_cast<IUnknown**>(write.Put())));
    }

    // The seven formats for `scale`: family, weight and size as the window makes them.
    bool MakeFormats(float newScale, IconFont iconFont = IconFont::Lookup) {
        scale = newScale;
        bool ok = Format(L"Segoe UI", DWRITE_FONT_WEIGHT_BOLD, 20, title) &&
                  Format(L"Segoe UI", DWRITE_FONT_WEIGHT_BOLD, 12, button) &&
                  Format(L"Segoe UI", DWRITE_FONT_WEIGHT_REGULAR, 13, body) &&
                  Format(L"Segoe UI", DWRITE_FONT_WEIGHT_SEMI_BOLD, 14, heading) &&
                  Format(L"Segoe UI", DWRITE_FONT_WEIGHT_REGULAR, 11.5f, small) &&
                  Format(L"Segoe UI", DWRITE_FONT_WEIGHT_BOLD, 10.5f, label);
        icon.Reset();
        const wchar_t* iconFamily = iconFont == IconFont::StandIn ? L"DejaVu Sans" : nullptr;
        for (const wchar_t* family : {L"Segoe Fluent Icons", L"Segoe MDL2 Assets"}) {
            if (iconFont == IconFont::Lookup && !iconFamily && HasFamily(family)) iconFamily = family;
        }
        return ok && (!iconFamily || Format(iconFamily, DWRITE_FONT_WEIGHT_REGULAR, 13, icon));
    }

    bool HasIconFormat() const { return static_cast<bool>(icon); }

    // Paints the page `width` × `height` pixels into a new bitmap and keeps its pixels.
    bool Paint(const PageInput& page, int width, int height, int hoverIndex, PageResult& result) {
        if (!MakeTarget(width, height)) {
            return false;
        }
        PaintContext context = Context(hoverIndex);
        target->BeginDraw();
        result = PaintPage(context, page);
        const HRESULT drawn = target->EndDraw();
        if (FAILED(drawn)) {
            failure = "EndDraw " + Hex(drawn);
            return false;
        }
        return ReadPixels();
    }

    // The whole page, however tall: one paint to learn its height, one to draw it.
    bool PaintWholePage(const PageInput& page, int hoverIndex, PageResult& result) {
        PageInput measured = page;
        if (!Paint(measured, static_cast<int>(page.width), 16, hoverIndex, result)) {
            return false;
        }
        measured.height = std::ceil(result.contentHeight);
        return Paint(measured, static_cast<int>(page.width), static_cast<int>(measured.height), hoverIndex, result);
    }

    // Paints `count` frames into one target, as the window does at every tick; answers the average
    // milliseconds per frame, BeginDraw to EndDraw, or a negative number on failure.
    double TimePaints(const PageInput& page, int width, int height, int count) {
        if (!MakeTarget(width, height)) {
            return -1;
        }
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < count; ++i) {
            PaintContext context = Context(-1);
            target->BeginDraw();
            PaintPage(context, page);
            if (FAILED(target->EndDraw())) {
                return -1;
            }
        }
        QueryPerformanceCounter(&end);
        return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart) /
               count;
    }

    // 0xRRGGBB of the last paint; the page is opaque, so premultiplication changes nothing.
    std::uint32_t Pixel(int x, int y) const {
        if (x < 0 || y < 0 || x >= pixelWidth || y >= pixelHeight) {
            return 0xFFFFFFFFu;
        }
        return pixels[static_cast<std::size_t>(y) * pixelWidth + x] & 0xFFFFFFu;
    }
    int Width() const { return pixelWidth; }
    int Height() const { return pixelHeight; }

    bool SavePng(const std::wstring& path) const {
        ComPtr<IWICStream> stream;
        ComPtr<IWICBitmapEncoder> encoder;
        ComPtr<IWICBitmapFrameEncode> frame;
        if (pixels.empty() || FAILED(wic->CreateStream(stream.Put())) ||
            FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
            FAILED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Put())) ||
            FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
            FAILED(encoder->CreateNewFrame(frame.Put(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
            FAILED(frame->SetSize(pixelWidth, pixelHeight))) {
            return false;
        }
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
        if (FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppBGRA) {
            return false;
        }
        std::vector<std::uint32_t> opaque(pixels);
        for (std::uint32_t& pixel : opaque) {
            pixel |= 0xFF000000u;
        }
        return SUCCEEDED(frame->WritePixels(pixelHeight, pixelWidth * 4, static_cast<UINT>(opaque.size() * 4),
                                            reinterpret_cast<BYTE*>(opaque.data()))) &&
               SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }

    std::vector<ClickRegion> regions;
    std::string failure; // what the last failing step was
    float scale = 1;
    ComPtr<IDWriteTextFormat> title, button, body, heading, small, label, icon;

private:
    bool Format(const wchar_t* family, DWRITE_FONT_WEIGHT weight, float size, ComPtr<IDWriteTextFormat>& format) {
        format.Reset();
        if (FAILED(write->CreateTextFormat(family, nullptr, weight, DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                           size * scale, L"en-us", format.Put()))) {
            format.Reset();
            return false;
        }
        format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
        return true;
    }

    bool HasFamily(const wchar_t* family) {
        ComPtr<IDWriteFontCollection> collection;
        UINT32 index = 0;
        BOOL exists = FALSE;
        return SUCCEEDED(write->GetSystemFontCollection(collection.Put(), FALSE)) &&
               SUCCEEDED(collection->FindFamilyName(family, &index, &exists)) && exists;
    }

    static std::string Hex(HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
        return text;
    }

    bool MakeTarget(int width, int height) {
        brush.Reset();
        target.Reset();
        bitmap.Reset();
        HRESULT hr = wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, bitmap.Put());
        if (FAILED(hr)) {
            failure = "CreateBitmap " + Hex(hr);
            return false;
        }
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
            96.0f, 96.0f);
        hr = d2d->CreateWicBitmapRenderTarget(bitmap.get(), &properties, target.Put());
        if (SUCCEEDED(hr)) {
            hr = target->CreateSolidColorBrush(D2D1::ColorF(0xEDF2F0), brush.Put());
        }
        if (FAILED(hr)) {
            // Wine's Direct2D draws through wined3d, which needs an X display even for a bitmap.
            failure = "no render target: " + Hex(hr) + (hr == static_cast<HRESULT>(0x887A0004)
                                                            ? " (under Wine, run on a display, e.g. Xvfb)"
                                                            : "");
            return false;
        }
        // A bitmap with alpha cannot take ClearType; the window's own target uses it.
        target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
        pixelWidth = width;
        pixelHeight = height;
        return true;
    }

    PaintContext Context(int hoverIndex) {
        PaintContext context;
        context.target = target.get();
        context.brush = brush.get();
        context.writeFactory = write.get();
        context.titleFormat = title.get();
        context.buttonFormat = button.get();
        context.bodyFormat = body.get();
        context.headingFormat = heading.get();
        context.smallFormat = small.get();
        context.labelFormat = label.get();
        context.iconFormat = icon.get();
        context.scale = scale;
        context.hoverIndex = hoverIndex;
        context.regions = &regions;
        return context;
    }

    bool ReadPixels() {
        pixels.assign(static_cast<std::size_t>(pixelWidth) * pixelHeight, 0);
        const WICRect all{0, 0, pixelWidth, pixelHeight};
        const HRESULT hr = bitmap->CopyPixels(&all, pixelWidth * 4, static_cast<UINT>(pixels.size() * 4),
                                              reinterpret_cast<BYTE*>(pixels.data()));
        if (FAILED(hr)) {
            failure = "CopyPixels " + Hex(hr);
        }
        return SUCCEEDED(hr);
    }

    ComPtr<IWICImagingFactory> wic;
    ComPtr<ID2D1Factory> d2d;
    ComPtr<IDWriteFactory> write;
    ComPtr<IWICBitmap> bitmap;
    ComPtr<ID2D1RenderTarget> target;
    ComPtr<ID2D1SolidColorBrush> brush;
    int pixelWidth = 0;
    int pixelHeight = 0;
    std::vector<std::uint32_t> pixels; // BGRA, one word a pixel
};

} // namespace Velotrix
