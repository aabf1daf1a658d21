#include "ui/tabs/body_tab.h"

#include <cmath>
#include <string>

#include "ui/icons.h"
#include "ui/tabs/list_choice.h"

namespace qm {

namespace {

constexpr const char* kTorsoNote =
    "A little animated body under your head. It gestures while you talk. Replaces your own body.";
constexpr const char* kBodylessNote = "Removes your body and keeps your head, with any filter.";
constexpr const char* kCapturedNote =
    "Your empty room fills in where your body was. Recapture it if the camera moves or the light changes.";
constexpr const char* kLearningNote =
    "With no background, your room fills in where your body was as you move around. For the cleanest look, "
    "capture your empty room: you get 3 seconds to step out.";

// The "none" mark: a ring crossed by a diagonal stroke.
void drawNoneMark(Painter& p, float cx, float cy) {
    p.strokeRoundRect({cx - 13, cy - 13, cx + 13, cy + 13}, 13, 2, colours::kPrimaryText);
    p.strokeLine(cx - 9, cy - 9, cx + 9, cy + 9, 2, colours::kPrimaryText);
}

std::string caption(const std::string& name) {
    std::string text = name;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

void drawTorsoGrid(DrawContext& dc, float& y) {
    Painter& p = dc.painter;
    const FilterState& s = dc.panel.state;
    const std::vector<std::string>& torsos = dc.panel.lists.torsos;
    const int tiles = static_cast<int>(torsos.size()) + 1;
    const float w = (288 - 16) / 3.0f;
    for (int i = 0; i < tiles; ++i) {
        const float x = dc.contentLeft + (i % 3) * (w + 8), top = y + (i / 3) * 76;
        const Rect tile{x, top, x + w, top + 68};
        if (isHovered(dc.panel.ui, kHitTorsoTile, i)) p.fillRoundRect(tile, 8, colours::kStatusBar);
        const Rect picture{x + 4, top + 4, x + w - 4, top + 44};
        if (i == 0 || !p.drawThumbnail(ThumbnailGroup::Torso, i - 1, picture, false, 1))
            drawNoneMark(p, (picture.left + picture.right) / 2, (picture.top + picture.bottom) / 2);
        p.drawText(i == 0 ? std::string("None") : caption(torsos[i - 1]), {x, top + 46, x + w, top + 64},
                   {Font::Small, Align::Centre}, colours::kPrimaryText);
        const bool selected = i == 0 ? s.torso.empty() : s.torso == torsos[i - 1];
        if (selected) drawSelectionRing(dc, tile, 8);
        addRegion(dc.panel.ui, tile, kHitTorsoTile, i);
    }
    y += std::ceil(tiles / 3.0f) * 76 + 2;
}

void drawRoomControls(DrawContext& dc, float& y) {
    Painter& p = dc.painter;
    const bool captured = dc.panel.shared.roomCaptured.load();
    const int countdown = dc.panel.ui.roomCountdown;
    if (countdown < 1) {
        const float right =
            drawChip(dc, dc.contentLeft, y, 30, 0, captured ? "Recapture empty room" : "Capture empty room",
                     kHitCaptureRoom, 0);
        if (captured) {
            drawChip(dc, right + 8, y, 30, 0, "Clear", kHitClearRoom, 0);
        } else {
            y += 36;
            drawChip(dc, dc.contentLeft, y, 30, 0, "Forget learned room", kHitForgetRoom, 0);
        }
        y += 38;
    } else {
        p.drawText("Step out of the picture\u2026 " + std::to_string(countdown),
                   {dc.contentLeft, y, dc.contentLeft + 288, y + 30}, {Font::Heading, Align::Leading},
                   colours::kPrimaryText);
        y += 36;
    }
    y += drawNote(dc, captured ? kCapturedNote : kLearningNote, dc.contentLeft, y, kContentWidth) + 14;
}

}  // namespace

void drawBodyTab(DrawContext& dc, float& y) {
    FilterState& s = dc.panel.state;
    drawTabTitle(dc, y, "Body");
    dc.painter.drawText("Torso", {dc.contentLeft, y, dc.contentLeft + 288, y + 22},
                        {Font::Heading, Align::Leading}, colours::kPrimaryText);
    y += 30;
    drawTorsoGrid(dc, y);
    const bool torso = !s.torso.empty();
    if (torso) {
        drawSlider(dc, y, icon::kFullScreen, "Size", &s.torsoFit.scale, 0.6f, 1.5f, "Smaller", "Bigger", 1,
                   false);
        drawSlider(dc, y, icon::kSwitch, "Left / right", &s.torsoFit.x, -0.6f, 0.6f, "Left", "Right", 0,
                   s.mirror);
        drawSlider(dc, y, icon::kSort, "Up / down", &s.torsoFit.y, -0.6f, 0.6f, "Down", "Up", 0, false);
    }
    y += drawNote(dc, kTorsoNote, dc.contentLeft, y, kContentWidth) + 14;
    drawToggleRow(dc, y, "Body-less", s.bodyless, kHitBodylessSwitch);
    y += drawNote(dc, kBodylessNote, dc.contentLeft, y, kContentWidth) + 10;
    if (s.bodyless || torso) {
        drawSlider(dc, y, icon::kContact, "Head cut-out", &s.head, 0.6f, 1.6f, "Tighter", "More hair & neck",
                   1, false);
        drawRoomControls(dc, y);
    }
}

TabClick bodyTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitTorsoTile: {
            std::string chosen;
            if (region.index != 0) {
                const std::string* name = listEntry(panel.lists.torsos, region.index, 1);
                if (!name) return TabClick::Done;
                chosen = *name;
            }
            if (chosen == s.torso) return TabClick::Done;
            s.torso = chosen;
            return TabClick::Changed;
        }
        case kHitBodylessSwitch:
            s.bodyless = !s.bodyless;
            return TabClick::Changed;
        case kHitCaptureRoom:
            panel.ui.roomCountdown = 3;
            return TabClick::Changed;
        case kHitClearRoom:
            panel.shared.forgetRoomRequest.exchange(true);
            return TabClick::Changed;
        case kHitForgetRoom:
            panel.shared.forgetRoom.exchange(true);
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
