#include "ui/window_paint.h"

#include <algorithm>
#include <cstdio>

#include "platform/frame_section.h"
#include "ui/icons.h"
#include "ui/tabs/tab.h"

namespace qm {
namespace {

constexpr const char* kCardNote =
    "Then choose \u201cQuillmere\u201d as the camera in Zoom, Teams, Meet or Chrome. "
    "Keep this app open while you use it.";

void drawStatusBar(Painter& p, const PanelGeometry& g, const EngineView& engine) {
    bool live = engine.status == kStatusRunning;
    p.fillRoundRect({16, 12, g.edge - 16, 48}, 10, colours::kStatusBar);
    p.fillCircle(35, 30, 5, live ? colours::kLiveGreen : colours::kOffGrey);
    const char* badge = live ? "LIVE" : "CAMERA OFF";
    float w = p.measureText(badge, Font::Badge, 300).width;
    p.drawText(badge, {50, 12, 50 + w + 4, 48}, {Font::Badge, Align::Leading}, colours::kPrimaryText);
    // The call sees the camera only while frames reach a companion that someone reads (not with
    // --no-camera, nor while a companion that ended is being started again, nor while no app reads it).
    const bool seen = live && engine.linkUp && !cameraUnwatched(engine.outputs);
    p.drawText(seen ? "The call sees your camera." : "Nothing is being sent to the call.",
               {w + 62, 12, g.edge - 24, 48}, {Font::Body, Align::Leading}, colours::kSecondaryText);
}

void drawPreview(Painter& p, Panel& panel, const Rect& r, const EngineView& engine) {
    p.pushRoundClip(r, 10);
    p.fillRect(r, colours::kPreviewGround);
    if (panel.ui.hasPreviewFrame && engine.status == kStatusRunning) {
        p.drawPreview(r, panel.state.mirror);
    } else {
        std::string text = previewMessage(engine.status, engine.sourceLabel);
        float width = r.width() - 80;
        float h = p.measureText(text, Font::Preview, width, true).height;
        float top = (r.height() - h) / 2 + r.top;
        p.drawText(text, {r.left + 40, top, r.left + 40 + width, top + h + 4},
                   {Font::Preview, Align::Centre, true}, colours::kSecondaryText);
    }
    p.popClip();
}

void drawSwitch(Painter& p, const Rect& track, bool on) {
    p.fillRoundRect(track, 11, on ? colours::kAccent : colours::kSwitchOff);
    float cy = (track.top + track.bottom) / 2;
    p.fillCircle(on ? track.right - 11 : track.left + 11, cy, 9, colours::kWhite);
}

void drawFiltersRow(DrawContext& dc, const PanelGeometry& g, float y, const EngineView& engine) {
    Painter& p = dc.painter;
    PanelState& ui = dc.panel.ui;
    float w = p.measureText("Filters", Font::Body, 200).width;
    p.drawText("Filters", {16, y, 16 + w + 4, y + 34}, {Font::Body, Align::Leading}, colours::kPrimaryText);
    drawSwitch(p, {w + 26, y + 6, w + 66, y + 28}, dc.panel.state.filters);
    addRegion(ui, {16, y, w + 66, y + 34}, kHitFiltersSwitch, 0);

    std::string label = cameraChipLabel(engine.status, engine.sourceLabel);
    float chipLeft = w + 80;
    float chipRight = drawChip(dc, chipLeft, y, 34, icon::kVideo, label, kHitCameraChip, 0);
    ui.cameraChipRect = {chipLeft, y, chipRight, y + 34};

    Rect button{g.edge - 50, y, g.edge - 16, y + 34};
    bool open = ui.cardOpen || isHovered(ui, kHitVirtualCameraButton, 0);
    p.fillRoundRect(button, 7, open ? colours::kChipHover : colours::kChip);
    drawIcon(p, icon::kSetting, button, Font::Icon, colours::kPrimaryText);
    p.fillCircle(button.right - 8, y + 8, 3.5f, engine.linkUp ? colours::kLiveGreen : colours::kIdleOrange);
    addRegion(ui, button, kHitVirtualCameraButton, 0);

    if (engine.status == kStatusRunning && engine.frameMs > 0) {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f ms / frame", engine.frameMs);
        p.drawText(text, {chipRight + 8, y, g.edge - 62, y + 34}, {Font::Body, Align::Trailing},
                   colours::kSecondaryText);
    }
    if (!ui.statusMessage.empty())
        p.drawText(ui.statusMessage, {16, y + 42, g.edge - 16, y + 82},
                   {Font::Body, Align::Leading, true, true}, colours::kSecondaryText);
}

void drawResetAll(DrawContext& dc, const PanelGeometry& g) {
    Painter& p = dc.painter;
    float w = p.measureText("Reset all", Font::Small, 200).width;
    float right = g.width - 15;
    Rect button{right - w - 34, 10, right, 34};
    p.fillRoundRect(button, 6,
                    isHovered(dc.panel.ui, kHitResetAll, 0) ? colours::kChipHover : colours::kChip);
    drawIcon(p, icon::kRefresh, {button.left + 6, 10, button.left + 24, 34}, Font::SmallIcon,
             colours::kPrimaryText);
    p.drawText("Reset all", {button.left + 26, 10, right, 34}, {Font::Small, Align::Leading},
               colours::kPrimaryText);
    addRegion(dc.panel.ui, button, kHitResetAll, 0);
}

void drawTabs(DrawContext& dc, const PanelGeometry& g) {
    Painter& p = dc.painter;
    PanelState& ui = dc.panel.ui;
    for (int t = 0; t < kTabCount; ++t) {
        float x = g.edge + 15 + t * 59.6f;
        Rect tab{x, 40, x + 53.6f, 86};
        bool selected = dc.panel.state.tab == t;
        Colour fill = selected ? colours::kAccentTint
                               : (isHovered(ui, kHitTab, t) ? colours::kTileHover : colours::kTabIdle);
        p.fillRoundRect(tab, 8, fill);
        Colour ink = selected ? colours::kAccent : colours::kSecondaryText;
        const TabModule& module = tabModule(t);
        drawIcon(p, module.icon, {x, 45, x + 53.6f, 67}, Font::Icon, ink);
        p.drawText(module.title, {x - 4, 67, x + 57.6f, 82}, {Font::Tab, Align::Centre}, ink);
        addRegion(ui, tab, kHitTab, t);
    }
}

void drawCard(DrawContext& dc, const PanelGeometry& g, float filtersTop, const EngineView& engine) {
    Painter& p = dc.painter;
    const std::string outputs = engine.linkUp ? cameraOutputsNote(engine.outputs) : std::string();
    const std::string note = outputs.empty() ? std::string(kCardNote) : outputs + " " + kCardNote;
    float h = p.measureText(note, Font::Body, kContentWidth, true).height;
    Rect card = virtualCameraCardRect(g, filtersTop, h);
    p.fillRoundRect(card, 12, colours::kCard);
    p.strokeRoundRect({card.left + 0.5f, card.top + 0.5f, card.right - 0.5f, card.bottom - 0.5f}, 12, 1,
                      colours::kTrack);
    float cx = card.left + 16, cy = card.top + 16;
    p.drawText("Virtual camera", {cx, cy, cx + kContentWidth, cy + 22}, {Font::Heading, Align::Leading},
               colours::kPrimaryText);
    const bool sending = engine.linkUp && !cameraUnwatched(engine.outputs);
    Colour ink = sending ? colours::kLiveGreen : colours::kSecondaryText;
    drawIcon(p, sending ? icon::kCheckMark : icon::kCancel, {cx, cy + 30, cx + 20, cy + 52}, Font::SmallIcon,
             ink);
    p.drawText(sending ? "Sending to \u201cQuillmere\u201d" : "Ready. No app is using it right now.",
               {cx + 26, cy + 30, cx + kContentWidth, cy + 52}, {Font::Body, Align::Leading}, ink);
    drawNote(dc, note, cx, cy + 62, kContentWidth);
    addRegion(dc.panel.ui, card, kHitVirtualCameraCard, 0);
}

}  // namespace

std::string cameraOutputsNote(uint32_t outputs) {
    if (outputs & kOutputRecording) return "This session is being recorded to a file.";
    const bool pipewire = outputs & kOutputPipeWire, loopback = outputs & kOutputLoopback;
    if (pipewire && loopback) return "Apps find it through PipeWire and the loopback device.";
    if (pipewire)
        return "Browsers find it through PipeWire; apps that need a loopback device don't see it yet.";
    if (loopback) return "Apps find it through the loopback device.";
    return {};
}

EngineView readEngineView(SharedState& shared) {
    EngineView view;
    view.status = shared.status.load();
    view.frameMs = shared.frameMs.load();
    view.linkUp = shared.linkUp.load();
    view.outputs = shared.cameraOutputs.load();
    std::lock_guard lock(shared.filterLock);
    view.sourceLabel = shared.sourceLabel;
    return view;
}

Rect previewRect(float width, float height) {
    float edge = panelGeometry(width, height).edge;
    float available = edge - 32;
    float n = (height - 168) * 16 / 9;
    n = std::min(available, n) < 200 ? 200 : std::min(available, n);
    float p = n * 9 / 16;
    float x0 = (available - n) / 2 + 16;
    return {x0, 64, x0 + n, 64 + p};
}

void clipRegionsBelow(std::vector<HitRegion>& regions, size_t first, float top) {
    for (size_t i = first; i < regions.size(); ++i) {
        HitRegion& r = regions[i];
        r.top = std::max(r.top, top);
        r.bottom = std::max(r.bottom, r.top);
    }
}

float filtersRowTop(const Rect& preview) {
    return preview.bottom + 16;
}

Rect virtualCameraCardRect(const PanelGeometry& g, float filtersTop, float noteHeight) {
    float right = g.edge - 16, bottom = filtersTop - 8;
    return {right - 320, bottom - (noteHeight + 94), right, bottom};
}

std::string previewMessage(int status, const std::string& sourceLabel) {
    switch (status) {
        case kStatusTurnedOff:
            return "Camera off";
        case kStatusNoCamera:
            return "No camera found.\nPlug one in, then pick it under the picture.";
        case kStatusNoFrames:
            return (sourceLabel.empty() ? std::string("The camera") : sourceLabel) +
                   " is not sending video.\nAnother app may be using it. In that app, choose Quillmere as "
                   "the "
                   "camera, or close it.";
        default:
            return "Starting the camera";
    }
}

std::string cameraChipLabel(int status, const std::string& sourceLabel) {
    std::string label;
    if (status == kStatusTurnedOff)
        label = "Camera off";
    else if (!sourceLabel.empty())
        label = sourceLabel;
    else
        label = status == kStatusNoCamera ? "No camera" : "Camera";
    return label + "  \u25BE";
}

PaintResult paintWindow(Painter& p, Panel& panel, float width, float height, const EngineView& engine) {
    PanelState& ui = panel.ui;
    const PanelGeometry g = panelGeometry(width, height);
    DrawContext dc{p, panel, g.contentLeft};
    ui.regions.clear();
    ui.sliders.clear();
    ui.sceneNameWanted = false;
    p.clear(colours::kWindow);

    drawStatusBar(p, g, engine);
    Rect preview = previewRect(width, height);
    drawPreview(p, panel, preview, engine);
    float filtersTop = filtersRowTop(preview);
    drawFiltersRow(dc, g, filtersTop, engine);

    p.fillRect({g.edge, 0, g.edge + 1, height}, colours::kDivider);
    drawResetAll(dc, g);
    drawTabs(dc, g);

    const int tab = std::clamp(panel.state.tab, 0, kTabCount - 1);
    const TabModule& module = tabModule(tab);
    float headerBottom = 96;
    if (module.drawHeader) headerBottom = module.drawHeader(dc, headerBottom);
    p.fillRect({g.edge + 1, headerBottom, g.edge + 321, headerBottom + 1}, colours::kDivider);
    const float top = headerBottom + 1;
    ui.viewportHeight = height - top;
    float& scroll = ui.tabScroll[tab];
    scroll = std::clamp(scroll, 0.0f, maxTabScroll(ui));

    p.pushClip({g.edge + 1, top, width, height});
    const size_t firstTabRegion = ui.regions.size();
    const float startY = top + 16 - scroll;
    float y = startY;
    module.draw(dc, y);
    ui.contentHeight = y - startY + 32;
    p.popClip();

    PaintResult result;
    if (tab == 4 && ui.sceneNameWanted && ui.sceneNameRect.top >= top) {
        result.sceneNameVisible = true;
        const Rect& r = ui.sceneNameRect;
        result.sceneNameRect = {r.left + 8, r.top + 6, r.right - 8, r.bottom - 6};
    }

    clipRegionsBelow(ui.regions, firstTabRegion, top);

    if (ui.contentHeight > ui.viewportHeight) {
        float length = std::max(30.0f, ui.viewportHeight * ui.viewportHeight / ui.contentHeight);
        float thumbTop = (ui.viewportHeight - length) * scroll / (ui.contentHeight - ui.viewportHeight) + top;
        p.fillRoundRect({width - 6, thumbTop, width - 2, thumbTop + length}, 2, colours::kSegmentSelected);
    }

    if (ui.cardOpen) drawCard(dc, g, filtersTop, engine);
    return result;
}

}  // namespace qm
