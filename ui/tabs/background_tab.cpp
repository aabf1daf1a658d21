#include "ui/tabs/background_tab.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "settings/libraries.h"
#include "settings/settings_paths.h"
#include "ui/icons.h"
#include "ui/tabs/list_choice.h"

namespace qm {
namespace {

constexpr float kTileGap = 8;
constexpr float kTileWidth = (kContentWidth - 16) / 3;
constexpr float kTileHeight = 68;
constexpr float kTileStep = 76;
// Visitor names are long ("Hot Air Balloon"): the choices wrap three to a row.
constexpr int kSegmentsPerRow = 3;

constexpr const char* kAddNote =
    "Any picture. Everyone in the picture stays in front of it. Right-click one to remove it.";
constexpr const char* kVisitorNote =
    "Something shows up in your room behind you. Slide a window visitor over your real window.";

std::string tileValue(const Panel& panel, int index) {
    if (index == 0) return "none";
    if (index == 1) return "blur";
    const std::string* file = listEntry(panel.lists.backgrounds, index, 2);
    return file ? *file : std::string();
}

void drawBackgroundTile(DrawContext& dc, float x, float top, int index) {
    Painter& p = dc.painter;
    const Rect tile{x, top, x + kTileWidth, top + kTileHeight};
    drawTileFill(dc, tile, 8, kHitBackgroundTile, index);
    const float cx = x + kTileWidth / 2;
    if (index == 0) {
        const float cy = top + 24;
        p.strokeRoundRect({cx - 13, cy - 13, cx + 13, cy + 13}, 13, 2, colours::kPrimaryText);
        p.strokeLine(cx - 9, cy - 9, cx + 9, cy + 9, 2, colours::kPrimaryText);
    } else if (index == 1) {
        p.fillCircle(cx, top + 28, 9, colours::kPrimaryText);
        // The drop's point: the triangle filled by strokes fanning from its tip.
        for (float dx = -7; dx <= 7; dx += 2)
            p.strokeLine(cx, top + 11, cx + dx, top + 24, 2, colours::kPrimaryText);
    } else {
        const Rect picture{x + 3, top + 3, x + kTileWidth - 3, top + 65};
        p.pushRoundClip(picture, 7);
        p.drawThumbnail(ThumbnailGroup::Background, index - 2, picture, true, 1);
        p.popClip();
    }
    if (index < 2)
        p.drawText(index == 0 ? "None" : "Blur", {x, top + 46, x + kTileWidth, top + 64},
                   {Font::Small, Align::Centre}, colours::kPrimaryText);
    if (tileValue(dc.panel, index) == dc.panel.state.background) drawSelectionRing(dc, tile, 8);
    addRegion(dc.panel.ui, tile, kHitBackgroundTile, index);
}

// The visitor choices as segmented rows of three; region index = choice.
void drawVisitorSegments(DrawContext& dc, float& y, const std::vector<std::string>& labels, int selected) {
    const int count = static_cast<int>(labels.size());
    for (int first = 0; first < count; first += kSegmentsPerRow) {
        std::string_view row[kSegmentsPerRow];
        const int n = std::min(kSegmentsPerRow, count - first);
        for (int i = 0; i < n; ++i)
            row[i] = labels[static_cast<size_t>(first + i)];
        // Regions of the row carry the row's own index; they are renumbered to choices below.
        const size_t regionsBefore = dc.panel.ui.regions.size();
        const int inRow = selected - first;
        drawSegments(dc, y, row, n, inRow >= 0 && inRow < n ? inRow : -1, kHitVisitorSegment);
        for (size_t r = regionsBefore; r < dc.panel.ui.regions.size(); ++r)
            if (dc.panel.ui.regions[r].kind == kHitVisitorSegment) dc.panel.ui.regions[r].index += first;
        y -= 4;
    }
    y += 4;
}

}  // namespace

void drawBackgroundTab(DrawContext& dc, float& y) {
    Panel& panel = dc.panel;
    FilterState& s = panel.state;
    Painter& p = dc.painter;
    const float left = dc.contentLeft;

    drawHeading(dc, y, "Background");
    const int tiles = static_cast<int>(panel.lists.backgrounds.size()) + 2;
    for (int i = 0; i < tiles; ++i)
        drawBackgroundTile(dc, left + (i % 3) * (kTileWidth + kTileGap), y + (i / 3) * kTileStep, i);
    y += std::ceil(tiles / 3.0f) * kTileStep + 4;
    drawChip(dc, left, y, 30, 0, "Add a background\u2026", kHitAddBackground, 0);
    y += 40;
    y += drawNote(dc, kAddNote, left, y, kContentWidth) + 14;

    drawHeading(dc, y, "Room visitors");
    std::vector<std::string> labels{"Nobody"};
    int selected = 0;
    for (size_t i = 0; i < panel.lists.visitors.size(); ++i) {
        labels.push_back(i < panel.lists.visitorNames.size() ? panel.lists.visitorNames[i]
                                                             : visitorDisplayName(panel.lists.visitors[i]));
        if (!s.visitor.empty() && panel.lists.visitors[i] == s.visitor) selected = static_cast<int>(i) + 1;
    }
    drawVisitorSegments(dc, y, labels, selected);
    if (selected > 0) {
        drawChip(dc, left, y, 30, 0, "Send now", kHitSendVisitor, 0);
        y += 40;
        drawSlider(dc, y, icon::kFullScreen, "Size", &s.visitorFit.scale, 0.3f, 2.5f, "Smaller", "Bigger", 1,
                   false);
        drawSlider(dc, y, icon::kSwitch, "Left / right", &s.visitorFit.x, -0.6f, 0.6f, "Left", "Right", 0,
                   s.mirror);
        drawSlider(dc, y, icon::kSort, "Up / down", &s.visitorFit.y, -0.5f, 0.5f, "Down", "Up", 0, false);
        drawSlider(dc, y, icon::kRecent, "How often", &s.visitorEvery, 6, 120, "Often", "Rarely", 15, false);
        drawToggleRow(dc, y, "Ghost (see-through)", s.ghost, kHitGhostSwitch);
    }
    y += drawNote(dc, kVisitorNote, left, y, kContentWidth) + 14;
}

TabClick backgroundTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitBackgroundTile: {
            const std::string value = tileValue(panel, region.index);
            if (value.empty()) return TabClick::Done;
            s.background = value;
            return TabClick::Changed;
        }
        case kHitAddBackground: {
            const std::string path = panel.host.choosePicture("Add a background");
            if (path.empty()) return TabClick::Done;
            const std::string name = addBackgroundPicture(libraryFolder(panel.paths, "backgrounds"), path);
            if (name.empty()) {
                panel.ui.statusMessage = "Couldn't add that picture.";
                panel.host.repaint();
                return TabClick::Done;
            }
            panel.lists.backgrounds = listBackgrounds(libraryFolder(panel.paths, "backgrounds"));
            panel.host.releaseDeviceResources();
            s.background = name;
            // A picture replaced under the selected name is read again by the engine.
            panel.shared.filters.backgroundVersion.fetch_add(1);
            return TabClick::Changed;
        }
        case kHitVisitorSegment:
            if (region.index == 0)
                s.visitor.clear();
            else if (const std::string* name = listEntry(panel.lists.visitors, region.index, 1))
                s.visitor = *name;
            s.visitorFit = Fit{};
            return TabClick::Changed;
        case kHitSendVisitor:
            panel.shared.visitorRestart.exchange(true);
            return TabClick::Changed;
        case kHitGhostSwitch:
            s.ghost = !s.ghost;
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

bool backgroundTabRightClick(Panel& panel, const HitRegion& region, float x, float y) {
    if (region.kind != kHitBackgroundTile || region.index < 2) return false;
    if (!listEntry(panel.lists.backgrounds, region.index, 2)) return true;
    const bool remove = chooseRemove(panel, x, y);
    // The menu ran its own loop: the list may have changed under it.
    const std::string* entry = listEntry(panel.lists.backgrounds, region.index, 2);
    if (!remove || !entry) return true;
    const std::string name = *entry;
    const std::string folder = libraryFolder(panel.paths, "backgrounds");
    if (!removeBackgroundPicture(folder, name)) {
        panel.ui.statusMessage = "Couldn't remove that picture.";
        panel.host.repaint();
        return true;
    }
    panel.lists.backgrounds = listBackgrounds(folder);
    panel.host.releaseDeviceResources();
    if (panel.state.background == name) panel.state.background = "none";
    // The background switch must not bring back a picture that is gone.
    if (panel.ui.lastBackground == name) panel.ui.lastBackground = "blur";
    panel.ui.activeScene.clear();
    applyChange(panel, true);
    return true;
}

}  // namespace qm
