#include "Share/Share.h"

#include <shobjidl.h>

#include <cstring>
#include <cwctype>
#include <utility>

#include "Shell/TextConversion.h"
#include "Shell/Log.h"
#include "Platform/ComPtr.h"
#include "Platform/ProcAddress.h"
#include "Common/Links.h"

namespace Velotrix {

namespace {

// The Windows Runtime's string and activation functions, looked up in combase.dll when first needed:
// a static import would need an import library that the toolchain does not link by default, and
// Windows has had these since 8, so the lookup only fails on a broken system (or an old Wine).
struct RuntimeFunctions {
    using GetActivationFactory = HRESULT(WINAPI*)(HSTRING, REFIID, void**);
    using CreateString = HRESULT(WINAPI*)(LPCWSTR, UINT32, HSTRING*);
    using DeleteString = HRESULT(WINAPI*)(HSTRING);

    GetActivationFactory getActivationFactory = nullptr;
    CreateString createString = nullptr;
    DeleteString deleteString = nullptr;
    HRESULT status = S_OK; // why they are missing
};

const RuntimeFunctions& Runtime() {
    static const RuntimeFunctions functions = [] {
        RuntimeFunctions found;
        // Stays loaded: the factory and the manager below live as long as the process.
        HMODULE combase = LoadSystemLibrary(L"combase.dll");
        found.getActivationFactory =
            LookupFunction<RuntimeFunctions::GetActivationFactory>(combase, "RoGetActivationFactory");
        found.createString = LookupFunction<RuntimeFunctions::CreateString>(combase, "WindowsCreateString");
        found.deleteString = LookupFunction<RuntimeFunctions::DeleteString>(combase, "WindowsDeleteString");
        if (found.getActivationFactory == nullptr || found.createString == nullptr || found.deleteString == nullptr) {
            found.status = HRESULT_FROM_WIN32(GetLastError());
            if (SUCCEEDED(found.status)) found.status = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        }
        return found;
    }();
    return functions;
}

class HString {
public:
    HString() = default;
    ~HString() {
        if (value != nullptr) Runtime().deleteString(value);
    }
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;

    [[nodiscard]] HRESULT Assign(const std::wstring& text) {
        if (FAILED(Runtime().status)) return Runtime().status;
        HSTRING made = nullptr;
        const HRESULT result = Runtime().createString(text.c_str(), static_cast<UINT32>(text.size()), &made);
        if (FAILED(result)) return result;
        if (value != nullptr) Runtime().deleteString(value);
        value = made;
        return S_OK;
    }
    HSTRING get() const { return value; }

private:
    HSTRING value = nullptr;
};

HRESULT GetFactory(const wchar_t* className, REFIID iid, void** factory) {
    *factory = nullptr;
    HString name;
    const HRESULT made = name.Assign(className);
    if (FAILED(made)) return made;
    return Runtime().getActivationFactory(name.get(), iid, factory);
}

ComPtr<IUriRuntimeClass> MakeUri(const wchar_t* address) {
    ComPtr<IUriRuntimeClassFactory> factory;
    if (FAILED(GetFactory(UriClass, IID_IUriRuntimeClassFactory, reinterpret_cast<void**>(factory.Put()))) ||
        !factory) {
        return {};
    }
    HString text;
    if (FAILED(text.Assign(address))) return {};
    ComPtr<IUriRuntimeClass> uri;
    if (FAILED(factory->CreateUri(text.get(), uri.Put()))) return {};
    return uri;
}

// Registered once and never removed, so it lives as long as the process: its reference count only
// has to keep COM's rules, not free anything.
class DataRequestedHandler : public IDataRequestedHandler {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_DataRequestedHandler) ||
            IsEqualGUID(iid, IID_AgileObject)) {
            *object = static_cast<IDataRequestedHandler*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Invoke(IDataTransferManager*, IDataRequestedEventArgs* args) override {
        return FillShareRequest(args);
    }
};

DataRequestedHandler dataRequestedHandler;

// Made on first use and kept until EndSharing, which runs before COM is uninitialised: a release at
// static destruction would come too late.
struct ShareState {
    ComPtr<IDataTransferManagerInterop> interop;
    ComPtr<IDataTransferManager> manager;
};
ShareState share;

std::string SystemMessage(HRESULT code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (buffer != nullptr) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    // System messages end in a line break, which would split the log line.
    while (!text.empty() && std::iswspace(static_cast<wint_t>(text.back()))) text.pop_back();
    return ToUtf8(text);
}

bool ShareFailed(HRESULT code) {
    Log("Share sheet: 0x%08x %s", static_cast<unsigned>(code), SystemMessage(code).c_str());
    return false;
}

} // namespace

std::wstring ShareText() {
    return std::wstring(L"Velotrix turns an iPhone into a racing wheel and gamepad for PC games.\n\niPhone app: ") +
           StoreLinkWide + L"\nWindows app: " + WebLinkWide;
}

std::wstring LinkCopiedText() {
    return std::wstring(WebLinkWide) + L" is on the clipboard: paste it into a message or an email.";
}

bool ShareLinks(HWND window) {
    if (!share.interop) {
        const HRESULT activated = GetFactory(DataTransferManagerClass, __uuidof(IDataTransferManagerInterop),
                                             reinterpret_cast<void**>(share.interop.Put()));
        if (FAILED(activated)) {
            share.interop.Reset();
            return ShareFailed(activated);
        }
    }

    if (!share.manager) {
        ComPtr<IDataTransferManager> manager;
        const HRESULT obtained =
            share.interop->GetForWindow(window, IID_IDataTransferManager, reinterpret_cast<void**>(manager.Put()));
        if (FAILED(obtained)) return ShareFailed(obtained);
        EventRegistrationToken token{};
        const HRESULT added = manager->add_DataRequested(&dataRequestedHandler, &token);
        // Not kept on failure: the next click asks for the manager again and adds the handler to it then.
        if (FAILED(added)) return ShareFailed(added);
        share.manager = std::move(manager);
    }

    const HRESULT shown = share.interop->ShowShareUIForWindow(window);
    if (FAILED(shown)) return ShareFailed(shown);
    return true;
}

HRESULT FindShareSheet() {
    ComPtr<IDataTransferManagerInterop> interop;
    return GetFactory(DataTransferManagerClass, __uuidof(IDataTransferManagerInterop),
                      reinterpret_cast<void**>(interop.Put()));
}

void EndSharing() {
    share.manager.Reset();
    share.interop.Reset();
}

HRESULT FillShareRequest(IDataRequestedEventArgs* args) {
    if (args == nullptr) return E_POINTER;
    ComPtr<IDataRequest> request;
    HRESULT result = args->get_Request(request.Put());
    if (FAILED(result)) return result;
    if (!request) return E_POINTER;
    ComPtr<IDataPackage> package;
    result = request->get_Data(package.Put());
    if (FAILED(result)) return result;
    if (!package) return E_POINTER;
    ComPtr<IDataPackagePropertySet> properties;
    result = package->get_Properties(properties.Put());
    if (FAILED(result)) return result;
    if (!properties) return E_POINTER;

    // Each item that fails is left out; the sheet still gets the others.
    HString title;
    if (SUCCEEDED(title.Assign(ShareTitle))) properties->put_Title(title.get());
    HString description;
    if (SUCCEEDED(description.Assign(ShareDescription))) properties->put_Description(description.get());
    ComPtr<IDataPackage2> linkPackage;
    if (SUCCEEDED(package->QueryInterface(IID_IDataPackage2, reinterpret_cast<void**>(linkPackage.Put()))) &&
        linkPackage) {
        if (ComPtr<IUriRuntimeClass> uri = MakeUri(WebLinkWide)) linkPackage->SetWebLink(uri.get());
    }
    HString text;
    if (SUCCEEDED(text.Assign(ShareText()))) package->SetText(text.get());
    return S_OK;
}

bool CopyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            // Once taken, the memory is the clipboard's; until then it is still ours to free.
            if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
    return true;
}

} // namespace Velotrix
