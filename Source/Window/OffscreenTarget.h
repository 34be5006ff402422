#pragma once

// Render targets that draw into memory instead of a window: a Direct3D 11 texture, on the GPU where
// there is one (what the window's own target uses on Windows), and a WIC bitmap, always in software,
// whose pixels can be read back. The self-check times the page on them, the paint tests look at it.

#include <windows.h>
#include <d2d1.h>
#include <d3d11.h>
#include <wincodec.h>

#include <string>

#include "Platform/ComPtr.h"

namespace Velotrix {

struct OffscreenTarget {
    ComPtr<ID3D11Device> device; // null for a WIC bitmap
    ComPtr<ID3D11Texture2D> texture;
    ComPtr<IWICBitmap> bitmap; // null for a texture
    ComPtr<ID2D1RenderTarget> target;
    std::wstring kind; // in words, for the self-check's line
};

// A `width` × `height` Direct3D 11 texture with a Direct2D target over it at 96 DPI, on the hardware
// device, else on WARP. The failing result when neither can be had.
[[nodiscard]] HRESULT CreateTextureTarget(ID2D1Factory* factory, UINT width, UINT height, OffscreenTarget& out);

// A `width` × `height` WIC bitmap (32bpp premultiplied BGRA) with a Direct2D target over it at 96 DPI.
// A bitmap with alpha cannot take ClearType, so its text is antialiased in grey. The failing result.
[[nodiscard]] HRESULT CreateBitmapTarget(IWICImagingFactory* wic, ID2D1Factory* factory, UINT width, UINT height,
                                         OffscreenTarget& out);

} // namespace Velotrix
