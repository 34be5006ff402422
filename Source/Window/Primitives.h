#pragma once

// The drawing primitives the page is made of. Every length is in pixels (the caller multiplies design
// units by the scale); colours are Palette values. Texts go through a DirectWrite layout made and
// released per call; a text whose layout cannot be made (no format, no memory) is left out and
// measures 0. DrawButton, DrawToggleRow and RecordRegion append click regions in drawing order,
// and every drawn text is noted with its box for a screen reader.

#include <cstdint>
#include <string_view>

#include "Window/ClickRegion.h"
#include "Window/Page.h"

namespace Velotrix {

void DrawTextAt(PaintContext& context, std::wstring_view text, float x, float y, IDWriteTextFormat* format,
                std::uint32_t rgb);
// On one line at most `maxWidth` wide: a longer text is cut at a character and ends in an ellipsis
// ("…"), so that it never runs under what stands to its right. Nothing is drawn without room.
void DrawTrimmedText(PaintContext& context, std::wstring_view text, float x, float y, float maxWidth,
                     IDWriteTextFormat* format, std::uint32_t rgb);
// Includes trailing blanks.
float MeasureTextWidth(PaintContext& context, std::wstring_view text, IDWriteTextFormat* format);
float MeasureWrappedHeight(PaintContext& context, std::wstring_view text, float maxWidth, IDWriteTextFormat* format);
// Answers the height drawn, the same as MeasureWrappedHeight.
float DrawWrappedText(PaintContext& context, std::wstring_view text, float x, float y, float maxWidth,
                      IDWriteTextFormat* format, std::uint32_t rgb);
void DrawCenteredText(PaintContext& context, std::wstring_view text, const ClickRect& rect, IDWriteTextFormat* format,
                      std::uint32_t rgb);

void FillRect(PaintContext& context, const ClickRect& rect, std::uint32_t rgb, std::uint8_t alpha = 255);
void FillRounded(PaintContext& context, const ClickRect& rect, float radius, std::uint32_t rgb,
                 std::uint8_t alpha = 255);
void FillCircle(PaintContext& context, float cx, float cy, float radius, std::uint32_t rgb);

// Whether the region recorded next is the one under the mouse (same index in the previous paint).
bool NextRegionHovered(const PaintContext& context);
// `on`: a toggle's state as drawn.
void RecordRegion(PaintContext& context, const ClickRect& rect, ClickAction action, std::int32_t arg, bool on = false);
// A phone's card, whose texts and controls a screen reader reads as one group.
void RecordGroup(PaintContext& context, const ClickRect& rect, std::int32_t sessionId);

// `icon` is a glyph of the icon font, or empty for none; without an icon font the text alone is
// centred.
void DrawButton(PaintContext& context, const ClickRect& rect, std::wstring_view text, ClickAction action,
                std::int32_t arg, std::uint32_t background, std::uint32_t foreground, std::wstring_view icon = {});
// Answers the row's height: 36s without a sub-text, 52s with one.
float DrawToggleRow(PaintContext& context, float x, float width, float y, std::wstring_view label,
                    std::wstring_view subText, bool on, ClickAction action);
// `value` runs from -1 to 1 when `centred`, else from 0 to 1.
void DrawLevelBar(PaintContext& context, float x, float y, float width, std::wstring_view label, float value,
                  bool centred, std::uint32_t rgb);
void DrawSteeringIcon(PaintContext& context, float cx, float cy, float radius, float angleDegrees);
// The store link's code with its quiet zone, 37 × `module` pixels square; `module` is whole pixels.
void DrawQrCode(PaintContext& context, float x, float y, float module);

} // namespace Velotrix
