// Temporary stand-ins until the rendering and tracking subsystems are wired in: drawing is a plain cover
// copy of the source onto the 1280 × 720 canvas, and tracking never finds a face.
#pragma once

#include <memory>
#include <vector>

#include "engine/engine_seams.h"

namespace qm {

class CoverCopyDrawing final : public FrameDrawing {
public:
    HResult frameSizeChanged(uint32_t width, uint32_t height) override;
    bool compose(const SourceFrame& frame, const DrawRequest& request) override;
    HResult readback(CanvasView* view) override;

private:
    std::vector<uint8_t> canvas_;
    std::vector<uint32_t> columnOf_;  // source column per canvas column
    std::vector<uint32_t> rowOf_;     // source row per canvas row
    uint32_t width_ = 0, height_ = 0;
};

class NoFaceTracking final : public FaceTracking {
public:
    bool detectFace(const SourceFrame&, FaceRegion*) override { return false; }
    float trackFace(const SourceFrame&, const FaceRegion&, LandmarkSet*) override { return 0; }
    FaceRegion regionFromLandmarks(const LandmarkSet& landmarks) override { return landmarks.region; }
    FaceGeometry computeGeometry(const LandmarkSet&) override { return {}; }
};

}  // namespace qm
