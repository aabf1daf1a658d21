#include "ui/tabs/wear_tab.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/wear_catalogue.h"
#include "ui/icons.h"

namespace qm {
namespace {

constexpr const char* kSlotLabels[kWearSlots] = {"Hair", "Hat", "Glasses", "Beard"};

constexpr const char* kKittenNote =
    "This face doesn't take accessories. Under Faces, pick My face (they go on your real face) or a photo "
    "face.";

// Tile grid: three columns across the content width.
constexpr float kTileGap = 8;
constexpr float kTileWidth = (kContentWidth - 2 * kTileGap) / 3;
constexpr float kTileHeight = 74;
constexpr float kTileStep = kTileHeight + kTileGap;

// What a worn slot shows under its tiles: the four fit sliders when open, else the "Adjust fit" chip.
constexpr float kFitSlidersHeight = 4 * 60;
constexpr float kAdjustFitHeight = 36;

// A tile's index in its region: the slot times 1000 plus 0 for the empty choice, or the catalogue index
// plus 1.
constexpr int kTileSlotStride = 1000;

// Whether a catalogue entry has a picture to show; an entry without one ("Bald") is offered only on the
// user's own face, where it draws the cap.
bool hasPicture(Painter& p, int catalogueIndex) {
    return !wearPictureFile(kWearCatalogue[catalogueIndex]).empty() &&
           p.hasThumbnail(ThumbnailGroup::Wear, catalogueIndex);
}

// The ring that stands for a choice without a picture: crossed out for the empty choice, its upper half
// filled (a bare scalp) for the bald cap.
void drawPlaceholder(Painter& p, const Rect& area, bool empty) {
    const float cx = (area.left + area.right) / 2, cy = (area.top + area.bottom) / 2, r = 13;
    p.strokeRoundRect({cx - r, cy - r, cx + r, cy + r}, r, 2, colours::kPrimaryText);
    if (empty) {
        p.strokeLine(cx - 9, cy - 9, cx + 9, cy + 9, 2, colours::kPrimaryText);
    } else {
        p.pushClip({cx - r - 1, cy - r - 1, cx + r + 1, cy});
        p.fillCircle(cx, cy, r, colours::kPrimaryText);
        p.popClip();
    }
}

// One choice of a slot: catalogueIndex -1 is the empty choice.
void drawWearTile(DrawContext& dc, float x, float top, int slot, int catalogueIndex, std::string_view caption,
                  bool selected) {
    Painter& p = dc.painter;
    const int index = slot * kTileSlotStride + catalogueIndex + 1;
    const Rect tile{x, top, x + kTileWidth, top + kTileHeight};
    drawTileFill(dc, tile, 8, kHitWearTile, index);
    const Rect area{x + 5, top + 5, x + kTileWidth - 5, top + 49};
    const bool pictured = catalogueIndex >= 0 && hasPicture(p, catalogueIndex);
    if (!pictured || !p.drawThumbnail(ThumbnailGroup::Wear, catalogueIndex, area, false, 1))
        drawPlaceholder(p, area, catalogueIndex < 0);
    p.drawText(caption, {x + 2, top + 51, x + kTileWidth - 2, top + 69}, {Font::Small, Align::Centre},
               colours::kPrimaryText);
    if (selected) drawSelectionRing(dc, tile, 8);
    addRegion(dc.panel.ui, tile, kHitWearTile, index);
}

void drawFitSliders(DrawContext& dc, float& y, int slot) {
    FilterState& s = dc.panel.state;
    Fit& fit = s.wearFit[slot];
    // On a mirrored preview the screen's left is the picture's right, and a turn the other way.
    drawSlider(dc, y, icon::kFullScreen, "Size", &fit.scale, 0.5f, 1.6f, "Smaller", "Bigger", 1, false);
    drawSlider(dc, y, icon::kSwitch, "Left / right", &fit.x, -0.4f, 0.4f, "Left", "Right", 0, s.mirror);
    drawSlider(dc, y, icon::kSort, "Up / down", &fit.y, -0.4f, 0.4f, "Down", "Up", 0, false);
    drawSlider(dc, y, icon::kRotate, "Tilt", &fit.fourth, -0.5236f, 0.5236f, "\u21BA", "\u21BB", 0, s.mirror);
}

void drawSlotSection(DrawContext& dc, float& y, int slot) {
    Painter& p = dc.painter;
    const FilterState& s = dc.panel.state;
    const float left = dc.contentLeft;
    const std::string effective = effectiveWearItem(s, slot);

    p.drawText(kSlotLabels[slot], {left, y, left + kContentWidth, y + 24}, {Font::Heading, Align::Leading},
               colours::kPrimaryText);
    y += 34;

    int tiles = 0;
    auto next = [&](int catalogueIndex, std::string_view caption, bool selected) {
        float x = left + (tiles % 3) * (kTileWidth + kTileGap);
        drawWearTile(dc, x, y + (tiles / 3) * kTileStep, slot, catalogueIndex, caption, selected);
        ++tiles;
    };
    next(-1, slot == kWearHair ? "My hair" : "None", effective.empty());
    for (int i = 0; i < kWearCatalogueSize; ++i) {
        const WearEntry& entry = kWearCatalogue[i];
        if (entry.kind != slot) continue;
        if (!hasPicture(p, i) && s.face != kFaceNone) continue;
        next(i, entry.label, effective == entry.id);
    }
    y += std::ceil(tiles / 3.0f) * kTileStep + 2;

    if (!effective.empty()) {
        if (dc.panel.ui.fitSlot == slot) {
            drawFitSliders(dc, y, slot);
        } else {
            drawChip(dc, left, y, 30, icon::kSetting, "Adjust fit", kHitFitSlot, slot);
            y += kAdjustFitHeight;
        }
    }
}

// Opens a slot's fit sliders and closes the open one's. When the closing sliders sit above the slot, the
// content above it shrinks; the scroll follows, so what was just clicked stays under the pointer.
void openFit(Panel& panel, int slot) {
    const int open = panel.ui.fitSlot;
    if (open >= 0 && open < slot && !effectiveWearItem(panel.state, open).empty())
        panel.ui.tabScroll[1] =
            std::max(0.0f, panel.ui.tabScroll[1] - (kFitSlidersHeight - kAdjustFitHeight));
    panel.ui.fitSlot = slot;
}

}  // namespace

float drawWearTabHeader(DrawContext& dc, float bottom) {
    if (dc.panel.state.face == kFaceKitten) return bottom;
    for (int j = 0; j < kWearSlots; ++j) {
        std::string label = kSlotLabels[j];
        if (!effectiveWearItem(dc.panel.state, j).empty()) label += " \u2022";
        drawChip(dc, dc.contentLeft + j * 73.5f, bottom, 28, 0, label, kHitWearSlotChip, j, 67.5f);
    }
    return bottom + 38;
}

void drawWearTab(DrawContext& dc, float& y) {
    if (dc.panel.state.face == kFaceKitten) {
        drawTabTitle(dc, y, "Accessories");
        y += drawNote(dc, kKittenNote, dc.contentLeft, y, kContentWidth) + 14;
        return;
    }
    const float start = y;
    for (int slot = 0; slot < kWearSlots; ++slot) {
        dc.panel.ui.wearSectionTop[slot] = y - start;
        drawSlotSection(dc, y, slot);
        if (slot + 1 < kWearSlots) drawSeparator(dc, y);
    }
    y += 8;
}

TabClick wearTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitWearSlotChip:
            if (region.index < 0 || region.index >= kWearSlots) return TabClick::Done;
            // The next paint clamps the scroll to what the content allows.
            panel.ui.tabScroll[1] = panel.ui.wearSectionTop[region.index];
            return TabClick::Changed;
        case kHitWearTile: {
            const int slot = region.index / kTileSlotStride, item = region.index % kTileSlotStride;
            if (region.index < 0 || slot >= kWearSlots) return TabClick::Done;
            if (item == 0) {
                s.wear[slot].clear();
            } else {
                if (item > kWearCatalogueSize || kWearCatalogue[item - 1].kind != slot) return TabClick::Done;
                s.wear[slot] = kWearCatalogue[item - 1].id;
            }
            openFit(panel, slot);
            return TabClick::Changed;
        }
        case kHitFitSlot:
            if (region.index < 0 || region.index >= kWearSlots) return TabClick::Done;
            openFit(panel, region.index);
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
