#include "ui/panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "settings/publish.h"
#include "settings/settings_file.h"
#include "ui/tabs/tab.h"

namespace qm {
void removeAllFilters(Panel& panel) {
    FilterState& s = panel.state;
    s.face = kFaceNone;
    for (std::string& item : s.wear)
        item.clear();
    s.torso.clear();
    s.bodyless = false;
    s.background = "none";
    s.look = kLookNone;
    panel.ui.statusMessage = "All filters off. Your saved faces and backgrounds are still here.";
}

const HitRegion* hitTest(const std::vector<HitRegion>& regions, float x, float y) {
    for (auto it = regions.rbegin(); it != regions.rend(); ++it)
        if (it->contains(x, y)) return &*it;
    return nullptr;
}

float sliderValueAt(const SliderBinding& slider, float x) {
    float t = (x - slider.left) / std::max(slider.right - slider.left, 1.0f);
    t = std::clamp(t, 0.0f, 1.0f);
    float value = slider.minimum + (slider.maximum - slider.minimum) * t;
    return slider.reversed ? -value : value;
}

void moveDraggedSlider(Panel& panel, float x) {
    int index = panel.ui.dragSlider;
    if (index < 0 || index >= static_cast<int>(panel.ui.sliders.size())) return;
    const SliderBinding& slider = panel.ui.sliders[index];
    if (!slider.value) return;
    *slider.value = sliderValueAt(slider, x);
    applyChange(panel, false);
}

void applyChange(Panel& panel, bool save) {
    if (panel.state.background != "none") panel.ui.lastBackground = panel.state.background;
    publishFilters(panel.state, panel.paths, panel.shared);
    if (save) saveSettings(panel.paths, panel.state);
    panel.host.repaint();
}

void onControlClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    PanelState& ui = panel.ui;
    switch (region.kind) {
        case kHitFiltersSwitch:
            s.filters = !s.filters;
            break;
        case kHitCameraChip:
            panel.host.showCameraMenu();
            return;
        case kHitVirtualCameraButton:
            ui.cardOpen = !ui.cardOpen;
            break;
        case kHitTab:
            s.tab = std::clamp(region.index, 0, kTabCount - 1);
            break;
        case kHitResetAll:
            panel.host.resetAll();
            return;
        case kHitSliderReset:
            if (region.index >= 0 && region.index < static_cast<int>(ui.sliders.size())) {
                const SliderBinding& slider = ui.sliders[region.index];
                if (slider.value)
                    *slider.value = slider.reversed ? -slider.defaultValue : slider.defaultValue;
            }
            break;
        default: {
            TabClick result = TabClick::NotMine;
            for (int tab = 0; tab < kTabCount && result == TabClick::NotMine; ++tab)
                result = tabModule(tab).click(panel, region);
            if (result != TabClick::Changed) return;
            break;
        }
    }
    ui.activeScene.clear();
    applyChange(panel, true);
}

void onLeftButtonDown(Panel& panel, float x, float y) {
    PanelState& ui = panel.ui;
    const HitRegion* hit = hitTest(ui.regions, x, y);
    // With the card open, any click but on its button or the card itself only closes it.
    if (ui.cardOpen &&
        (!hit || (hit->kind != kHitVirtualCameraButton && hit->kind != kHitVirtualCameraCard))) {
        ui.cardOpen = false;
        panel.host.repaint();
        return;
    }
    if (!hit || hit->kind == kHitVirtualCameraCard) return;
    if (hit->kind == kHitSliderTrack) {
        ui.dragSlider = hit->index;
        panel.host.captureMouse();
        moveDraggedSlider(panel, x);
        return;
    }
    HitRegion region = *hit;  // the dispatcher may repaint, which rebuilds the list
    onControlClick(panel, region);
}

void onMouseMove(Panel& panel, float x, float y) {
    PanelState& ui = panel.ui;
    if (ui.dragSlider >= 0) {
        moveDraggedSlider(panel, x);
        return;
    }
    const HitRegion* hit = hitTest(ui.regions, x, y);
    int kind = hit && hit->kind != kHitVirtualCameraCard ? hit->kind : kHitNothing;
    int index = kind != kHitNothing ? hit->index : 0;
    if (kind != ui.hoverKind || index != ui.hoverIndex) {
        ui.hoverKind = kind;
        ui.hoverIndex = index;
        panel.host.repaint();
    }
}

void onMouseLeave(Panel& panel) {
    if (panel.ui.hoverKind == kHitNothing) return;
    panel.ui.hoverKind = kHitNothing;
    panel.host.repaint();
}

bool endSliderDrag(Panel& panel, bool releaseCapture) {
    if (panel.ui.dragSlider < 0) return false;
    panel.ui.dragSlider = -1;
    if (releaseCapture) panel.host.releaseMouse();
    saveSettings(panel.paths, panel.state);
    panel.host.repaint();
    return true;
}

void onRightButtonUp(Panel& panel, float x, float y) {
    const HitRegion* hit = hitTest(panel.ui.regions, x, y);
    if (!hit) return;
    HitRegion region = *hit;  // the menu's action may repaint, which rebuilds the list
    for (int tab = 0; tab < kTabCount; ++tab)
        if (auto rightClick = tabModule(tab).rightClick; rightClick && rightClick(panel, region, x, y))
            return;
}

float maxTabScroll(const PanelState& ui) {
    return std::max(0.0f, ui.contentHeight - ui.viewportHeight);
}

void onWheel(Panel& panel, int wheelDelta) {
    int tab = std::clamp(panel.state.tab, 0, kTabCount - 1);
    float& scroll = panel.ui.tabScroll[tab];
    scroll -= wheelDelta / 120.0f * kWheelStep;
    scroll = std::clamp(scroll, 0.0f, maxTabScroll(panel.ui));
    panel.host.repaint();
}

void onTimerTick(Panel& panel) {
    if (panel.ui.roomCountdown > 0) {
        if (--panel.ui.roomCountdown == 0) panel.shared.captureRoomRequest.exchange(true);
    }
    // The engine's word on the photo face just prepared; the face worn before stays on when it failed.
    switch (panel.shared.facePhotoNews.exchange(kPhotoNoNews)) {
        case kPhotoNoFace:
            panel.ui.statusMessage = "No face found in that picture: your own eyes and mouth go on it.";
            break;
        case kPhotoUnreadable:
            panel.ui.statusMessage = "Couldn't read that picture.";
            break;
        default:
            break;
    }
    panel.host.repaint();
}

bool takePreviewFrame(SharedState& shared, std::vector<uint8_t>& frameCopy) {
    shared.previewPosted.store(false);
    std::lock_guard lock(shared.filterLock);
    if (!shared.previewReady) return false;
    // Same size every frame, so the copy allocates only the first time.
    frameCopy.resize(shared.previewBuffer.size());
    if (!shared.previewBuffer.empty())
        std::memcpy(frameCopy.data(), shared.previewBuffer.data(), shared.previewBuffer.size());
    shared.previewReady = false;
    return true;
}

bool onStatusNotice(Panel& panel) {
    if (panel.shared.status.load() != kStatusRunning) panel.ui.hasPreviewFrame = false;
    return true;
}

}  // namespace qm
