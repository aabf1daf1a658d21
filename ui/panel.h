// Panel: the window's state and behaviour apart from any toolkit. The window (ui/main_window.cpp) owns
// one Panel, turns toolkit events into the calls below and implements PanelHost for the effects that
// need the platform (repaint, mouse capture, menus, dialogs, files).
//
// Window thread only. The Panel holds references to the FilterState and the lists (owned by the
// window settings) and to the state block shared with the engine; it owns the per-paint lists of
// regions and sliders, which are valid only until the next paint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/filter_state.h"
#include "settings/settings_paths.h"
#include "settings/shared_state.h"
#include "ui/panel_types.h"

namespace qm {

constexpr int kTabCount = 5;
constexpr float kWheelStep = 60;  // DIPs per wheel notch

// One entry of a popup menu.
struct MenuItem {
    std::string label;
    int command = 0;  // returned when chosen; 0 for separators
    bool enabled = true;
    bool checked = false;  // drawn with a check mark
    bool separator = false;
};

// The window's side effects that need the platform. Defaults do nothing, so tests override only what
// they watch.
class PanelHost {
public:
    virtual ~PanelHost() = default;
    virtual void repaint() {}
    // Drops the drawing resources (thumbnails, preview picture); the next paint rebuilds them, after a
    // library changed.
    virtual void releaseDeviceResources() {}
    virtual void captureMouse() {}
    virtual void releaseMouse() {}
    virtual void showCameraMenu() {}
    virtual void resetAll() {}
    // Shows a popup menu with its top-left corner at (x, y) DIPs in the window and waits for the
    // choice: the chosen item's command, or 0 when dismissed.
    virtual int popupMenu(const std::vector<MenuItem>& items, float x, float y) {
        (void)items, (void)x, (void)y;
        return 0;
    }
    // The open-file dialog for a video to play instead of the camera: the chosen path, or empty.
    virtual std::string chooseVideoFile() { return {}; }
    // The open-file dialog for a picture (png, jpg, jpeg, bmp, gif, tif, tiff, webp, or any file) under the
    // given title: the chosen path, or empty when cancelled.
    virtual std::string choosePicture(const std::string& title) {
        (void)title;
        return {};
    }
    // Whether the file is a picture of a size the program decodes (it reads only the file's header); the
    // default takes every file for one.
    virtual bool isPicture(const std::string& path) {
        (void)path;
        return true;
    }
    // The scene-name field: its text, and putting text into it (focused, all selected, when asked).
    virtual std::string sceneNameText() { return {}; }
    virtual void setSceneNameText(const std::string& text, bool focusAndSelect) {
        (void)text, (void)focusAndSelect;
    }
    // The window's own copy of the last preview frame (1280 × 720 BGRA); null when it holds none.
    virtual const uint8_t* previewFrame(size_t* bytes) {
        *bytes = 0;
        return nullptr;
    }
};

// Window-side state that is not part of the FilterState.
struct PanelState {
    int hoverKind = kHitNothing, hoverIndex = 0;
    int dragSlider = -1;
    bool cardOpen = false;
    float tabScroll[kTabCount] = {};
    float viewportHeight = 0, contentHeight = 0;
    int roomCountdown = 0;
    int fitSlot = -1;
    // Each wear slot's section top below the Wear tab's content start, written by its paint; the slot
    // chips scroll there.
    float wearSectionTop[kWearSlots] = {};
    std::string activeScene;
    std::string renameScene;  // the scene whose name the name field edits; empty: it names a new scene
    std::string lastBackground = "blur";
    std::string statusMessage;
    bool hasPreviewFrame = false;
    bool cameraTurnedOff = false;
    // Rebuilt by every paint.
    std::vector<HitRegion> regions;
    std::vector<SliderBinding> sliders;
    Rect cameraChipRect;
    Rect sceneNameRect;            // written by the Scenes tab
    bool sceneNameWanted = false;  // the Scenes tab drew its name field this paint
};

struct Panel {
    FilterState& state;
    SettingsLists& lists;
    SharedState& shared;
    const SettingsPaths& paths;  // where applyChange saves the settings
    PanelHost& host;
    PanelState ui;
};

// The region under the point (DIPs), searching from the last drawn; null when none. Left and top are
// inclusive, right and bottom exclusive.
const HitRegion* hitTest(const std::vector<HitRegion>& regions, float x, float y);

// The stored value for a slider at screen x (DIPs): the track position's value, negated when reversed.
float sliderValueAt(const SliderBinding& slider, float x);

// Moves the dragged slider to x (DIPs) and publishes without saving; ignored when no valid drag.
void moveDraggedSlider(Panel& panel, float x);

// Publishes the filter state to the engine, saves the settings file when asked, repaints; remembers the
// last background that was not "none".
void applyChange(Panel& panel, bool save);

// Turns every filter off (face, wear, torso, body-less, background, look), keeping fits, visitor and the
// switches, and says so in the status line.
void removeAllFilters(Panel& panel);

// Performs the action of a clicked control: the panel's own ones here, a tab's through its module.
void onControlClick(Panel& panel, const HitRegion& region);

// Mouse input, in DIPs.
void onLeftButtonDown(Panel& panel, float x, float y);
void onMouseMove(Panel& panel, float x, float y);
void onMouseLeave(Panel& panel);
// Ends a slider drag (button release or lost capture): saves once and repaints. Returns false when no
// drag was running.
bool endSliderDrag(Panel& panel, bool releaseCapture);
void onRightButtonUp(Panel& panel, float x, float y);

// The furthest a tab scrolls: max(0, content - viewport).
float maxTabScroll(const PanelState& ui);
// Scrolls the current tab by wheel delta (120 per notch, positive = away from the user) and clamps.
void onWheel(Panel& panel, int wheelDelta);

// The one-second timer: room capture countdown, what came of a face photo, repaint.
void onTimerTick(Panel& panel);

// Engine notices. Each returns whether the window must repaint.
// New frame: clears previewPosted and, when a frame is ready, copies previewBuffer into `frameCopy`.
bool takePreviewFrame(SharedState& shared, std::vector<uint8_t>& frameCopy);
// Status change: a status other than running hides the last frame.
bool onStatusNotice(Panel& panel);

}  // namespace qm
