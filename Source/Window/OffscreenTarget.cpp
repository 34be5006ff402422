#include "Window/OffscreenTarget.h"

#include <dxgi.h>

namespace Velotrix {

HRESULT CreateTextureTarget(ID2D1Factory* factory, UINT width, UINT height, OffscreenTarget& out) {
    out = OffscreenTarget{};
    HRESULT hr = E_FAIL;
    // Direct2D draws only on a device made with BGRA support.
    for (const D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
        hr = D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                               out.device.Put(), nullptr, nullptr);
        if (SUCCEEDED(hr)) {
            out.kind = type == D3D_DRIVER_TYPE_HARDWARE ? L"a Direct3D 11 texture (hardware)"
                                                        : L"a Direct3D 11 texture (WARP, in software)";
            break;
        }
    }
    if (FAILED(hr)) return hr;

    D3D11_TEXTURE2D_DESC description{};
    description.Width = width;
    description.Height = height;
    description.MipLevels = 1;
    description.ArraySize = 1;
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    hr = out.device->CreateTexture2D(&description, nullptr, out.texture.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IDXGISurface> surface;
    hr = out.texture->QueryInterface(__uuidof(IDXGISurface), reinterpret_cast<void**>(surface.Put()));
    if (FAILED(hr)) return hr;
    // Opaque, as the window's own target is, so that text gets ClearType as it does there.
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), 96.0f,
        96.0f);
    hr = factory->CreateDxgiSurfaceRenderTarget(surface.get(), &properties, out.target.Put());
    if (FAILED(hr)) return hr;
    out.target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
    return S_OK;
}

HRESULT CreateBitmapTarget(IWICImagingFactory* wic, ID2D1Factory* factory, UINT width, UINT height,
                           OffscreenTarget& out) {
    out = OffscreenTarget{};
    HRESULT hr =
        wic->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, out.bitmap.Put());
    if (FAILED(hr)) return hr;
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
        96.0f, 96.0f);
    hr = factory->CreateWicBitmapRenderTarget(out.bitmap.get(), &properties, out.target.Put());
    if (FAILED(hr)) return hr;
    out.target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
    out.kind = L"a WIC bitmap (in software)";
    return S_OK;
}

} // namespace Velotrix
