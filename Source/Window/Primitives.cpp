#include "Window/Primitives.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "Platform/ComPtr.h"
#include "Window/AccessPrimitives.h"
#include "Window/Palette.h"
#include "Window/QrMatrix.h"

namespace Velotrix {

namespace {

constexpr float Unlimited = 10000.0f;

ComPtr<IDWriteTextLayout> MakeLayout(PaintContext& context, std::wstring_view text, IDWriteTextFormat* format,
                                     float maxWidth, float maxHeight) {
    ComPtr<IDWriteTextLayout> layout;
    if (format == nullptr || context.writeFactory == nullptr) {
        return layout;
    }
    if (FAILED(context.writeFactory->CreateTextLayout(text.data(), static_cast<UINT32>(text.size()), format,
                                                      std::max(maxWidth, 0.0f), std::max(maxHeight, 0.0f),
                                                      layout.Put()))) {
        layout.Reset();
    }
    return layout;
}

ComPtr<IDWriteTextLayout> MakeWrappedLayout(PaintContext& context, std::wstring_view text, float maxWidth,
                                            IDWriteTextFormat* format) {
    ComPtr<IDWriteTextLayout> layout = MakeLayout(context, text, format, maxWidth, Unlimited);
    if (layout) {
        layout->SetWordWrapping(DWRITE_WORD_WRAPPING_WRAP);
    }
    return layout;
}

float LayoutHeight(IDWriteTextLayout* layout) {
    DWRITE_TEXT_METRICS metrics{};
    if (layout == nullptr || FAILED(layout->GetMetrics(&metrics))) {
        return 0;
    }
    return metrics.height;
}

ID2D1SolidColorBrush* Brush(PaintContext& context, std::uint32_t rgb, std::uint8_t alpha = 255,
                            PaintUse use = PaintUse::Fill) {
    const ShownColour shown = ShownColourOf(context, rgb, alpha, use);
    context.brush->SetColor(MakeColor(shown.rgb, shown.alpha));
    return context.brush;
}

ID2D1SolidColorBrush* TextBrush(PaintContext& context, std::uint32_t rgb) {
    return Brush(context, rgb, 255, PaintUse::Text);
}

// A screen reader's copy of a drawn text.
void NoteText(PaintContext& context, std::wstring_view text, const ClickRect& box) {
    if (context.texts == nullptr) {
        return;
    }
    try {
        context.texts->push_back(DrawnText{std::wstring(text), box});
    } catch (const std::bad_alloc&) {
        // A text that cannot be kept is only not read; the paint goes on.
    }
}

ClickRect TextBox(IDWriteTextLayout* layout, float x, float y, float maxWidth) {
    DWRITE_TEXT_METRICS metrics{};
    if (layout == nullptr || FAILED(layout->GetMetrics(&metrics))) {
        return {x, y, 0, 0};
    }
    return {x, y, std::min(metrics.width, maxWidth), metrics.height};
}

D2D1_RECT_F ToRect(const ClickRect& rect) {
    return D2D1::RectF(rect.x, rect.y, rect.x + rect.width, rect.y + rect.height);
}

} // namespace

void DrawTextAt(PaintContext& context, std::wstring_view text, float x, float y, IDWriteTextFormat* format,
                std::uint32_t rgb) {
    if (format == nullptr || text.empty()) {
        return;
    }
    context.target->DrawText(text.data(), static_cast<UINT32>(text.size()), format,
                             D2D1::RectF(x, y, x + 10000.0f, y + 1000.0f), TextBrush(context, rgb),
                             D2D1_DRAW_TEXT_OPTIONS_NONE, DWRITE_MEASURING_MODE_NATURAL);
    if (context.texts != nullptr) {
        const ComPtr<IDWriteTextLayout> layout = MakeLayout(context, text, format, Unlimited, Unlimited);
        NoteText(context, text, TextBox(layout.get(), x, y, Unlimited));
    }
}

void DrawTrimmedText(PaintContext& context, std::wstring_view text, float x, float y, float maxWidth,
                     IDWriteTextFormat* format, std::uint32_t rgb) {
    if (text.empty() || maxWidth <= 0) {
        return;
    }
    ComPtr<IDWriteTextLayout> layout = MakeLayout(context, text, format, maxWidth, Unlimited);
    if (!layout) {
        return;
    }
    ComPtr<IDWriteInlineObject> ellipsis;
    // Without the sign the text is still cut at the edge, only without its "…".
    if (SUCCEEDED(context.writeFactory->CreateEllipsisTrimmingSign(format, ellipsis.Put()))) {
        const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
        layout->SetTrimming(&trimming, ellipsis.get());
    }
    // The layout box alone does not stop glyphs at its edge; the clip does.
    context.target->PushAxisAlignedClip(D2D1::RectF(x, y, x + maxWidth, y + Unlimited), D2D1_ANTIALIAS_MODE_ALIASED);
    context.target->DrawTextLayout(D2D1::Point2F(x, y), layout.get(), TextBrush(context, rgb),
                                   D2D1_DRAW_TEXT_OPTIONS_NONE);
    context.target->PopAxisAlignedClip();
    // The whole text: a screen reader reads what the ellipsis hides.
    NoteText(context, text, TextBox(layout.get(), x, y, maxWidth));
}

float MeasureTextWidth(PaintContext& context, std::wstring_view text, IDWriteTextFormat* format) {
    ComPtr<IDWriteTextLayout> layout = MakeLayout(context, text, format, Unlimited, Unlimited);
    DWRITE_TEXT_METRICS metrics{};
    if (!layout || FAILED(layout->GetMetrics(&metrics))) {
        return 0;
    }
    return metrics.widthIncludingTrailingWhitespace;
}

float MeasureWrappedHeight(PaintContext& context, std::wstring_view text, float maxWidth, IDWriteTextFormat* format) {
    ComPtr<IDWriteTextLayout> layout = MakeWrappedLayout(context, text, maxWidth, format);
    return LayoutHeight(layout.get());
}

float DrawWrappedText(PaintContext& context, std::wstring_view text, float x, float y, float maxWidth,
                      IDWriteTextFormat* format, std::uint32_t rgb) {
    ComPtr<IDWriteTextLayout> layout = MakeWrappedLayout(context, text, maxWidth, format);
    if (!layout) {
        return 0;
    }
    context.target->DrawTextLayout(D2D1::Point2F(x, y), layout.get(), TextBrush(context, rgb),
                                   D2D1_DRAW_TEXT_OPTIONS_NONE);
    NoteText(context, text, TextBox(layout.get(), x, y, maxWidth));
    return LayoutHeight(layout.get());
}

void DrawCenteredText(PaintContext& context, std::wstring_view text, const ClickRect& rect, IDWriteTextFormat* format,
                      std::uint32_t rgb) {
    ComPtr<IDWriteTextLayout> layout = MakeLayout(context, text, format, rect.width, rect.height);
    if (!layout) {
        return;
    }
    layout->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    context.target->DrawTextLayout(D2D1::Point2F(rect.x, rect.y), layout.get(), TextBrush(context, rgb),
                                   D2D1_DRAW_TEXT_OPTIONS_NONE);
    // Its box is the one it is centred in, so that a button's text lies inside the button.
    NoteText(context, text, rect);
}

void FillRect(PaintContext& context, const ClickRect& rect, std::uint32_t rgb, std::uint8_t alpha) {
    context.target->FillRectangle(ToRect(rect), Brush(context, rgb, alpha));
}

void FillRounded(PaintContext& context, const ClickRect& rect, float radius, std::uint32_t rgb, std::uint8_t alpha) {
    const D2D1_ROUNDED_RECT shape = D2D1::RoundedRect(ToRect(rect), radius, radius);
    context.target->FillRoundedRectangle(shape, Brush(context, rgb, alpha));
    // High contrast keeps a card's or a button's edge on a page that is all one colour.
    if (const ShownColour shown = ShownColourOf(context, rgb, alpha, PaintUse::Fill); shown.outline) {
        context.brush->SetColor(MakeColor(shown.outlineRgb));
        context.target->DrawRoundedRectangle(shape, context.brush, std::max(1.0f, context.scale));
    }
}

void FillCircle(PaintContext& context, float cx, float cy, float radius, std::uint32_t rgb) {
    context.target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(cx, cy), radius, radius), Brush(context, rgb));
}

bool NextRegionHovered(const PaintContext& context) { return context.hoverIndex == context.regionCounter; }

void RecordRegion(PaintContext& context, const ClickRect& rect, ClickAction action, std::int32_t arg, bool on) {
    if (context.regions != nullptr) {
        try {
            context.regions->push_back(ClickRegion{rect, static_cast<std::int32_t>(action), arg, on});
        } catch (const std::bad_alloc&) {
            // A region that cannot be kept only loses its click; the counter still moves on so the
            // hover of later regions keeps matching their index.
        }
    }
    ++context.regionCounter;
}

void RecordGroup(PaintContext& context, const ClickRect& rect, std::int32_t sessionId) {
    if (context.groups == nullptr) {
        return;
    }
    try {
        context.groups->push_back(DrawnGroup{rect, sessionId});
    } catch (const std::bad_alloc&) {
        // The card's texts are then read as lines of the page.
    }
}

void DrawButton(PaintContext& context, const ClickRect& rect, std::wstring_view text, ClickAction action,
                std::int32_t arg, std::uint32_t background, std::uint32_t foreground, std::wstring_view icon) {
    const float s = context.scale;
    FillRounded(context, rect, 8 * s, background, NextRegionHovered(context) ? 255 : 225);
    if (!icon.empty() && context.iconFormat != nullptr) {
        const float textWidth = MeasureTextWidth(context, text, context.buttonFormat);
        const float groupX = rect.x + (rect.width - 14 * s - 7 * s - textWidth) * 0.5f;
        DrawCenteredText(context, icon, ClickRect{groupX, rect.y, 14 * s, rect.height}, context.iconFormat, foreground);
        DrawCenteredText(context, text, ClickRect{groupX + 21 * s, rect.y, textWidth + 2 * s, rect.height},
                         context.buttonFormat, foreground);
    } else {
        DrawCenteredText(context, text, rect, context.buttonFormat, foreground);
    }
    RecordRegion(context, rect, action, arg);
}

float DrawToggleRow(PaintContext& context, float x, float width, float y, std::wstring_view label,
                    std::wstring_view subText, bool on, ClickAction action) {
    const float s = context.scale;
    const float h = subText.empty() ? 36 * s : 52 * s;
    const ClickRect row{x, y, width, h};
    if (NextRegionHovered(context)) {
        FillRounded(context, row, 8 * s, Palette::Control, 140);
    }
    DrawTextAt(context, label, x + 12 * s, y + 9 * s, context.bodyFormat, Palette::Text);
    if (!subText.empty()) {
        DrawTextAt(context, subText, x + 12 * s, y + 28 * s, context.smallFormat, Palette::MutedText);
    }
    const float trackX = x + width - 12 * s - 38 * s;
    const float trackY = y + h * 0.5f - 11 * s;
    FillRounded(context, ClickRect{trackX, trackY, 38 * s, 22 * s}, 11 * s, on ? Palette::Accent : Palette::Control);
    FillCircle(context, trackX + (on ? 27 : 11) * s, trackY + 11 * s, 8 * s,
               on ? Palette::OnAccent : Palette::MutedText);
    RecordRegion(context, row, action, 0, on);
    return h;
}

void DrawLevelBar(PaintContext& context, float x, float y, float width, std::wstring_view label, float value,
                  bool centred, std::uint32_t rgb) {
    const float s = context.scale;
    DrawTextAt(context, label, x, y, context.smallFormat, Palette::MutedText);
    const float trackY = y + 20 * s;
    FillRounded(context, ClickRect{x, trackY, width, 8 * s}, 4 * s, Palette::Control);
    if (centred) {
        const float c = x + width * 0.5f;
        const float e = c + width * value * 0.5f;
        FillRounded(context, ClickRect{std::min(c, e), trackY, std::max(std::fabs(e - c), 2 * s), 8 * s}, 4 * s, rgb);
        FillRect(context, ClickRect{c - 0.75f * s, y + 18 * s, 1.5f * s, 12 * s}, Palette::MutedText);
    } else if (value > 0.003f) {
        FillRounded(context, ClickRect{x, trackY, std::max(width * value, 8 * s), 8 * s}, 4 * s, rgb);
    }
}

void DrawSteeringIcon(PaintContext& context, float cx, float cy, float r, float angleDegrees) {
    const float s = context.scale;
    const float side = 2 * (r + 6 * s);
    FillRounded(context, ClickRect{cx - side * 0.5f, cy - side * 0.5f, side, side}, 10 * s, Palette::Control);

    D2D1_MATRIX_3X2_F saved;
    context.target->GetTransform(&saved);
    context.target->SetTransform(D2D1::Matrix3x2F::Rotation(angleDegrees) * D2D1::Matrix3x2F::Translation(cx, cy) *
                                 saved);
    ID2D1SolidColorBrush* text = Brush(context, Palette::Text, 255, PaintUse::Stroke);
    context.target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(0, 0), 0.85f * r, 0.85f * r), text, 0.22f * r);
    context.target->DrawLine(D2D1::Point2F(-0.8f * r, 0.05f * r), D2D1::Point2F(0.8f * r, 0.05f * r), text, 0.2f * r);
    context.target->DrawLine(D2D1::Point2F(0, 0.05f * r), D2D1::Point2F(0, 0.8f * r), text, 0.2f * r);
    context.target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(0, 0.05f * r), 0.28f * r, 0.28f * r), text);
    context.target->DrawLine(D2D1::Point2F(0, -0.97f * r), D2D1::Point2F(0, -0.62f * r),
                             Brush(context, Palette::Accent, 255, PaintUse::Stroke), 0.24f * r);
    context.target->SetTransform(saved);
}

void DrawQrCode(PaintContext& context, float x, float y, float m) {
    FillRounded(context, ClickRect{x, y, 37 * m, 37 * m}, 2 * m, Palette::QrLight);
    context.target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
    ID2D1SolidColorBrush* dark = Brush(context, Palette::QrDark);
    for (int r = 0; r < QrSize; ++r) {
        const char* row = StoreLinkQr[r];
        int c = 0;
        while (c < QrSize) {
            if (row[c] != '1') {
                ++c;
                continue;
            }
            const int c0 = c;
            while (c < QrSize && row[c] == '1') {
                ++c;
            }
            const float left = x + static_cast<float>(c0 + 4) * m;
            const float rowTop = y + static_cast<float>(r + 4) * m;
            context.target->FillRectangle(D2D1::RectF(left, rowTop, left + static_cast<float>(c - c0) * m, rowTop + m),
                                          dark);
        }
    }
    context.target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
}

} // namespace Velotrix
