#include "Window/UiaProvider.h"

#include <oleauto.h>

#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <tuple>
#include <utility>

#include "Platform/ProcAddress.h"
#include "Window/UiaPatterns.h"

namespace Velotrix {

struct AccessShared {
    HWND hwnd = nullptr; // null once the window is gone
    AccessSeam seam;
    std::vector<AccessItem> items;
    int focusRegion = -1;
    // The root as the elements hand it out; borrowed: the UiaProvider owns it. Null once detached.
    IRawElementProviderFragment* rootFragment = nullptr;
    IRawElementProviderFragmentRoot* root = nullptr;
};

namespace {

struct UiaFunctions {
    using ReturnProvider = LRESULT(WINAPI*)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*);
    using HostProvider = HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**);
    using RaiseEvent = HRESULT(WINAPI*)(IRawElementProviderSimple*, EVENTID);
    using RaiseProperty = HRESULT(WINAPI*)(IRawElementProviderSimple*, PROPERTYID, VARIANT, VARIANT);
    using RaiseStructure = HRESULT(WINAPI*)(IRawElementProviderSimple*, int, int*, int);
    using Listening = BOOL(WINAPI*)();
    using Disconnect = HRESULT(WINAPI*)(IRawElementProviderSimple*);
    using RaiseNotification = HRESULT(WINAPI*)(IRawElementProviderSimple*, int, int, BSTR, BSTR);

    ReturnProvider returnProvider = nullptr;
    HostProvider hostProvider = nullptr;
    RaiseEvent raiseEvent = nullptr;
    RaiseProperty raiseProperty = nullptr;
    RaiseStructure raiseStructure = nullptr;
    Listening listening = nullptr;
    Disconnect disconnect = nullptr;         // Windows 8 and later
    RaiseNotification raiseNotice = nullptr; // Windows 10 1709 and later; Wine 8 lacks it
};

const UiaFunctions& Uia() {
    static const UiaFunctions functions = [] {
        UiaFunctions found;
        // Stays loaded: clients may hold our providers through it until the process ends.
        HMODULE core = LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        found.returnProvider = LookupFunction<UiaFunctions::ReturnProvider>(core, "UiaReturnRawElementProvider");
        found.hostProvider = LookupFunction<UiaFunctions::HostProvider>(core, "UiaHostProviderFromHwnd");
        found.raiseEvent = LookupFunction<UiaFunctions::RaiseEvent>(core, "UiaRaiseAutomationEvent");
        found.raiseProperty =
            LookupFunction<UiaFunctions::RaiseProperty>(core, "UiaRaiseAutomationPropertyChangedEvent");
        found.raiseStructure = LookupFunction<UiaFunctions::RaiseStructure>(core, "UiaRaiseStructureChangedEvent");
        found.listening = LookupFunction<UiaFunctions::Listening>(core, "UiaClientsAreListening");
        found.disconnect = LookupFunction<UiaFunctions::Disconnect>(core, "UiaDisconnectProvider");
        found.raiseNotice = LookupFunction<UiaFunctions::RaiseNotification>(core, "UiaRaiseNotificationEvent");
        return found;
    }();
    return functions;
}

const AccessItem* ItemOf(const AccessShared& shared, const AccessKey& key) {
    if (shared.hwnd == nullptr) return nullptr;
    const int index = FindAccessItem(shared.items, key);
    return index < 0 ? nullptr : &shared.items[static_cast<std::size_t>(index)];
}

int ControlTypeOf(AccessRole role) {
    switch (role) {
    case AccessRole::Button:
        return UiaButtonControlType;
    case AccessRole::Toggle:
        return UiaCheckBoxControlType;
    case AccessRole::Link:
        return UiaHyperlinkControlType;
    case AccessRole::Group:
        return UiaGroupControlType;
    case AccessRole::Text:
        break;
    }
    return UiaTextControlType;
}

bool IsControl(const AccessItem& item) { return item.region >= 0; }

// `box` in client pixels as screen pixels, where UI Automation wants every rectangle.
UiaRect ScreenRect(HWND hwnd, const ClickRect& box) {
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    return UiaRect{origin.x + static_cast<double>(box.x), origin.y + static_cast<double>(box.y),
                   static_cast<double>(box.width), static_cast<double>(box.height)};
}

HRESULT PutString(VARIANT* out, const std::wstring& text) {
    out->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
}

void PutInt(VARIANT* out, int value) {
    out->vt = VT_I4;
    out->lVal = value;
}

void PutBool(VARIANT* out, bool value) {
    out->vt = VT_BOOL;
    out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The ref count every provider here shares; a COM object deletes itself at its last Release.
class RefCount {
public:
    ULONG Add() { return ++count; }
    ULONG Drop() { return --count; }

private:
    std::atomic<ULONG> count{1};
};

// The QueryInterface of every provider here, which differ only in the interfaces they list; the
// first one listed stands for IUnknown.
template <typename... Interfaces, typename Self>
HRESULT QueryAmong(Self* self, REFIID id, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    if (id == __uuidof(IUnknown)) *out = static_cast<First*>(self);
    ((*out == nullptr && id == __uuidof(Interfaces) ? (*out = static_cast<Interfaces*>(self)) : nullptr), ...);
    if (*out == nullptr) return E_NOINTERFACE;
    self->AddRef();
    return S_OK;
}

// Every element lives in this process, and UI Automation calls it through COM's threading rules.
HRESULT ServerSideOptions(ProviderOptions* out) {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<ProviderOptions>(ProviderOptions_ServerSideProvider | ProviderOptions_UseComThreading);
    return S_OK;
}

IRawElementProviderFragment* NewElement(const std::shared_ptr<AccessShared>& shared, int index);

// Navigate's directions are the tree's steps, in the same order.
static_assert(static_cast<int>(AccessStep::Parent) == NavigateDirection_Parent &&
              static_cast<int>(AccessStep::NextSibling) == NavigateDirection_NextSibling &&
              static_cast<int>(AccessStep::PreviousSibling) == NavigateDirection_PreviousSibling &&
              static_cast<int>(AccessStep::FirstChild) == NavigateDirection_FirstChild &&
              static_cast<int>(AccessStep::LastChild) == NavigateDirection_LastChild);

class ElementProvider final : public IRawElementProviderSimple,
                              public IRawElementProviderFragment,
                              public IInvokeProvider,
                              public IToggleProvider {
public:
    ElementProvider(std::shared_ptr<AccessShared> shared, const AccessKey& key) : shared(std::move(shared)), key(key) {}
    ElementProvider(const ElementProvider&) = delete;
    ElementProvider& operator=(const ElementProvider&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        return QueryAmong<IRawElementProviderSimple, IRawElementProviderFragment, IInvokeProvider, IToggleProvider>(
            this, id, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs.Drop();
        if (left == 0) delete this;
        return left;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override { return ServerSideOptions(out); }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        const bool invokes = item->role == AccessRole::Button || item->role == AccessRole::Link;
        if (pattern == UIA_InvokePatternId && invokes) *out = static_cast<IInvokeProvider*>(this);
        if (pattern == UIA_TogglePatternId && item->role == AccessRole::Toggle)
            *out = static_cast<IToggleProvider*>(this);
        if (*out != nullptr) AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        switch (property) {
        case UIA_NamePropertyId:
            return PutString(out, item->name);
        case UIA_HelpTextPropertyId:
            return item->help.empty() ? S_OK : PutString(out, item->help);
        case UIA_ControlTypePropertyId:
            PutInt(out, ControlTypeOf(item->role));
            return S_OK;
        case UIA_IsKeyboardFocusablePropertyId:
            PutBool(out, IsControl(*item));
            return S_OK;
        case UIA_HasKeyboardFocusPropertyId:
            PutBool(out, IsControl(*item) && item->region == shared->focusRegion);
            return S_OK;
        case UIA_IsEnabledPropertyId:
            PutBool(out, true);
            return S_OK;
        case UIA_ToggleToggleStatePropertyId:
            if (item->role == AccessRole::Toggle) PutInt(out, item->on ? UiaToggleOn : UiaToggleOff);
            return S_OK;
        default:
            return S_OK; // VT_EMPTY: UI Automation's default for the property
        }
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr; // only the root stands for a window
        return S_OK;
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction, IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const int from = shared->hwnd == nullptr ? -1 : FindAccessItem(shared->items, key);
        if (from < 0) return UiaElementNotAvailable;
        const int to = StepThroughAccessTree(shared->items, from, static_cast<AccessStep>(direction));
        if (to == AccessPage) {
            *out = shared->rootFragment;
            (*out)->AddRef();
        } else if (to >= 0) {
            *out = NewElement(shared, to);
            if (*out == nullptr) return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (ItemOf(*shared, key) == nullptr) return UiaElementNotAvailable;
        // Unique under the window's own id, which UiaAppendRuntime asks UI Automation to put first.
        const LONG parts[] = {UiaAppendRuntime, key.kind, key.a, key.b, key.c};
        SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(std::size(parts)));
        if (array == nullptr) return E_OUTOFMEMORY;
        for (LONG i = 0; i < static_cast<LONG>(std::size(parts)); ++i) {
            LONG part = parts[i];
            SafeArrayPutElement(array, &i, &part);
        }
        *out = array;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        if (out == nullptr) return E_POINTER;
        *out = UiaRect{};
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        *out = ScreenRect(shared->hwnd, item->box);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override {
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        if (IsControl(*item) && shared->seam.focus) shared->seam.focus(item->region);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (out == nullptr) return E_POINTER;
        *out = shared->root;
        if (*out == nullptr) return UiaElementNotAvailable;
        (*out)->AddRef();
        return S_OK;
    }

    // IInvokeProvider
    HRESULT STDMETHODCALLTYPE Invoke() override { return Run(AccessRole::Button, AccessRole::Link); }

    // IToggleProvider
    HRESULT STDMETHODCALLTYPE Toggle() override { return Run(AccessRole::Toggle, AccessRole::Toggle); }
    HRESULT STDMETHODCALLTYPE get_ToggleState(int* out) override {
        if (out == nullptr) return E_POINTER;
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        *out = item->on ? UiaToggleOn : UiaToggleOff;
        return S_OK;
    }

private:
    ~ElementProvider() = default;

    HRESULT Run(AccessRole one, AccessRole other) {
        const AccessItem* item = ItemOf(*shared, key);
        if (item == nullptr) return UiaElementNotAvailable;
        if (item->role != one && item->role != other) return UiaInvalidOperation;
        if (shared->seam.invoke) shared->seam.invoke(item->region);
        return S_OK;
    }

    RefCount refs;
    const std::shared_ptr<AccessShared> shared;
    const AccessKey key;
};

IRawElementProviderFragment* NewElement(const std::shared_ptr<AccessShared>& shared, int index) {
    auto* element = new (std::nothrow) ElementProvider(shared, shared->items[static_cast<std::size_t>(index)].key);
    return element;
}

class RootProvider final : public IRawElementProviderSimple,
                           public IRawElementProviderFragment,
                           public IRawElementProviderFragmentRoot {
public:
    explicit RootProvider(std::shared_ptr<AccessShared> shared) : shared(std::move(shared)) {}
    RootProvider(const RootProvider&) = delete;
    RootProvider& operator=(const RootProvider&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        return QueryAmong<IRawElementProviderSimple, IRawElementProviderFragment, IRawElementProviderFragmentRoot>(
            this, id, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs.Drop();
        if (left == 0) delete this;
        return left;
    }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* out) override { return ServerSideOptions(out); }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return shared->hwnd == nullptr ? UiaElementNotAvailable : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        // The window's own name, type and place come from its host provider.
        return shared->hwnd == nullptr ? UiaElementNotAvailable : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (shared->hwnd == nullptr) return UiaElementNotAvailable;
        return Uia().hostProvider == nullptr ? S_OK : Uia().hostProvider(shared->hwnd, out);
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction, IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (shared->hwnd == nullptr) return UiaElementNotAvailable;
        // The window's parent and siblings are the desktop's business.
        const int to = StepThroughAccessTree(shared->items, AccessPage, static_cast<AccessStep>(direction));
        if (to < 0) return S_OK;
        *out = NewElement(shared, to);
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr; // a root over a window gets the window's
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* out) override {
        if (out == nullptr) return E_POINTER;
        *out = UiaRect{}; // the host provider gives the window's
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** out) override {
        if (out == nullptr) return E_POINTER;
        *out = this;
        AddRef();
        return S_OK;
    }

    // IRawElementProviderFragmentRoot
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y, IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (shared->hwnd == nullptr) return UiaElementNotAvailable;
        POINT origin{0, 0};
        ClientToScreen(shared->hwnd, &origin);
        const auto cx = static_cast<float>(x - origin.x), cy = static_cast<float>(y - origin.y);
        // The last that holds the point is the innermost: a group's children follow it.
        for (int i = static_cast<int>(shared->items.size()) - 1; i >= 0; --i) {
            if (!Contains(shared->items[static_cast<std::size_t>(i)].box, cx, cy)) continue;
            *out = NewElement(shared, i);
            return *out == nullptr ? E_OUTOFMEMORY : S_OK;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (shared->hwnd == nullptr) return UiaElementNotAvailable;
        const int focused = FocusedAccessItem(shared->items, shared->focusRegion);
        if (focused < 0) return S_OK;
        *out = NewElement(shared, focused);
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    ~RootProvider() = default;

    RefCount refs;
    const std::shared_ptr<AccessShared> shared;
};

// Raises `event` on items[index]'s element.
void RaiseOn(const std::shared_ptr<AccessShared>& shared, int index, EVENTID event) {
    const ComPtr<IRawElementProviderFragment> element(NewElement(shared, index));
    ComPtr<IRawElementProviderSimple> simple;
    if (!element ||
        FAILED(element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))))
        return;
    Uia().raiseEvent(simple.get(), event);
}

} // namespace

UiaProvider::UiaProvider() = default;

UiaProvider::~UiaProvider() { Detach(); }

bool UiaProvider::Attach(HWND hwnd, AccessSeam seam) {
    try {
        shared = std::make_shared<AccessShared>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    shared->hwnd = hwnd;
    shared->seam = std::move(seam);
    auto* made = new (std::nothrow) RootProvider(shared);
    if (made == nullptr) {
        shared.reset();
        return false;
    }
    root = made;
    shared->rootFragment = made;
    shared->root = made;
    return true;
}

bool UiaProvider::OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result) const {
    // The object id is a 32-bit value that may come sign-extended or not.
    if (root == nullptr || static_cast<LONG>(lParam) != UiaRootObject || Uia().returnProvider == nullptr) return false;
    result = Uia().returnProvider(shared->hwnd, wParam, lParam, root);
    return true;
}

void UiaProvider::Update(std::vector<AccessItem> items, int focusRegion) {
    if (!shared) return;
    const AccessChanges changes = CompareAccessTrees(shared->items, items);
    const int focusWas = FocusedAccessItem(shared->items, shared->focusRegion);
    const AccessKey focusKeyWas = focusWas < 0 ? AccessKey{} : shared->items[static_cast<std::size_t>(focusWas)].key;
    std::vector<AccessItem> before = std::exchange(shared->items, std::move(items));
    shared->focusRegion = focusRegion;

    const UiaFunctions& uia = Uia();
    if (uia.raiseEvent == nullptr || uia.listening == nullptr || !uia.listening()) return;
    if (changes.structure && uia.raiseStructure != nullptr)
        uia.raiseStructure(root, UiaChildrenInvalidated, nullptr, 0);
    for (const int index : changes.renamed) {
        const AccessItem& now = shared->items[static_cast<std::size_t>(index)];
        const AccessItem& old = before[static_cast<std::size_t>(FindAccessItem(before, now.key))];
        VARIANT oldName, newName;
        VariantInit(&oldName);
        VariantInit(&newName);
        const ComPtr<IRawElementProviderFragment> element(NewElement(shared, index));
        ComPtr<IRawElementProviderSimple> simple;
        if (element && uia.raiseProperty != nullptr && SUCCEEDED(PutString(&oldName, old.name)) &&
            SUCCEEDED(PutString(&newName, now.name)) &&
            SUCCEEDED(
                element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))))
            uia.raiseProperty(simple.get(), UIA_NamePropertyId, oldName, newName);
        VariantClear(&oldName);
        VariantClear(&newName);
    }
    for (const int index : changes.toggled) {
        const bool on = shared->items[static_cast<std::size_t>(index)].on;
        VARIANT oldState, newState;
        PutInt(&oldState, on ? UiaToggleOff : UiaToggleOn);
        PutInt(&newState, on ? UiaToggleOn : UiaToggleOff);
        const ComPtr<IRawElementProviderFragment> element(NewElement(shared, index));
        ComPtr<IRawElementProviderSimple> simple;
        if (element && uia.raiseProperty != nullptr &&
            SUCCEEDED(
                element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))))
            uia.raiseProperty(simple.get(), UIA_ToggleToggleStatePropertyId, oldState, newState);
    }
    for (const int index : changes.announced) {
        // Narrator reads a notification as it comes; where there is none, a system alert on the
        // phone's card.
        const std::wstring text = AnnouncementOf(shared->items, index);
        BSTR said = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        BSTR activity = SysAllocString(L"PhoneWaiting");
        ComPtr<IRawElementProviderSimple> simple;
        const ComPtr<IRawElementProviderFragment> element(NewElement(shared, index));
        if (uia.raiseNotice != nullptr && said != nullptr && activity != nullptr && element &&
            SUCCEEDED(
                element->QueryInterface(__uuidof(IRawElementProviderSimple), reinterpret_cast<void**>(simple.Put()))))
            uia.raiseNotice(simple.get(), UiaNotificationItemAdded, UiaNotificationImportantAll, said, activity);
        else
            RaiseOn(shared, index, UiaSystemAlertEvent);
        SysFreeString(said);
        SysFreeString(activity);
    }
    // Only the window with the system's focus may move a screen reader's.
    const int focused = GetFocus() == shared->hwnd ? FocusedAccessItem(shared->items, shared->focusRegion) : -1;
    if (focused >= 0 && (focusWas < 0 || !(shared->items[static_cast<std::size_t>(focused)].key == focusKeyWas)))
        RaiseOn(shared, focused, UiaFocusChangedEvent);
}

void UiaProvider::Detach() {
    if (!shared) return;
    const UiaFunctions& uia = Uia();
    // Windows then asks no more of this window's root...
    if (shared->hwnd != nullptr && uia.returnProvider != nullptr) uia.returnProvider(shared->hwnd, 0, 0, nullptr);
    // ...and clients holding its elements are let go of them.
    if (uia.disconnect != nullptr) uia.disconnect(root);
    shared->hwnd = nullptr;
    shared->items.clear();
    shared->root = nullptr;
    shared->rootFragment = nullptr;
    shared.reset();
    root->Release();
    root = nullptr;
}

ComPtr<IRawElementProviderSimple> UiaProvider::Root() const {
    if (root != nullptr) root->AddRef();
    return ComPtr<IRawElementProviderSimple>(root);
}

} // namespace Velotrix
