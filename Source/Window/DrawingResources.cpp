#include "Window/DrawingResources.h"

#include "Window/Palette.h"

namespace Velotrix {

namespace {

struct FormatSpec {
    ComPtr<IDWriteTextFormat> DrawingResources::*field;
    DWRITE_FONT_WEIGHT weight;
    float size;
};

// The icon fonts, newest first; Windows 11 has the first, Windows 10 the second.
constexpr const wchar_t* IconFontFamilies[] = {L"Segoe Fluent Icons", L"Segoe MDL2 Assets"};

void CreateIconFormat(DrawingResources& resources, float scale) {
    resources.iconFormat.Reset();
    ComPtr<IDWriteFontCollection> fonts;
    if (FAILED(resources.writeFactory->GetSystemFontCollection(fonts.Put(), FALSE)) || !fonts) return;
    for (const wchar_t* family : IconFontFamilies) {
        UINT32 index = 0;
        BOOL found = FALSE;
        if (FAILED(fonts->FindFamilyName(family, &index, &found)) || !found) continue;
        resources.writeFactory->CreateTextFormat(family, nullptr, DWRITE_FONT_WEIGHT_REGULAR, DWRITE_FONT_STYLE_NORMAL,
                                                 DWRITE_FONT_STRETCH_NORMAL, 13.0f * scale, L"en-us",
                                                 resources.iconFormat.Put());
        if (resources.iconFormat) resources.iconFormat->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
        return;
    }
}

} // namespace

bool CreateDeviceIndependentResources(DrawingResources& resources, float scale) {
    if (!resources.d2dFactory) {
        D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                          reinterpret_cast<void**>(resources.d2dFactory.Put()));
    }
    if (!resources.writeFactory) {
        DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                            reinterpret_cast<IUnknown**>(resources.writeFactory.Put()));
    }
    CreateTextFormats(resources, scale);
    return resources.d2dFactory && resources.writeFactory;
}

void CreateTextFormats(DrawingResources& resources, float scale) {
    static constexpr FormatSpec specs[] = {
        {&DrawingResources::titleFormat, DWRITE_FONT_WEIGHT_BOLD, 20.0f},
        {&DrawingResources::buttonFormat, DWRITE_FONT_WEIGHT_BOLD, 12.0f},
        {&DrawingResources::bodyFormat, DWRITE_FONT_WEIGHT_REGULAR, 13.0f},
        {&DrawingResources::headingFormat, DWRITE_FONT_WEIGHT_SEMI_BOLD, 14.0f},
        {&DrawingResources::smallFormat, DWRITE_FONT_WEIGHT_REGULAR, 11.5f},
        {&DrawingResources::labelFormat, DWRITE_FONT_WEIGHT_BOLD, 10.5f},
    };
    for (const FormatSpec& entry : specs) {
        ComPtr<IDWriteTextFormat>& format = resources.*entry.field;
        format.Reset();
        if (!resources.writeFactory) continue;
        resources.writeFactory->CreateTextFormat(L"Segoe UI", nullptr, entry.weight, DWRITE_FONT_STYLE_NORMAL,
                                                 DWRITE_FONT_STRETCH_NORMAL, entry.size * scale, L"en-us",
                                                 format.Put());
        if (format) format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    }
    resources.iconFormat.Reset();
    if (resources.writeFactory) CreateIconFormat(resources, scale);
}

bool EnsureDeviceResources(DeviceResources& device, ID2D1Factory* factory, HWND window, D2D1_SIZE_U size) {
    if (device.renderTarget && device.brush) return true;
    device.brush.Reset();
    device.renderTarget.Reset();
    if (factory == nullptr) return false;
    // At 96 DPI one drawing unit is one physical pixel; the layout scales itself by the window's scale.
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN), 96.0f, 96.0f);
    const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties = D2D1::HwndRenderTargetProperties(window, size);
    if (FAILED(factory->CreateHwndRenderTarget(&properties, &windowProperties, device.renderTarget.Put())) ||
        !CreatePaintBrush(*device.renderTarget.get(), device.brush)) {
        device.brush.Reset();
        device.renderTarget.Reset();
        return false;
    }
    device.renderTarget->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
    return true;
}

bool CreatePaintBrush(ID2D1RenderTarget& target, ComPtr<ID2D1SolidColorBrush>& brush) {
    brush.Reset();
    if (FAILED(target.CreateSolidColorBrush(MakeColor(Palette::Text), brush.Put()))) {
        brush.Reset();
        return false;
    }
    return true;
}

PaintContext MakePaintContext(const DrawingResources& resources, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush,
                              float scale) {
    PaintContext context;
    context.target = target;
    context.brush = brush;
    context.writeFactory = resources.writeFactory.get();
    context.titleFormat = resources.titleFormat.get();
    context.buttonFormat = resources.buttonFormat.get();
    context.bodyFormat = resources.bodyFormat.get();
    context.headingFormat = resources.headingFormat.get();
    context.smallFormat = resources.smallFormat.get();
    context.labelFormat = resources.labelFormat.get();
    context.iconFormat = resources.iconFormat.get();
    context.scale = scale;
    return context;
}

} // namespace Velotrix
