#pragma once

// The painted page: everything the window shows, drawn from scratch into any Direct2D render target
// (the window's own, or a WIC bitmap in the tests). MainWindow gathers a PageInput and the device
// objects, calls PaintPage between BeginDraw and EndDraw, and keeps what it answers.

#include <d2d1.h>
#include <dwrite.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Server/Server.h"
#include "Shell/FirewallCheck.h"
#include "Shell/AddressOrder.h"
#include "Window/AccessTree.h"
#include "Window/ClickRegion.h"
#include "Window/Contrast.h"

namespace Velotrix {

// A remembered phone's row in the Options card.
struct RememberedRow {
    std::string idText; // 32 hex digits: what Forget takes off the list
    std::wstring name;  // "iPhone" when no name is known
    std::wstring seen;  // "Last seen …", in the user's date and time format
    bool operator==(const RememberedRow&) const = default;
};

// Everything a paint draws with. All pointers are borrowed; the caller owns them for the paint.
struct PaintContext {
    ID2D1RenderTarget* target = nullptr;   // created at 96 DPI, so one unit is one physical pixel
    ID2D1SolidColorBrush* brush = nullptr; // the one brush; every fill, stroke and text sets its colour first
    IDWriteFactory* writeFactory = nullptr;
    IDWriteTextFormat* titleFormat = nullptr;
    IDWriteTextFormat* buttonFormat = nullptr;
    IDWriteTextFormat* bodyFormat = nullptr;
    IDWriteTextFormat* headingFormat = nullptr;
    IDWriteTextFormat* smallFormat = nullptr;
    IDWriteTextFormat* labelFormat = nullptr;
    IDWriteTextFormat* iconFormat = nullptr; // null when no icon font is installed: glyphs are left out
    float scale = 1.0f;
    int hoverIndex = -1;                         // region index of the previous paint under the mouse
    std::vector<ClickRegion>* regions = nullptr; // cleared by PaintPage, refilled in drawing order
    int regionCounter = 0;                       // reset by PaintPage; the index the next region gets
    const SystemColours* highContrast = nullptr; // the system's colours while high contrast is on
    // What a screen reader is given to read: every text with its box, and each phone's card. Cleared by
    // PaintPage and refilled in drawing order; null when nobody reads them.
    std::vector<DrawnText>* texts = nullptr;
    std::vector<DrawnGroup>* groups = nullptr;
};

// What the page shows, gathered by MainWindow::Paint for one paint.
struct PageInput {
    float width = 1; // client size in pixels
    float height = 1;
    float scrollOffset = 0;
    std::string startError; // UTF-8; not empty when the server could not start
    bool busConnected = false;
    bool busLost = false; // it was connected and went away; the server takes it back when it returns
    std::uint16_t port = 0;
    std::wstring computerName;
    std::vector<LocalAddress> addresses; // best first
    bool askFirst = false;
    bool keepInTray = false;
    bool startWithWindows = false;
    bool demo = false;
    std::vector<PhoneView> phones;                          // Server::Snapshot(), in table order
    std::vector<std::uint32_t> advised;                     // session numbers of the phones whose Wi-Fi advice shows
    FirewallVerdict firewall = FirewallVerdict::CannotTell; // RuleMissing and PublicNetwork show a warning
    std::wstring crashNotice;                               // not empty: the last run crashed and left this report
    std::vector<RememberedRow> remembered;                  // the allowed phones, by id; "Forget" on each
};

struct PageResult {
    float contentHeight = 0; // the page's full height in pixels, whatever the scroll
    bool animating = false;  // live input is on screen: repaint at every timer tick
};

// Whether two inputs give the same picture: everything drawn is equal (an input's echo, say, is not
// drawn). The timer skips a paint that would only repeat the last one.
bool PaintsTheSame(const PageInput& a, const PageInput& b);

// Draws the whole page; call between BeginDraw and EndDraw. Missing text formats or layouts leave
// their texts out and never fail the paint.
PageResult PaintPage(PaintContext& context, const PageInput& input);

} // namespace Velotrix
