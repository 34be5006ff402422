#pragma once

// The Direct2D and DirectWrite objects a paint draws with, in the two lifetimes Direct2D gives them:
// the factories and text formats live as long as the window (the formats are made again for a new
// scale), the render target and its brush belong to a device and are made again after it is lost.
// The window and the paint tests make them through the same functions.

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include "Platform/ComPtr.h"
#include "Window/Page.h"

namespace Velotrix {

struct DrawingResources {
    ComPtr<ID2D1Factory> d2dFactory;
    ComPtr<IDWriteFactory> writeFactory;
    ComPtr<IDWriteTextFormat> titleFormat;
    ComPtr<IDWriteTextFormat> buttonFormat;
    ComPtr<IDWriteTextFormat> bodyFormat;
    ComPtr<IDWriteTextFormat> headingFormat;
    ComPtr<IDWriteTextFormat> smallFormat;
    ComPtr<IDWriteTextFormat> labelFormat;
    ComPtr<IDWriteTextFormat> iconFormat; // null without an icon font
};

struct DeviceResources {
    ComPtr<ID2D1HwndRenderTarget> renderTarget;
    ComPtr<ID2D1SolidColorBrush> brush;
};

// Makes the single-threaded Direct2D factory, the shared DirectWrite factory and the seven text formats
// for `scale`. False when a factory cannot be made; what could be made is kept.
[[nodiscard]] bool CreateDeviceIndependentResources(DrawingResources& resources, float scale);
// Releases and re-creates the seven text formats for `scale`. A format DirectWrite refuses stays null;
// iconFormat stays null when neither icon font is installed.
void CreateTextFormats(DrawingResources& resources, float scale);

// Makes the window's render target (96 DPI, so one unit is one pixel) and its brush when they are
// missing. False when either cannot be made; both are then null and the next call tries again.
[[nodiscard]] bool EnsureDeviceResources(DeviceResources& device, ID2D1Factory* factory, HWND window, D2D1_SIZE_U size);
// The one brush a paint draws with, in the colour of plain text, made on any render target.
[[nodiscard]] bool CreatePaintBrush(ID2D1RenderTarget& target, ComPtr<ID2D1SolidColorBrush>& brush);

// A paint's context over these resources; the pointers are borrowed for the paint.
PaintContext MakePaintContext(const DrawingResources& resources, ID2D1RenderTarget* target, ID2D1SolidColorBrush* brush,
                              float scale);

} // namespace Velotrix
