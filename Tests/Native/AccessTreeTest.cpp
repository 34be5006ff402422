// What a screen reader reads of a page, from what its paint recorded: controls named by the texts
// drawn on them, lines of text, and each phone's card as a group of its own.

#include "Window/AccessTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velotrix {
namespace {

constexpr auto Text = AccessRole::Text, Button = AccessRole::Button, Toggle = AccessRole::Toggle,
               Link = AccessRole::Link, Group = AccessRole::Group;

struct Read {
    AccessRole role;
    std::wstring name;
    std::wstring help;
    int parent;
    bool operator==(const Read&) const = default;
};

std::vector<Read> ReadOut(const std::vector<AccessItem>& items) {
    std::vector<Read> read;
    for (const AccessItem& item : items) read.push_back({item.role, item.name, item.help, item.parent});
    return read;
}

TEST(AccessTreeTest, ControlsTakeTheirTextsLinesJoinAndAPhonesCardGathersWhatIsOnIt) {
    const std::vector<ClickRegion> regions = {
        {{360, 25, 80, 32}, 10, 0},  // Share
        {{200, 360, 94, 30}, 2, 7},  // Allow
        {{300, 360, 94, 30}, 3, 7},  // Deny
        {{20, 450, 420, 52}, 6, 0},  // Start with Windows
        {{370, 600, 70, 21}, 9, 0},  // the web link
        {{316, 758, 104, 26}, 4, 9}, // Disconnect
    };
    // Drawn in the paint's order, not in reading order: the address line's port after a later text.
    const std::vector<DrawnText> texts = {
        {L"Velotrix", {74, 22, 90, 26}},
        {L"\uE72D", {372, 25, 14, 32}}, // the share glyph
        {L"Share", {393, 25, 40, 32}},
        {L"Ready for your phone", {54, 98, 180, 18}},
        {L"This PC", {36, 170, 50, 17}},
        {L"Address", {36, 192, 50, 17}},
        {L"RACING-PC", {132, 170, 80, 17}},
        {L"192.168.1.20", {132, 192, 100, 18}},
        {L"  port 47821", {235, 193, 70, 17}},
        {L"Ada\u2019s iPhone", {34, 303, 200, 18}},
        {L"Waiting for you", {316, 303, 110, 20}},
        {L"wants to use this PC as a controller.", {34, 330, 260, 17}},
        {L"Allow", {200, 360, 94, 30}},
        {L"Deny", {300, 360, 94, 30}},
        {L"Start with Windows", {32, 459, 150, 17}},
        {L"In the notification area, ready for the phone.", {32, 478, 280, 15}},
        {L"   ", {40, 560, 10, 10}},
        {L"velotrix.app", {370, 603, 70, 15}},
        // An admitted phone below the page, its status line drawn in three parts around the signal mark.
        {L"Maya\u2019s iPhone", {34, 653, 200, 18}},
        {L"Player 1", {370, 653, 56, 20}},
        {L"192.168.1.34  \u00B7  250 updates/s", {34, 762, 170, 15}},
        {L" poor", {222, 762, 28, 15}},
        {L"  \u00B7  rumble", {250, 762, 50, 15}},
        {L"Disconnect", {316, 758, 104, 26}},
    };
    const std::vector<DrawnGroup> groups = {{{20, 290, 420, 96}, 7}, {{20, 640, 420, 156}, 9}};
    const std::vector<AccessItem> items = BuildAccessTree(regions, texts, groups);
    EXPECT_EQ(ReadOut(items),
              (std::vector<Read>{
                  {Text, L"Velotrix", L"", -1},
                  {Button, L"Share", L"", -1},
                  {Text, L"Ready for your phone", L"", -1},
                  {Text, L"This PC RACING-PC", L"", -1},
                  {Text, L"Address 192.168.1.20 port 47821", L"", -1},
                  {Group, L"Ada\u2019s iPhone", L"", -1},
                  {Text, L"Waiting for you", L"", 5},
                  {Text, L"wants to use this PC as a controller.", L"", 5},
                  {Button, L"Allow", L"", 5},
                  {Button, L"Deny", L"", 5},
                  {Toggle, L"Start with Windows", L"In the notification area, ready for the phone.", -1},
                  {Link, L"velotrix.app", L"", -1},
                  {Group, L"Maya\u2019s iPhone", L"", -1},
                  {Text, L"Player 1", L"", 12},
                  {Button, L"Disconnect", L"", 12},
                  {Text, L"192.168.1.34  \u00B7  250 updates/s poor \u00B7  rumble", L"", 12},
              }));
    EXPECT_EQ(items[8].region, 1) << "a control knows its region";
    EXPECT_EQ(FindAccessItem(items, items[9].key), 9);

    // The next paint, with the phone admitted: its card and lines keep their keys, Allow's is gone.
    std::vector<ClickRegion> admitted = {regions[0], {{300, 360, 94, 30}, 4, 7}, regions[3], regions[4]};
    const std::vector<AccessItem> after = BuildAccessTree(admitted, texts, groups);
    EXPECT_EQ(FindAccessItem(after, items[5].key), FindAccessItem(after, AccessKey{2, 7, 0, 0}));
    EXPECT_GE(FindAccessItem(after, items[6].key), 0);
    EXPECT_EQ(FindAccessItem(after, items[8].key), -1);
}

} // namespace
} // namespace Velotrix
