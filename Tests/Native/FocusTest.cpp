// The keyboard focus over a page's click regions: Tab's order, where the focus goes when the page
// changes under it, and the scroll that shows it.

#include "Window/Focus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix {
namespace {

constexpr std::int32_t Share = 10, Install = 1, Allow = 2, Deny = 3, Disconnect = 4, AskFirst = 5, KeepInTray = 7,
                       AppStore = 8, WebLink = 9, OtherLink = 14;

ClickRegion At(float x, float y, std::int32_t action, std::int32_t arg = 0) { return {{x, y, 90, 30}, action, arg}; }

// The actions of `regions` in the order Tab visits them from nothing.
std::vector<std::int32_t> TabOrder(const std::vector<ClickRegion>& regions, bool backwards) {
    std::vector<std::int32_t> actions;
    int focus = -1;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        focus = NextFocus(regions, focus, backwards);
        actions.push_back(regions[static_cast<std::size_t>(focus)].action);
    }
    // One more step comes round to where it began.
    EXPECT_EQ(regions[static_cast<std::size_t>(NextFocus(regions, focus, backwards))].action, actions.front());
    return actions;
}

TEST(FocusTest, TabVisitsEveryRegionInReadingOrderAndWrapsShiftTabTheOtherWay) {
    // Drawn out of reading order: the footer's second link left of the first, Deny before Allow.
    const std::vector<ClickRegion> page = {At(360, 5, Share),      At(36, 100, Install),  At(300, 300, Deny, 7),
                                           At(200, 300, Allow, 7), At(36, 400, AskFirst), At(360, 600, WebLink),
                                           At(36, 600, OtherLink)};
    EXPECT_EQ(TabOrder(page, false),
              (std::vector<std::int32_t>{Share, Install, Allow, Deny, AskFirst, OtherLink, WebLink}));
    EXPECT_EQ(TabOrder(page, true),
              (std::vector<std::int32_t>{WebLink, OtherLink, AskFirst, Deny, Allow, Install, Share}));
    EXPECT_EQ(NextFocus({}, -1, false), -1);
    EXPECT_EQ(NextFocus(page, 99, false), 0) << "a focus beyond the page starts again at the first";
}

TEST(FocusTest, TheFocusStaysOnItsControlOrMovesToTheNextNeverToNothing) {
    const ClickRegion share = At(360, 5, Share), ask = At(36, 500, AskFirst), keep = At(36, 560, KeepInTray),
                      link = At(360, 640, WebLink), appStore = At(36, 300, AppStore);
    const ClickRegion allow7 = At(200, 300, Allow, 7), deny7 = At(300, 300, Deny, 7),
                      disconnect7 = At(300, 330, Disconnect, 7), disconnect9 = At(300, 420, Disconnect, 9);
    struct Case {
        const char* what;
        std::vector<ClickRegion> before;
        int focused;
        std::vector<ClickRegion> after;
        int expected; // index into after
    };
    const Case cases[] = {
        {"a repaint of the same page", {share, ask, keep}, 1, {share, ask, keep}, 1},
        {"a phone arriving above moves the option down, and the focus with it",
         {share, ask, keep},
         2,
         {share, allow7, deny7, ask, keep},
         4},
        {"Allow hands it to the same phone's Disconnect", {share, allow7, deny7, ask}, 1, {share, disconnect7, ask}, 1},
        {"Deny too", {share, allow7, deny7, ask}, 2, {share, disconnect7, ask}, 1},
        {"a phone leaving hands it to the next phone",
         {share, disconnect7, disconnect9, ask},
         1,
         {share, disconnect9, ask},
         1},
        {"the last phone leaving hands it to the option after it, not to the new App Store button",
         {share, disconnect9, ask},
         1,
         {share, appStore, ask},
         2},
        {"the last control going hands it back to the one before", {share, ask, link}, 2, {share, ask}, 1},
        {"nothing of the old page left: the control at its place", {share, ask, keep}, 2, {allow7, deny7}, 1},
        {"nothing focused stays so", {share, ask}, -1, {share, ask}, -1},
        {"an empty page has nothing to focus", {share, ask}, 1, {}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(FocusAfterRepaint(c.before, c.focused, c.after), c.expected) << c.what;

    // Two controls alike: the second keeps the focus as the second, wherever the page draws it.
    const ClickRegion first = At(36, 100, OtherLink), second = At(36, 200, OtherLink);
    EXPECT_EQ(FocusAfterRepaint({first, second}, 1, {share, first, second}), 2);
    EXPECT_EQ(KeyOf({second, first}, 0).ordinal, 1) << "counted in reading order, not drawing order";
}

TEST(FocusTest, TheScrollMovesJustEnoughToShowTheFocusedControlWithItsMargin) {
    struct Case {
        const char* what;
        ClickRect rect; // as drawn at offset 100
        float expected;
    };
    // A 400-pixel view at offset 100 over a 1000-pixel page, a 10-pixel margin.
    const Case cases[] = {
        {"in view", {20, 50, 90, 30}, 100},
        {"just in view with its margin", {20, 360, 90, 30}, 100},
        {"below: its bottom comes to the margin", {20, 500, 90, 30}, 240},
        {"above: its top comes to the margin", {20, -60, 90, 30}, 30},
        {"above the page's start: the page's top", {20, -95, 90, 30}, 0},
        {"beyond the page's end: the end", {20, 890, 90, 30}, 600},
        {"taller than the view: its top", {20, 200, 90, 500}, 290},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(ScrollToShow(c.rect, 100, 10, 1000, 400), c.expected) << c.what;
    EXPECT_FLOAT_EQ(ScrollToShow({20, 500, 90, 30}, 0, 10, 300, 400), 0) << "a page that fits never scrolls";
}

} // namespace
} // namespace Velotrix
