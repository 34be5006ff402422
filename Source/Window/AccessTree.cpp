#include "Window/AccessTree.h"

#include <algorithm>

#include "Window/Focus.h"

namespace Velotrix {

namespace {

constexpr std::int32_t ControlKind = 1, GroupKind = 2, LineKind = 3;

bool IsIconGlyph(wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; }

std::wstring Trimmed(const std::wstring& text) {
    std::wstring kept;
    for (const wchar_t c : text)
        if (!IsIconGlyph(c)) kept += c;
    const auto first = kept.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return {};
    return kept.substr(first, kept.find_last_not_of(L" \t\r\n") - first + 1);
}

// Where a text is taken to stand: just inside its start, half way down. A left-aligned text's box is
// only an estimate of its width, but it starts where it is drawn.
float AnchorX(const ClickRect& box) { return box.x + 1; }
float AnchorY(const ClickRect& box) { return box.y + box.height * 0.5f; }

bool ReadsBefore(const ClickRect& a, const ClickRect& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; }

ClickRect Union(const ClickRect& a, const ClickRect& b) {
    const float left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const float right = std::max(a.x + a.width, b.x + b.width), bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

AccessRole RoleOf(std::int32_t action) {
    switch (static_cast<ClickAction>(action)) {
    case ClickAction::ToggleAskFirst:
    case ClickAction::ToggleStartWithWindows:
    case ClickAction::ToggleKeepInTray:
        return AccessRole::Toggle;
    case ClickAction::OpenWebPage:
        return AccessRole::Link;
    default:
        return AccessRole::Button;
    }
}

// The group the point lies in, -1 for none.
int GroupAt(const std::vector<DrawnGroup>& groups, float x, float y) {
    for (std::size_t i = 0; i < groups.size(); ++i)
        if (Contains(groups[i].box, x, y)) return static_cast<int>(i);
    return -1;
}

struct Loose {
    AccessItem item;
    int group = -1; // index into the groups
};

} // namespace

std::vector<AccessItem> BuildAccessTree(const std::vector<ClickRegion>& regions, const std::vector<DrawnText>& texts,
                                        const std::vector<DrawnGroup>& groups) {
    std::vector<DrawnText> kept;
    for (const DrawnText& drawn : texts) {
        std::wstring text = Trimmed(drawn.text);
        if (!text.empty()) kept.push_back({std::move(text), drawn.box});
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const DrawnText& a, const DrawnText& b) { return ReadsBefore(a.box, b.box); });

    std::vector<Loose> loose;
    std::vector<bool> used(kept.size(), false);
    for (const int index : ReadingOrder(regions)) {
        const ClickRegion& region = regions[static_cast<std::size_t>(index)];
        const FocusKey focus = KeyOf(regions, index);
        Loose control{
            {RoleOf(region.action),
             {},
             {},
             region.rect,
             index,
             -1,
             {ControlKind, focus.action, focus.arg, focus.ordinal},
             region.on},
            GroupAt(groups, region.rect.x + region.rect.width * 0.5f, region.rect.y + region.rect.height * 0.5f)};
        for (std::size_t t = 0; t < kept.size(); ++t) {
            if (used[t] || !Contains(region.rect, AnchorX(kept[t].box), AnchorY(kept[t].box))) continue;
            used[t] = true;
            std::wstring& into = control.item.name.empty() ? control.item.name : control.item.help;
            into += (into.empty() ? L"" : L" ") + kept[t].text;
        }
        loose.push_back(std::move(control));
    }

    std::vector<std::wstring> groupNames(groups.size());
    for (std::size_t t = 0; t < kept.size(); ++t) {
        if (used[t]) continue;
        const int group = GroupAt(groups, AnchorX(kept[t].box), AnchorY(kept[t].box));
        if (group >= 0 && groupNames[static_cast<std::size_t>(group)].empty()) {
            groupNames[static_cast<std::size_t>(group)] = kept[t].text;
            used[t] = true;
        }
    }

    // Lines: a text whose middle lies within the first text of the line being made joins it.
    std::vector<int> lineCount(groups.size() + 1, 0);
    for (std::size_t t = 0; t < kept.size(); ++t) {
        if (used[t]) continue;
        used[t] = true;
        const ClickRect first = kept[t].box;
        const int group = GroupAt(groups, AnchorX(first), AnchorY(first));
        std::vector<const DrawnText*> parts{&kept[t]};
        for (std::size_t u = t + 1; u < kept.size(); ++u) {
            if (used[u] || GroupAt(groups, AnchorX(kept[u].box), AnchorY(kept[u].box)) != group) continue;
            const float middle = AnchorY(kept[u].box);
            if (middle < first.y || middle >= first.y + first.height) continue;
            used[u] = true;
            parts.push_back(&kept[u]);
        }
        std::stable_sort(parts.begin(), parts.end(),
                         [](const DrawnText* a, const DrawnText* b) { return a->box.x < b->box.x; });
        Loose line{{AccessRole::Text, {}, {}, first, -1, -1, {}}, group};
        for (const DrawnText* part : parts) {
            line.item.name += (line.item.name.empty() ? L"" : L" ") + part->text;
            line.item.box = Union(line.item.box, part->box);
        }
        const std::int32_t groupId = group >= 0 ? groups[static_cast<std::size_t>(group)].id : 0;
        const int slot = group + 1; // -1, the page itself, counts in the first
        line.item.key = {LineKind, groupId, lineCount[static_cast<std::size_t>(slot)]++, 0};
        loose.push_back(std::move(line));
    }
    for (std::size_t g = 0; g < groups.size(); ++g)
        loose.push_back(
            {{AccessRole::Group, groupNames[g], {}, groups[g].box, -1, -1, {GroupKind, groups[g].id, 0, 0}}, -1});

    std::stable_sort(loose.begin(), loose.end(),
                     [](const Loose& a, const Loose& b) { return ReadsBefore(a.item.box, b.item.box); });
    std::vector<AccessItem> items;
    for (std::size_t i = 0; i < loose.size(); ++i) {
        if (loose[i].group >= 0) continue;
        items.push_back(loose[i].item);
        if (loose[i].item.role != AccessRole::Group) continue;
        const int parent = static_cast<int>(items.size()) - 1;
        const AccessKey groupKey = loose[i].item.key;
        for (const Loose& child : loose) {
            if (child.group < 0 || groups[static_cast<std::size_t>(child.group)].id != groupKey.a) continue;
            items.push_back(child.item);
            items.back().parent = parent;
        }
    }
    return items;
}

int FindAccessItem(const std::vector<AccessItem>& items, const AccessKey& key) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].key == key) return static_cast<int>(i);
    return -1;
}

int FocusedAccessItem(const std::vector<AccessItem>& items, int focusIndex) {
    if (focusIndex < 0) return -1;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].region == focusIndex) return static_cast<int>(i);
    return -1;
}

int StepThroughAccessTree(const std::vector<AccessItem>& items, int from, AccessStep step) {
    const int count = static_cast<int>(items.size());
    if (from != AccessPage && (from < 0 || from >= count)) return AccessNowhere;
    const int parent = from == AccessPage ? AccessNowhere : items[static_cast<std::size_t>(from)].parent;
    const auto parentOf = [&items](int index) { return items[static_cast<std::size_t>(index)].parent; };
    switch (step) {
    case AccessStep::Parent:
        return parent == -1 ? AccessPage : parent;
    case AccessStep::FirstChild:
    case AccessStep::LastChild: {
        // Children follow their group directly; the page's are the items without a group.
        int found = AccessNowhere;
        for (int i = from == AccessPage ? 0 : from + 1; i < count; ++i) {
            if (parentOf(i) != from) {
                if (from != AccessPage) break;
                continue;
            }
            found = i;
            if (step == AccessStep::FirstChild) break;
        }
        return found;
    }
    case AccessStep::NextSibling:
        if (from == AccessPage) return AccessNowhere;
        for (int i = from + 1; i < count; ++i) {
            if (parentOf(i) == parent) return i;
            if (parent != -1 && parentOf(i) != parent) break;
        }
        return AccessNowhere;
    case AccessStep::PreviousSibling:
        if (from == AccessPage) return AccessNowhere;
        for (int i = from - 1; i >= 0 && i != parent; --i)
            if (parentOf(i) == parent) return i;
        return AccessNowhere;
    }
    return AccessNowhere;
}

namespace {

// A phone waits for the user while its card offers Deny: a refused phone's card offers Allow alone.
bool IsWaitingGroup(const std::vector<AccessItem>& items, int group) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].parent == group && items[i].key.kind == ControlKind &&
            items[i].key.a == static_cast<std::int32_t>(ClickAction::DenyPhone))
            return true;
    return false;
}

AccessKey ParentKey(const std::vector<AccessItem>& items, const AccessItem& item) {
    return item.parent < 0 ? AccessKey{} : items[static_cast<std::size_t>(item.parent)].key;
}

} // namespace

AccessChanges CompareAccessTrees(const std::vector<AccessItem>& before, const std::vector<AccessItem>& after) {
    AccessChanges changes;
    changes.structure = before.size() != after.size();
    for (std::size_t i = 0; i < after.size(); ++i) {
        const AccessItem& now = after[i];
        const int was = FindAccessItem(before, now.key);
        if (was < 0 || static_cast<std::size_t>(was) != i ||
            !(ParentKey(before, before[static_cast<std::size_t>(was)]) == ParentKey(after, now)))
            changes.structure = true;
        if (now.role == AccessRole::Group && IsWaitingGroup(after, static_cast<int>(i)) &&
            (was < 0 || !IsWaitingGroup(before, was)))
            changes.announced.push_back(static_cast<int>(i));
        if (was < 0) continue;
        const AccessItem& old = before[static_cast<std::size_t>(was)];
        if (old.name != now.name || old.help != now.help) changes.renamed.push_back(static_cast<int>(i));
        if (now.role == AccessRole::Toggle && old.on != now.on) changes.toggled.push_back(static_cast<int>(i));
    }
    return changes;
}

std::wstring AnnouncementOf(const std::vector<AccessItem>& items, int group) {
    if (group < 0 || group >= static_cast<int>(items.size())) return {};
    std::wstring said = items[static_cast<std::size_t>(group)].name;
    for (const AccessItem& item : items)
        if (item.parent == group && item.role == AccessRole::Text) said += (said.empty() ? L"" : L", ") + item.name;
    return said;
}

} // namespace Velotrix
