#pragma once

// Paints pages into a WIC bitmap instead of a window, with the window's own text formats and paint
// context, so the tests can read the pixels back and keep pictures of every screen. Under Wine
// "Segoe UI" must be replaced by an installed font (scripts/setup does it) or no text is drawn.

#include <windows.h>
#include <wincodec.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "Platform/ComApartment.h"
#include "Window/DrawingResources.h"
#include "Window/OffscreenTarget.h"

namespace Velotrix {

// One painted frame, 0xRRGGBB a pixel; the page is opaque, so premultiplication changes nothing.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // BGRA as painted, one word a pixel, rows top first

    // White outside the picture, a colour the page never paints.
    std::uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFu;
        return pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFFu;
    }
};

class PaintHarness {
    // Declared first, so that COM is uninitialised after every pointer below has been released.
    ComApartment com{COINIT_APARTMENTTHREADED};

public:
    // False when WIC, Direct2D or DirectWrite is not there.
    bool Open() {
        return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IWICImagingFactory, reinterpret_cast<void**>(wic.Put()))) &&
               CreateDeviceIndependentResources(drawing, scale);
    }

    // The window's text formats for `newScale`; false when DirectWrite refused one.
    bool SetScale(float newScale) {
        scale = newScale;
        CreateTextFormats(drawing, scale);
        return drawing.titleFormat && drawing.buttonFormat && drawing.bodyFormat && drawing.headingFormat &&
               drawing.smallFormat && drawing.labelFormat;
    }

    // Paints the page `frames` times into a new `width` × `height` bitmap and keeps its pixels.
    bool Paint(const PageInput& page, int width, int height, int hoverIndex, PageResult& result, int frames = 1) {
        OffscreenTarget offscreen;
        ComPtr<ID2D1SolidColorBrush> brush;
        if (FAILED(CreateBitmapTarget(wic.get(), drawing.d2dFactory.get(), width, height, offscreen)) ||
            !CreatePaintBrush(*offscreen.target.get(), brush)) {
            // Wine's Direct2D draws through wined3d, which needs an X display even for a bitmap.
            failure = "no render target (under Wine, run on a display, e.g. Xvfb)";
            return false;
        }
        ID2D1RenderTarget* const target = offscreen.target.get();
        for (int frame = 0; frame < frames; ++frame) {
            PaintContext context = MakePaintContext(drawing, target, brush.get(), scale);
            context.hoverIndex = hoverIndex;
            context.regions = &regions;
            context.highContrast = highContrast;
            target->BeginDraw();
            result = PaintPage(context, page);
            if (FAILED(target->EndDraw())) {
                failure = "EndDraw failed";
                return false;
            }
        }
        picture.pixels.assign(static_cast<std::size_t>(width) * height, 0);
        const WICRect all{0, 0, width, height};
        if (FAILED(offscreen.bitmap->CopyPixels(&all, width * 4, static_cast<UINT>(picture.pixels.size() * 4),
                                                reinterpret_cast<BYTE*>(picture.pixels.data())))) {
            failure = "CopyPixels failed";
            return false;
        }
        picture.width = width;
        picture.height = height;
        return true;
    }

    // The whole page, however tall: one paint to learn its height, one to draw it.
    bool PaintWholePage(const PageInput& page, int hoverIndex, PageResult& result) {
        PageInput measured = page;
        if (!Paint(measured, static_cast<int>(page.width), 16, hoverIndex, result)) return false;
        measured.height = std::ceil(result.contentHeight);
        return Paint(measured, static_cast<int>(page.width), static_cast<int>(measured.height), hoverIndex, result);
    }

    // The last paint's frame.
    const Picture& Last() const { return picture; }

    bool SavePng(const std::wstring& path) const {
        ComPtr<IWICStream> stream;
        ComPtr<IWICBitmapEncoder> encoder;
        ComPtr<IWICBitmapFrameEncode> frame;
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
        if (picture.pixels.empty() || FAILED(wic->CreateStream(stream.Put())) ||
            FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) ||
            FAILED(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Put())) ||
            FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
            FAILED(encoder->CreateNewFrame(frame.Put(), nullptr)) || FAILED(frame->Initialize(nullptr)) ||
            FAILED(frame->SetSize(picture.width, picture.height)) || FAILED(frame->SetPixelFormat(&format)) ||
            format != GUID_WICPixelFormat32bppBGRA) {
            return false;
        }
        std::vector<std::uint32_t> opaque(picture.pixels);
        for (std::uint32_t& pixel : opaque) pixel |= 0xFF000000u;
        return SUCCEEDED(frame->WritePixels(picture.height, picture.width * 4, static_cast<UINT>(opaque.size() * 4),
                                            reinterpret_cast<BYTE*>(opaque.data()))) &&
               SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }

    std::vector<ClickRegion> regions;
    const SystemColours* highContrast = nullptr; // paints in these system colours when set
    std::string failure;                         // what the last failing step was

private:
    ComPtr<IWICImagingFactory> wic;
    DrawingResources drawing;
    float scale = 1;
    Picture picture;
};

} // namespace Velotrix
