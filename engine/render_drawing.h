// The engine's drawing through the rendering subsystem: the Cairo canvas and its resources (Graphics) and
// the frame composition with its painters (Composer).
//
// Contract: made on the engine thread by the engine's drawing factory and used only there; owns the
// graphics resources. The read-back view points into the canvas until the next frame is drawn.
#pragma once

#include <memory>

#include "base/launch_options.h"
#include "engine/engine_seams.h"
#include "render/composition.h"
#include "render/graphics.h"

namespace qm {

class RenderDrawing final : public FrameDrawing {
public:
    // Null when the graphics resources cannot be made (the failure is already reported).
    static std::unique_ptr<RenderDrawing> create(const LaunchOptions& options);

    HResult frameSizeChanged(uint32_t width, uint32_t height) override;
    FramePlan prepare(const FrameFilters& filters, bool maskModelLoaded) override;
    void setFacePhoto(std::unique_ptr<FacePhoto> photo) override { composer_.setFacePhoto(std::move(photo)); }
    void restartVisitor() override { composer_.restartVisitor(); }
    bool compose(const FrameInput& input, const FrameFilters& filters) override;
    bool roomCaptured() const override { return composer_.roomIsCaptured(); }
    HResult readback(CanvasView* view) override;

    ~RenderDrawing() override { composer_.releaseTorso(); }

private:
    RenderDrawing() : composer_(graphics_) {}

    Graphics graphics_;
    Composer composer_;
};

}  // namespace qm
