// Sharing the links. Wine has no share sheet, so a click on "Share" takes the clipboard fallback here;
// what the sheet would be filled with is checked with a request whose package records what is set.

#include "Share/Share.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CommandsHarness.h"
#include "Platform/ComApartment.h"
#include "Platform/ProcAddress.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "Window/MainWindow.h"

namespace Velotrix {
namespace {

const std::wstring WebLink = L"https://velotrix.app";
const std::wstring StoreLink = L"https://apps.apple.com/app/id6741239571";

std::optional<std::wstring> ReadClipboard() {
    if (!OpenClipboard(nullptr)) return std::nullopt;
    std::optional<std::wstring> text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = std::wstring(chars);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

class ShareTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        server = std::make_unique<Server>();
        window = std::make_unique<MainWindow>(MainWindowSetup{.server = *server, .settings = settings});
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), false));
        ASSERT_TRUE(tray.Ready());
        ASSERT_TRUE(CopyToClipboard(nullptr, L"something the user copied"));
    }

    void TearDown() override {
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    // Clicks "Share"; answers how many "Share sheet:" failures are logged so far.
    std::size_t ClickShare() {
        EXPECT_TRUE(ClickOn(*window, ClickAction::ShareAppLinks));
        std::size_t failures = 0;
        for (const std::string& line : logs.Lines())
            failures += std::regex_match(line, std::regex("Share sheet: 0x[89a-f][0-9a-f]{7} .*")) ? 1 : 0;
        return failures;
    }

    // As the program runs: a single-threaded apartment on the user-interface thread, kept until
    // everything below is gone.
    ComApartment com{COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE};
    TrayRecorder tray;
    LogCapture logs;
    Settings settings;
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
};

TEST_F(ShareTest, WithoutAShareSheetTheWebLinkIsCopiedAndABalloonSaysSo) {
    const std::wstring balloonText = WebLink + L" is on the clipboard: paste it into a message or an email.";
    for (int click = 1; click <= 2; ++click) {
        EXPECT_EQ(ClickShare(), static_cast<std::size_t>(click)) << "the failure is logged with its code";
        EXPECT_EQ(ReadClipboard(), std::optional<std::wstring>(WebLink));
        EXPECT_EQ(tray.Balloons(L"Link copied", balloonText), click);
    }
}

TEST_F(ShareTest, AClipboardHeldElsewhereEndsTheCommandWithoutABalloon) {
    // Another thread has the clipboard open for the whole click.
    const UniqueHandle opened(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool holderOpened = false;
    std::thread holder([&] {
        holderOpened = OpenClipboard(nullptr) != FALSE;
        SetEvent(opened.get());
        WaitForSingleObject(release.get(), 30'000);
        if (holderOpened) CloseClipboard();
    });
    WaitForSingleObject(opened.get(), 30'000);
    tray.calls.clear();

    const std::size_t failures = ClickShare();

    SetEvent(release.get());
    holder.join();
    ASSERT_TRUE(holderOpened);
    EXPECT_EQ(failures, 1u) << "the share sheet was tried first";
    EXPECT_EQ(tray.Count(NIM_MODIFY), 0) << "no balloon";
    EXPECT_EQ(ReadClipboard(), std::optional<std::wstring>(L"something the user copied"));
}

// combase's functions, looked up as the program does.
template <typename Function>
Function Combase(const char* name) {
    return LookupFunction<Function>(LoadSystemLibrary(L"combase.dll"), name);
}

std::wstring Text(HSTRING text) {
    static const auto rawBuffer = Combase<PCWSTR(WINAPI*)(HSTRING, UINT32*)>("WindowsGetStringRawBuffer");
    UINT32 length = 0;
    const wchar_t* chars = rawBuffer == nullptr ? nullptr : rawBuffer(text, &length);
    return chars == nullptr ? std::wstring() : std::wstring(chars, length);
}

// Windows.Foundation.Uri's own interface, only as far as its first property.
struct UriView : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) = 0;
};
constexpr GUID IID_UriView = {0x9e365e57, 0x48b2, 0x4160, {0x95, 0x6f, 0xc7, 0x38, 0x51, 0x20, 0xbb, 0xfc}};

std::wstring Text(IUriRuntimeClass* uri) {
    std::wstring text;
    UriView* view = nullptr;
    if (uri != nullptr && SUCCEEDED(uri->QueryInterface(IID_UriView, reinterpret_cast<void**>(&view)))) {
        HSTRING absolute = nullptr;
        if (SUCCEEDED(view->get_AbsoluteUri(&absolute))) text = Text(absolute);
        view->Release();
    }
    return text;
}

// Wine has no Windows.Foundation.Uri; the handler then leaves the web link out.
bool UrisCanBeMade() {
    const auto getFactory = Combase<HRESULT(WINAPI*)(HSTRING, REFIID, void**)>("RoGetActivationFactory");
    const auto createString = Combase<HRESULT(WINAPI*)(LPCWSTR, UINT32, HSTRING*)>("WindowsCreateString");
    const auto deleteString = Combase<HRESULT(WINAPI*)(HSTRING)>("WindowsDeleteString");
    HSTRING name = nullptr;
    if (!getFactory || !createString || !deleteString ||
        FAILED(createString(UriClass, static_cast<UINT32>(std::wcslen(UriClass)), &name))) {
        return false;
    }
    IUnknown* factory = nullptr;
    const bool made = SUCCEEDED(getFactory(name, IID_IUriRuntimeClassFactory, reinterpret_cast<void**>(&factory)));
    if (factory != nullptr) factory->Release();
    deleteString(name);
    return made;
}

using Calls = std::vector<std::pair<std::string, std::wstring>>;

// A method the handler has no business calling: recorded by its name, and answered as not there.
#define UNEXPECTED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return Record(#method, std::wstring(), E_NOTIMPL); }

// The event's arguments, the request, its package and the package's properties in one object on the
// stack: every call is recorded, references are counted by COM's rules, and nothing is freed.
class FakeShare : public IDataRequestedEventArgs,
                  public IDataRequest,
                  public IDataPackage,
                  public IDataPackage2,
                  public IDataPackagePropertySet {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** object) override {
        const std::pair<const GUID*, void*> interfaces[] = {
            {&IID_IUnknown, static_cast<IDataPackage*>(this)},
            {&__uuidof(IInspectable), static_cast<IDataPackage*>(this)},
            {&IID_IDataPackage, static_cast<IDataPackage*>(this)},
            {&IID_IDataPackage2, static_cast<IDataPackage2*>(this)},
            {&IID_IDataRequest, static_cast<IDataRequest*>(this)},
            {&IID_IDataRequestedEventArgs, static_cast<IDataRequestedEventArgs*>(this)},
            {&IID_IDataPackagePropertySet, static_cast<IDataPackagePropertySet*>(this)}};
        *object = nullptr;
        for (const auto& [id, face] : interfaces)
            if (IsEqualGUID(asked, *id)) *object = face;
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }

    HRESULT STDMETHODCALLTYPE get_Request(IDataRequest** value) override { return Hand(value); }
    HRESULT STDMETHODCALLTYPE get_Data(IDataPackage** value) override {
        if (!noPackage) return Hand(value);
        *value = nullptr;
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_Properties(IDataPackagePropertySet** value) override { return Hand(value); }
    HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) override { return Record("title", Text(value)); }
    HRESULT STDMETHODCALLTYPE put_Description(HSTRING value) override { return Record("description", Text(value)); }
    HRESULT STDMETHODCALLTYPE SetWebLink(IUriRuntimeClass* value) override { return Record("web link", Text(value)); }
    HRESULT STDMETHODCALLTYPE SetText(HSTRING value) override { return Record("text", Text(value)); }

    // The macro makes members that the formatter cannot see as such.
    // clang-format off
    UNEXPECTED(GetIids, ULONG*, IID**) UNEXPECTED(GetRuntimeClassName, HSTRING*) UNEXPECTED(GetTrustLevel, TrustLevel*)
    UNEXPECTED(put_Data, IDataPackage*) UNEXPECTED(get_Deadline, INT64*) UNEXPECTED(FailWithDisplayText, HSTRING)
    UNEXPECTED(GetDeferral, IInspectable**) UNEXPECTED(GetView, IInspectable**)
    UNEXPECTED(get_RequestedOperation, UINT32*) UNEXPECTED(put_RequestedOperation, UINT32)
    UNEXPECTED(add_OperationCompleted, IUnknown*, EventRegistrationToken*)
    UNEXPECTED(remove_OperationCompleted, EventRegistrationToken)
    UNEXPECTED(add_Destroyed, IUnknown*, EventRegistrationToken*) UNEXPECTED(remove_Destroyed, EventRegistrationToken)
    UNEXPECTED(SetData, HSTRING, IInspectable*) UNEXPECTED(SetDataProvider, HSTRING, IUnknown*)
    UNEXPECTED(SetUri, IUriRuntimeClass*) UNEXPECTED(SetHtmlFormat, HSTRING) UNEXPECTED(get_ResourceMap, IInspectable**)
    UNEXPECTED(SetRtf, HSTRING) UNEXPECTED(SetBitmap, IInspectable*) UNEXPECTED(SetStorageItemsReadOnly, IInspectable*)
    UNEXPECTED(SetStorageItems, IInspectable*, boolean) UNEXPECTED(SetApplicationLink, IUriRuntimeClass*)
    UNEXPECTED(get_Title, HSTRING*) UNEXPECTED(get_Description, HSTRING*) UNEXPECTED(get_Thumbnail, IInspectable**)
    UNEXPECTED(put_Thumbnail, IInspectable*) UNEXPECTED(get_FileTypes, IInspectable**)
    UNEXPECTED(get_ApplicationName, HSTRING*) UNEXPECTED(put_ApplicationName, HSTRING)
    UNEXPECTED(get_ApplicationListingUri, IUriRuntimeClass**) UNEXPECTED(put_ApplicationListingUri, IUriRuntimeClass*)
        // clang-format on

        Calls calls;
    long references = 1;
    bool noPackage = false;

private:
    template <typename Interface>
    HRESULT Hand(Interface** value) {
        AddRef();
        *value = this;
        return S_OK;
    }
    HRESULT Record(const char* what, const std::wstring& value, HRESULT answer = S_OK) {
        calls.emplace_back(what, value);
        return answer;
    }
};

TEST(ShareRequestTest, FillsTitleDescriptionWebLinkAndTextInThatOrderAndGivesEveryReferenceBack) {
    FakeShare share;
    EXPECT_EQ(FillShareRequest(&share), S_OK);

    const std::wstring text = L"Velotrix turns an iPhone into a racing wheel and gamepad for PC games.\n\n"
                              L"iPhone app: " +
                              StoreLink + L"\nWindows app: " + WebLink;
    Calls expected = {{"title", L"Velotrix"}, {"description", L"An iPhone as a racing wheel for PC games"}};
    if (UrisCanBeMade()) expected.emplace_back("web link", WebLink + L"/");
    expected.emplace_back("text", text);
    EXPECT_EQ(share.calls, expected);
    EXPECT_EQ(share.references, 1);
}

TEST(ShareRequestTest, ARequestWithoutAPackageFailsWithoutSettingAnything) {
    FakeShare share;
    share.noPackage = true;
    EXPECT_EQ(FillShareRequest(&share), E_FAIL);
    EXPECT_TRUE(share.calls.empty());
    EXPECT_EQ(share.references, 1);
    EXPECT_EQ(FillShareRequest(nullptr), E_POINTER);
}

} // namespace
} // namespace Velotrix
