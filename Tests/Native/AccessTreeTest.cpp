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

// A page with a title, one phone's card and an option, as a paint would record it; the phone waits
// (Allow and Deny), is refused (Allow alone) or is gone, and the option is on or off.
enum class Phone { Gone, Waiting, Refused };
std::vector<AccessItem> PageWith(Phone phone, bool optionOn, const std::wstring& title = L"Ready for your phone") {
    std::vector<ClickRegion> regions;
    std::vector<DrawnText> texts = {{title, {20, 20, 200, 20}}};
    std::vector<DrawnGroup> groups;
    if (phone != Phone::Gone) {
        groups.push_back({{20, 60, 420, 96}, 7});
        texts.push_back({L"Ada\u2019s iPhone", {34, 70, 200, 18}});
        texts.push_back({phone == Phone::Waiting ? L"Waiting for you" : L"Refused", {316, 70, 110, 18}});
        regions.push_back({{200, 110, 94, 30}, 2, 7});
        texts.push_back({L"Allow", {200, 110, 94, 30}});
        if (phone == Phone::Waiting) {
            regions.push_back({{300, 110, 94, 30}, 3, 7});
            texts.push_back({L"Deny", {300, 110, 94, 30}});
        }
    }
    regions.push_back({{20, 200, 420, 36}, 5, 0, optionOn});
    texts.push_back({L"Ask before a new phone connects", {32, 209, 250, 17}});
    return BuildAccessTree(regions, texts, groups);
}

TEST(AccessTreeTest, StepsGoToParentsChildrenAndSiblingsWithinTheirGroup) {
    // 0 title, 1 group (2 name line... children: 2 pill, 3 Allow, 4 Deny), 5 option.
    const std::vector<AccessItem> items = PageWith(Phone::Waiting, false);
    ASSERT_EQ(items.size(), 6u);
    ASSERT_EQ(items[1].role, Group);
    using enum AccessStep;
    const struct {
        int from;
        AccessStep step;
        int to;
    } cases[] = {
        {AccessPage, FirstChild, 0},
        {AccessPage, LastChild, 5},
        {AccessPage, NextSibling, AccessNowhere},
        {AccessPage, Parent, AccessNowhere},
        {0, Parent, AccessPage},
        {0, NextSibling, 1},
        {1, NextSibling, 5},
        {5, PreviousSibling, 1},
        {5, NextSibling, AccessNowhere},
        {1, FirstChild, 2},
        {1, LastChild, 4},
        {2, Parent, 1},
        {2, PreviousSibling, AccessNowhere},
        {4, NextSibling, AccessNowhere},
        {3, PreviousSibling, 2},
        {0, FirstChild, AccessNowhere},
        {6, Parent, AccessNowhere},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StepThroughAccessTree(items, c.from, c.step), c.to)
            << "from " << c.from << " step " << static_cast<int>(c.step);
    EXPECT_EQ(FocusedAccessItem(items, items[4].region), 4);
    EXPECT_EQ(FocusedAccessItem(items, -1), -1);
}

TEST(AccessTreeTest, RepaintsTellWhatCameWentFlippedOrWasRenamedAndAnnounceAPhoneThatBeganToWait) {
    const auto page = [](Phone phone, bool on, const std::wstring& title = L"Ready for your phone") {
        return PageWith(phone, on, title);
    };
    const std::vector<AccessItem> waiting = page(Phone::Waiting, false);
    const struct {
        const char* what;
        std::vector<AccessItem> before, after;
        AccessChanges changes;
    } cases[] = {
        {"the same page", waiting, waiting, {}},
        {"a phone comes asking", page(Phone::Gone, false), waiting, {true, {}, {}, {1}}},
        {"a refused phone comes back", page(Phone::Gone, false), page(Phone::Refused, false), {true, {}, {}, {}}},
        {"a refused phone asks again", page(Phone::Refused, false), waiting, {true, {2}, {}, {1}}},
        {"the waiting phone leaves", waiting, page(Phone::Gone, false), {true, {}, {}, {}}},
        {"the option is flipped", waiting, page(Phone::Waiting, true), {false, {}, {5}, {}}},
        {"the status changes", waiting, page(Phone::Waiting, false, L"1 controller"), {false, {0}, {}, {}}},
    };
    for (const auto& c : cases) EXPECT_EQ(CompareAccessTrees(c.before, c.after), c.changes) << c.what;
    EXPECT_EQ(AnnouncementOf(waiting, 1), L"Ada\u2019s iPhone, Waiting for you");
}

} // namespace
} // namespace Velotrix
