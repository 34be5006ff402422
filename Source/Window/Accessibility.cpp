// The window within reach of a keyboard and a screen reader: Tab and Shift+Tab move a focus through
// the page's click regions, Enter and Space run the focused one, Escape closes the window as its close
// button does; UI Automation reads the page and runs its controls; and the page follows the system's
// high contrast and text size.

#include "Window/MainWindow.h"

#include <new>

#include "Shell/Log.h"
#include "Window/AccessPrimitives.h"

namespace Velotrix {

namespace {

constexpr float FocusMargin = 12.0f;           // design units kept free above or below a control scrolled into view
constexpr LPARAM KeyWasDown = LPARAM{1} << 30; // WM_KEYDOWN's previous-state bit: an auto-repeat

} // namespace

bool MainWindow::OnFocusKey(WPARAM key, LPARAM lParam) {
    switch (key) {
    case VK_TAB:
        page.focusIndex = NextFocus(page.regions, page.focusIndex, GetKeyState(VK_SHIFT) < 0);
        RevealFocus();
        Repaint();
        return true;
    case VK_RETURN:
    case VK_SPACE: {
        // A held key acts once, as a held mouse button does.
        if ((lParam & KeyWasDown) != 0) return true;
        if (page.focusIndex < 0 || page.focusIndex >= static_cast<int>(page.regions.size())) return true;
        // A copy: the command may repaint, and a paint rebuilds the regions.
        OnClick(ClickRegion(page.regions[static_cast<std::size_t>(page.focusIndex)]));
        Repaint();
        return true;
    }
    case VK_ESCAPE:
        OnClose();
        return true;
    default:
        return false;
    }
}

void MainWindow::PaintFocus(PaintContext& context, const std::vector<ClickRegion>& before) {
    const int was = page.focusIndex;
    page.focusIndex = FocusAfterRepaint(before, was, page.regions);
    if (page.focusIndex < 0) return;
    DrawFocusRing(context, page.regions[static_cast<std::size_t>(page.focusIndex)].rect);
    // The page changed under the focus (a phone left, Allow became Disconnect): its new control may lie
    // out of view.
    if (!(KeyOf(before, was) == KeyOf(page.regions, page.focusIndex))) RevealFocus();
}

void MainWindow::RevealFocus() {
    if (page.focusIndex < 0 || page.focusIndex >= static_cast<int>(page.regions.size())) return;
    RECT client{};
    GetClientRect(hwnd, &client);
    const float shown = ScrollToShow(page.regions[static_cast<std::size_t>(page.focusIndex)].rect, page.scrollOffset,
                                     FocusMargin * scale, page.contentHeight, static_cast<float>(client.bottom));
    if (shown == page.scrollOffset) return;
    page.scrollOffset = shown;
    Repaint();
}

void MainWindow::AttachAccess() {
    AccessSeam seam;
    // Invoke must return at once: the control runs from the queue, found again by its key there.
    // The elements' items may lag behind the regions when a paint could not rebuild them.
    seam.invoke = [this](int region) {
        if (region >= static_cast<int>(page.regions.size())) return;
        const FocusKey key = KeyOf(page.regions, region);
        PostMessageW(hwnd, WM_APP_ACCESS_INVOKE,
                     static_cast<WPARAM>(static_cast<std::uint16_t>(key.action)) |
                         (static_cast<WPARAM>(static_cast<std::uint16_t>(key.ordinal)) << 16),
                     static_cast<LPARAM>(key.arg));
    };
    seam.focus = [this](int region) {
        if (region >= static_cast<int>(page.regions.size())) return;
        page.focusIndex = region;
        RevealFocus();
        Repaint();
    };
    if (!access.Attach(hwnd, std::move(seam))) Log("Accessibility: no memory for UI Automation's root");
}

void MainWindow::UpdateAccess() {
    try {
        access.Update(BuildAccessTree(page.regions, page.texts, page.groups), page.focusIndex);
    } catch (const std::bad_alloc&) {
        // The elements keep the last page's items until a paint finds the memory.
    }
}

void MainWindow::OnAccessInvoke(WPARAM wParam, LPARAM lParam) {
    const FocusKey key{static_cast<std::int32_t>(wParam & 0xFFFF), static_cast<std::int32_t>(lParam),
                       static_cast<int>((wParam >> 16) & 0xFFFF)};
    // The page may have changed since: a control that went is not run.
    const int region = IndexOfKey(page.regions, key);
    if (region < 0) return;
    // A copy: the command may repaint, and a paint rebuilds the regions.
    OnClick(ClickRegion(page.regions[static_cast<std::size_t>(region)]));
    Repaint();
}

void MainWindow::OnSystemLookChanged() {
    const float oldTextScale = look.textScale;
    if (!look.Refresh()) return;
    if (look.textScale != oldTextScale) {
        scale = static_cast<float>(GetDpiForWindow(hwnd)) / 96.0f * look.textScale;
        CreateTextFormats();
    }
    Repaint();
}

} // namespace Velotrix
