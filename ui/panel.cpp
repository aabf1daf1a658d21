#include "ui/panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qm {
namespace {

// Face kinds of the built-in face tiles, by tile index.
constexpr int kBuiltInFaceKinds[] = {kFaceNone,   kFaceMorvel, kFaceOrange,
                                     kFaceBanana, kFaceKitten, kFaceGoogly};

bool inList(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

// The list entry for a tile index counted from `first`; null when outside the list.
const std::string* entryAt(const std::vector<std::string>& list, int index, int first) {
    int at = index - first;
    if (at < 0 || at >= static_cast<int>(list.size())) return nullptr;
    return &list[at];
}

void toggleBackground(Panel& panel) {
    FilterState& s = panel.state;
    if (s.background != "none") {
        s.background = "none";
        return;
    }
    const std::string& last = panel.ui.lastBackground;
    s.background = (last == "blur" || inList(panel.lists.backgrounds, last)) ? last : "blur";
}

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

}  // namespace

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
    panel.host.publish();
    if (save) panel.host.save();
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
        case kHitSceneTile:
        case kHitSaveScene:
            panel.host.tabClick(region);
            return;
        case kHitFaceTile:
            if (panel.host.tabClick(region)) return;
            if (region.index >= 0 && region.index < static_cast<int>(std::size(kBuiltInFaceKinds)))
                s.face = kBuiltInFaceKinds[region.index];
            break;
        case kHitFitSlot:
            ui.fitSlot = region.index;
            break;
        case kHitSliderReset:
            if (region.index >= 0 && region.index < static_cast<int>(ui.sliders.size())) {
                const SliderBinding& slider = ui.sliders[region.index];
                if (slider.value)
                    *slider.value = slider.reversed ? -slider.defaultValue : slider.defaultValue;
            }
            break;
        case kHitTorsoTile:
            if (region.index == 0)
                s.torso.clear();
            else if (const std::string* name = entryAt(panel.lists.torsos, region.index, 1))
                s.torso = *name;
            break;
        case kHitBodylessSwitch:
            s.bodyless = !s.bodyless;
            break;
        case kHitCaptureRoom:
            ui.roomCountdown = 3;
            break;
        case kHitClearRoom:
            panel.shared.forgetRoomRequest.exchange(true);
            break;
        case kHitForgetRoom:
            panel.shared.forgetRoom.exchange(true);
            break;
        case kHitLookSegment:
            s.look = std::clamp(region.index, 0, 3);
            break;
        case kHitMasculineSegment:
            s.masculine = region.index == 1;
            break;
        case kHitBackgroundTile:
            if (region.index == 0)
                s.background = "none";
            else if (region.index == 1)
                s.background = "blur";
            else if (const std::string* file = entryAt(panel.lists.backgrounds, region.index, 2))
                s.background = *file;
            break;
        case kHitBackgroundSwitch:
            toggleBackground(panel);
            break;
        case kHitRemoveAllFilters:
            removeAllFilters(panel);
            break;
        case kHitEyesSegment:
            s.photoFit.photoEyes = region.index == 0;
            break;
        case kHitMouthSegment:
            s.photoFit.photoMouth = region.index == 0;
            break;
        case kHitVisitorSegment:
            if (region.index == 0)
                s.visitor.clear();
            else if (const std::string* name = entryAt(panel.lists.visitors, region.index, 1))
                s.visitor = *name;
            break;
        case kHitSendVisitor:
            panel.shared.visitorRestart.exchange(true);
            break;
        case kHitGhostSwitch:
            s.ghost = !s.ghost;
            break;
        default:
            // Wear slot chips, wear tiles, user faces and adding pictures belong to the tab screens.
            if (panel.host.tabClick(region)) return;
            break;
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
    panel.host.save();
    panel.host.repaint();
    return true;
}

void onRightButtonUp(Panel& panel, float x, float y) {
    const HitRegion* hit = hitTest(panel.ui.regions, x, y);
    if (!hit) return;
    if (hit->kind == kHitSceneTile || hit->kind == kHitUserFaceTile ||
        (hit->kind == kHitBackgroundTile && hit->index >= 2)) {
        HitRegion region = *hit;
        panel.host.tabRightClick(region);
    }
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
