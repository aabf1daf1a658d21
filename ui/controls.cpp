#include "ui/controls.h"

#include <algorithm>
#include <cmath>

#include "ui/icons.h"

namespace qm {

PanelGeometry panelGeometry(float width, float height) {
    PanelGeometry g;
    g.width = width;
    g.height = height;
    g.edge = width - (kPanelWidth + 1);
    g.contentLeft = g.edge + 17;
    return g;
}

bool isHovered(const PanelState& ui, int kind, int index) {
    return ui.hoverKind == kind && ui.hoverIndex == index;
}

void addRegion(PanelState& ui, const Rect& r, int kind, int index) {
    ui.regions.push_back({r.left, r.top, r.right, r.bottom, kind, index});
}

float drawChip(DrawContext& dc, float x, float y, float height, uint32_t icon, std::string_view label,
               int kind, int index, float width) {
    Painter& p = dc.painter;
    bool autoWidth = width <= 0;
    if (autoWidth) width = p.measureText(label, Font::Body, 600).width + 24 + (icon ? 24 : 0);
    Rect chip{x, y, x + width, y + height};
    p.fillRoundRect(chip, 7, isHovered(dc.panel.ui, kind, index) ? colours::kChipHover : colours::kChip);
    if (autoWidth) {
        if (icon) drawIcon(p, icon, {x + 10, y, x + 30, y + height}, Font::SmallIcon, colours::kPrimaryText);
        p.drawText(label, {x + 12 + (icon ? 24 : 0), y, x + width, y + height}, {Font::Body, Align::Leading},
                   colours::kPrimaryText);
    } else {
        p.drawText(label, chip, {Font::Body, Align::Centre}, colours::kPrimaryText);
    }
    addRegion(dc.panel.ui, chip, kind, index);
    return x + width;
}

void drawSlider(DrawContext& dc, float& y, uint32_t icon, std::string_view title, float* value, float minimum,
                float maximum, std::string_view minLabel, std::string_view maxLabel, float defaultValue,
                bool reversed) {
    Painter& p = dc.painter;
    PanelState& ui = dc.panel.ui;
    const float left = dc.contentLeft;
    const int index = static_cast<int>(ui.sliders.size());
    y += 5;
    drawIcon(p, icon, {left, y, left + 20, y + 20}, Font::SmallIcon, colours::kAccent);
    p.drawText(title, {left + 26, y, left + 234, y + 20}, {Font::Label, Align::Leading},
               colours::kPrimaryText);
    float v = value ? (reversed ? -*value : *value) : defaultValue;
    if (std::fabs(v - defaultValue) > 0.0001f) {
        Rect reset{left + 244, y, left + 288, y + 20};
        bool hovered = isHovered(ui, kHitSliderReset, index);
        p.drawText("Reset", reset, {Font::Small, Align::Trailing},
                   hovered ? colours::kPrimaryText : colours::kAccent);
        addRegion(ui, reset, kHitSliderReset, index);
    }
    y += 24;
    float a = p.measureText(minLabel, Font::Small, 200).width;
    float b = p.measureText(maxLabel, Font::Small, 200).width;
    p.drawText(minLabel, {left, y, left + a + 2, y + 22}, {Font::Small, Align::Leading},
               colours::kSecondaryText);
    p.drawText(maxLabel, {left + 286 - b, y, left + 288, y + 22}, {Font::Small, Align::Trailing},
               colours::kSecondaryText);
    float x0 = left + a + 16, x1 = left + 288 - b - 16, mid = y + 11;
    p.fillRoundRect({x0, mid - 2, x1, mid + 2}, 2, colours::kTrack);
    float t = maximum != minimum ? std::clamp((v - minimum) / (maximum - minimum), 0.0f, 1.0f) : 0.0f;
    float knobX = x0 + t * (x1 - x0);
    p.fillRoundRect({x0, mid - 2, knobX, mid + 2}, 2, colours::kAccent);
    bool active = ui.dragSlider == index || isHovered(ui, kHitSliderTrack, index);
    p.fillCircle(knobX, mid, 9, active ? colours::kWhite : colours::kKnobIdle);
    ui.sliders.push_back({x0, y, x1, y + 22, value, minimum, maximum, defaultValue, reversed});
    addRegion(ui, {x0 - 10, y - 4, x1 + 10, y + 26}, kHitSliderTrack, index);
    y += 31;
}

void drawSegments(DrawContext& dc, float& y, const std::string_view* labels, int count, int selected,
                  int kind) {
    Painter& p = dc.painter;
    PanelState& ui = dc.panel.ui;
    const float left = dc.contentLeft;
    p.fillRoundRect({left, y, left + kContentWidth, y + 28}, 7, colours::kSegmentRow);
    float share = count > 0 ? kContentWidth / count : kContentWidth;
    for (int i = 0; i < count; ++i) {
        Rect segment{left + i * share, y, left + (i + 1) * share, y + 28};
        Rect inner{segment.left + 2, segment.top + 2, segment.right - 2, segment.bottom - 2};
        if (i == selected)
            p.fillRoundRect(inner, 6, colours::kSegmentSelected);
        else if (isHovered(ui, kind, i))
            p.fillRoundRect(inner, 6, colours::kSegmentRow);
        p.drawText(labels[i], segment, {Font::Small, Align::Centre}, colours::kPrimaryText);
        addRegion(ui, segment, kind, i);
    }
    y += 36;
}

void drawToggleRow(DrawContext& dc, float& y, std::string_view label, bool on, int kind) {
    Painter& p = dc.painter;
    const float left = dc.contentLeft;
    float w = p.measureText(label, Font::Body, kContentWidth).width;
    p.drawText(label, {left, y, left + w + 4, y + 26}, {Font::Body, Align::Leading}, colours::kPrimaryText);
    Rect track{left + w + 12, y + 2, left + w + 52, y + 24};
    p.fillRoundRect(track, 11, on ? colours::kAccent : colours::kSwitchOff);
    p.fillCircle(on ? track.right - 11 : track.left + 11, y + 13, 9, colours::kWhite);
    addRegion(dc.panel.ui, {left, y, track.right, y + 26}, kind, 0);
    y += 32;
}

void drawSeparator(DrawContext& dc, float& y) {
    dc.painter.fillRect({dc.contentLeft, y + 6, dc.contentLeft + kContentWidth, y + 7}, colours::kDivider);
    y += 19;
}

float drawNote(DrawContext& dc, std::string_view text, float x, float y, float width) {
    float h = dc.painter.measureText(text, Font::Body, width, true).height;
    dc.painter.drawText(text, {x, y, x + width, y + h + 2}, {Font::Body, Align::Leading, true, true},
                        colours::kSecondaryText);
    return h;
}

void drawTileFill(DrawContext& dc, const Rect& square, float radius, int kind, int index) {
    dc.painter.fillRoundRect(square, radius,
                             isHovered(dc.panel.ui, kind, index) ? colours::kTileHover : colours::kStatusBar);
}

void drawSelectionRing(DrawContext& dc, const Rect& s, float radius) {
    dc.painter.strokeRoundRect({s.left + 1.5f, s.top + 1.5f, s.right - 1.5f, s.bottom - 1.5f}, radius, 3,
                               colours::kAccent);
}

void drawTabTitle(DrawContext& dc, float& y, std::string_view title) {
    dc.painter.drawText(title, {dc.contentLeft, y, dc.contentLeft + kContentWidth, y + 30},
                        {Font::Title, Align::Leading}, colours::kPrimaryText);
    y += 44;
}

void drawHeading(DrawContext& dc, float& y, std::string_view heading, float advance) {
    dc.painter.drawText(heading, {dc.contentLeft, y, dc.contentLeft + kContentWidth, y + 22},
                        {Font::Heading, Align::Leading}, colours::kPrimaryText);
    y += advance;
}

}  // namespace qm
