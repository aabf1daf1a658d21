// The window's paint: status bar, preview, Filters row, panel frame, tabs, the scrolling tab area, the
// scroll bar and the Virtual camera card, in that order, through the Painter. It rebuilds the panel's
// regions and sliders; the caller then applies the returned placement of the scene-name field.
//
// Window thread only. The engine's values arrive as an EngineView copied by the caller.
#pragma once

#include <string>
#include <vector>

#include "settings/shared_state.h"
#include "ui/controls.h"

namespace qm {

// What the paint shows of the engine.
struct EngineView {
    int status = kStatusNone;
    std::string sourceLabel;
    float frameMs = 0;
    bool linkUp = false;
    uint32_t outputs = 0;  // CameraOutputs bits while the link is up
};
// Reads status, frameMs, linkUp and the camera's outputs, and sourceLabel under filterLock.
EngineView readEngineView(SharedState& shared);

// The 16:9 preview for a client area of W × H DIPs; never narrower than 200 DIPs.
Rect previewRect(float width, float height);
// Cuts the regions from `first` on at `top`, so nothing scrolled under the header can be hit (a region
// wholly above it becomes empty).
void clipRegionsBelow(std::vector<HitRegion>& regions, size_t first, float top);
// The Filters row's top for that preview.
float filtersRowTop(const Rect& preview);
// The Virtual camera card for a note height h.
Rect virtualCameraCardRect(const PanelGeometry& g, float filtersTop, float noteHeight);
// The text inside the preview when no frame is shown.
std::string previewMessage(int status, const std::string& sourceLabel);
// Where the camera is offered, for the Virtual camera card ("Apps find it through PipeWire and the
// loopback device."); empty while no companion is linked.
std::string cameraOutputsNote(uint32_t outputs);
// The camera chip's label.
std::string cameraChipLabel(int status, const std::string& sourceLabel);

struct PaintResult {
    bool sceneNameVisible = false;
    Rect sceneNameRect;  // DIPs, already inset
};

PaintResult paintWindow(Painter& painter, Panel& panel, float width, float height, const EngineView& engine);

}  // namespace qm
