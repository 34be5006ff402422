#pragma once

// The window as UI Automation sees it: a fragment root for the window and one element per item of
// the access tree (Window/AccessTree.h, which decides what there is and what changed). This is only
// the COM glue. Every call comes on the window's thread (the providers ask for COM threading and the
// window's thread is a single-threaded apartment). An element finds its item again by key at every
// call, so one whose item left the page, or whose window is gone, answers UIA_E_ELEMENTNOTAVAILABLE.
// uiautomationcore.dll's functions are looked up at run time: mingw-w64 has no import library for it.
// Windows only.

#include <windows.h>
#include <ole2.h>
// Not <uiautomation.h>: mingw-w64's uiautomationcoreapi.h names a parameter `new` and is no C++.
#include <uiautomationclient.h>
#include <uiautomationcore.h>

#include <functional>
#include <memory>
#include <vector>

#include "Platform/ComPtr.h"
#include "Window/AccessTree.h"
#include "Window/UiaPatterns.h"

namespace Velotrix {

struct AccessShared;

// What the elements ask of the window. Both are called on the window's thread.
struct AccessSeam {
    std::function<void(int region)> invoke; // runs the control as a click does, later (Invoke returns at once)
    std::function<void(int region)> focus;  // moves the keyboard focus onto the control
};

class UiaProvider {
public:
    UiaProvider();
    ~UiaProvider(); // Detach
    UiaProvider(const UiaProvider&) = delete;
    UiaProvider& operator=(const UiaProvider&) = delete;

    // Makes the root for `hwnd`; false when no memory is left (the window then has no provider).
    [[nodiscard]] bool Attach(HWND hwnd, AccessSeam seam);
    // WM_GETOBJECT: true, with `result` to return, when UI Automation asks for the root; false for
    // other objects (and before Attach), which DefWindowProcW answers.
    bool OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result) const;
    // After each paint: the page's new items and the focused region (-1 for none). Raises the events a
    // screen reader listens for: focus, structure, names, toggle states, a phone that began to wait.
    void Update(std::vector<AccessItem> items, int focusRegion);
    // WM_DESTROY: the window takes its root back, and every element answers "not available" from now.
    void Detach();

    // The root with a reference of the caller's own; empty before Attach or after Detach.
    ComPtr<IRawElementProviderSimple> Root() const;

private:
    std::shared_ptr<AccessShared> shared;
    IRawElementProviderSimple* root = nullptr; // owned: one reference, from Attach to Detach
};

} // namespace Velotrix
