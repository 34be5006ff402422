#pragma once

// What a screen reader reads of the painted page: one element per control (named by the texts drawn
// on it), one per line of text elsewhere, and one group per phone card holding what is drawn on it.
// Built from what the paint records (the click regions, every text with where it went, the cards),
// so that whatever a paint draws joins the tree by itself. Portable: the native tests pin it.

#include <cstdint>
#include <string>
#include <vector>

#include "Window/ClickRegion.h"

namespace Velotrix {

// A text as a paint drew it, with the box it went into (in client pixels, as drawn).
struct DrawnText {
    std::wstring text;
    ClickRect box;
};

// A card that gathers what is drawn on it: a phone's, named by the first text on it.
struct DrawnGroup {
    ClickRect box;
    std::int32_t id = 0; // the phone's session number
};

enum class AccessRole : std::uint8_t { Text, Button, Toggle, Link, Group };

// An element's identity across paints, as long as it stays on the page: a control's action, argument
// and ordinal (as its focus key), a group's id, a line's group and place in it.
struct AccessKey {
    std::int32_t kind = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
    bool operator==(const AccessKey&) const = default;
};

struct AccessItem {
    AccessRole role = AccessRole::Text;
    std::wstring name; // what is read first: a control's first text, a line's texts, a phone's name
    std::wstring help; // a control's further texts (an option's explanation)
    ClickRect box;
    int region = -1; // the control's index in the regions, -1 for texts and groups
    int parent = -1; // index of the group it lies in, -1 for the page itself
    AccessKey key;
    bool on = false; // a toggle's state
    bool operator==(const AccessItem&) const = default;
};

// The page's elements, each group followed by its children, both in reading order. Icon glyphs
// (the private use area) and blank texts are left out; the texts of one line (tops less than half a
// line apart) make one element.
std::vector<AccessItem> BuildAccessTree(const std::vector<ClickRegion>& regions, const std::vector<DrawnText>& texts,
                                        const std::vector<DrawnGroup>& groups);

// The index of the item with `key`, -1 when the page has none.
int FindAccessItem(const std::vector<AccessItem>& items, const AccessKey& key);

// The element of the control regions[focusIndex], -1 when nothing is focused or it has no element.
int FocusedAccessItem(const std::vector<AccessItem>& items, int focusIndex);

// Moves through the tree as a screen reader does. `from` is an item's index or AccessPage (the
// window itself); the answer is an index, AccessPage, or AccessNowhere when there is nothing that way.
inline constexpr int AccessPage = -1;
inline constexpr int AccessNowhere = -2;
enum class AccessStep : std::uint8_t { Parent, NextSibling, PreviousSibling, FirstChild, LastChild };
int StepThroughAccessTree(const std::vector<AccessItem>& items, int from, AccessStep step);

// What a screen reader must be told of a repaint that turned `before` into `after`; indices are into
// `after`.
struct AccessChanges {
    bool structure = false;     // an element came, went or moved into another group
    std::vector<int> renamed;   // elements that stayed and now read otherwise (name or help)
    std::vector<int> toggled;   // toggles that stayed and flipped
    std::vector<int> announced; // phones' groups that began to wait for the user's Allow or Deny
    bool operator==(const AccessChanges&) const = default;
};
AccessChanges CompareAccessTrees(const std::vector<AccessItem>& before, const std::vector<AccessItem>& after);

// What is said of the waiting phone whose group is items[group]: its name and the lines on its card,
// as they read on screen.
std::wstring AnnouncementOf(const std::vector<AccessItem>& items, int group);

} // namespace Velotrix
