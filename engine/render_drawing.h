// The engine's drawing through the rendering subsystem: the Cairo canvas and its resources (Graphics),
// the frame composition (Composer), the loaded background picture and the wear catalogue lookups.
//
// Contract: made on the engine thread by the engine's drawing factory and used only there; owns the
// graphics resources. The read-back view points into the canvas until the next frame is drawn. The room flags
// point into the shared block.
#pragma once

#include <memory>
#include <vector>

#include "base/launch_options.h"
#include "engine/engine_seams.h"
#include "render/composition.h"
#include "render/graphics.h"
#include "settings/shared_state.h"

namespace qm {

class RenderDrawing final : public FrameDrawing {
public:
    // Null when the graphics resources cannot be made (the failure is already reported).
    static std::unique_ptr<RenderDrawing> create(const LaunchOptions& options, SharedState& shared);

    HResult frameSizeChanged(uint32_t width, uint32_t height) override;
    int findWear(int slot, const std::string& name) override;
    bool loadBackground(const std::string& path) override;
    bool backgroundLoaded() const override { return hasBackground_; }
    bool compose(const SourceFrame& frame, const DrawRequest& request) override;
    HResult readback(CanvasView* view) override;

private:
    explicit RenderDrawing(SharedState& shared) : shared_(shared), composer_(graphics_) {}

    SharedState& shared_;
    Graphics graphics_;
    Composer composer_;
    Picture background_;
    bool hasBackground_ = false;
};

// The processor's model name from /proc/cpuinfo (the "drawing on" line); empty when unknown.
std::string processorModelName();

}  // namespace qm
