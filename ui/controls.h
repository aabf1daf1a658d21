// The panel's immediate-mode controls. Each helper draws one control from the current state through
// the Painter and appends its clickable region (and, for sliders, its binding) to the panel's lists;
// the paint calls them in drawing order, so later controls win the hit-test where they overlap.
// Helpers that stack vertically take the running y by reference and advance it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/painter.h"
#include "ui/panel.h"

namespace qm {

constexpr float kPanelWidth = 320;
constexpr float kContentWidth = 288;

// Where things are for a client area of W × H DIPs.
struct PanelGeometry {
    float width = 0, height = 0;
    float edge = 0;         // I: the panel's edge line
    float contentLeft = 0;  // the panel's content column
};
PanelGeometry panelGeometry(float width, float height);

struct DrawContext {
    Painter& painter;
    Panel& panel;
    float contentLeft = 0;
};

bool isHovered(const PanelState& ui, int kind, int index);
void addRegion(PanelState& ui, const Rect& rect, int kind, int index);

// A rounded chip; width <= 0 sizes it to the label (and icon, when icon != 0). Returns its right edge.
float drawChip(DrawContext& dc, float x, float y, float height, uint32_t icon, std::string_view label,
               int kind, int index, float width = 0);
// A slider row (60 DIPs) editing *value.
void drawSlider(DrawContext& dc, float& y, uint32_t icon, std::string_view title, float* value, float minimum,
                float maximum, std::string_view minLabel, std::string_view maxLabel, float defaultValue,
                bool reversed);
// A segmented row (36 DIPs); one region per segment.
void drawSegments(DrawContext& dc, float& y, const std::string_view* labels, int count, int selected,
                  int kind);
// A label with a switch (32 DIPs).
void drawToggleRow(DrawContext& dc, float& y, std::string_view label, bool on, int kind);
// A thin line (19 DIPs).
void drawSeparator(DrawContext& dc, float& y);
// A wrapped note; returns its height.
float drawNote(DrawContext& dc, std::string_view text, float x, float y, float width);
// The tile scheme shared by the tabs' grids: the rounded fill (hover aware), and the accent ring of a
// selected tile along the square inset by 1.5 with stroke 3.
void drawTileFill(DrawContext& dc, const Rect& square, float radius, int kind, int index);
void drawSelectionRing(DrawContext& dc, const Rect& square, float radius);
// The tab's title (44 DIPs).
void drawTabTitle(DrawContext& dc, float& y, std::string_view title);
// A section's heading on a 22 DIP line; y advances by `advance`.
void drawHeading(DrawContext& dc, float& y, std::string_view heading, float advance = 30);

}  // namespace qm
