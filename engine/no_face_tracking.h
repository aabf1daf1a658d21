// Tracking that never finds a face: what the engine uses when it is given no tracker.
#pragma once

#include "engine/engine_seams.h"

namespace qm {

class NoFaceTracking final : public FaceTracking {
public:
    bool detectFace(const SourceFrame&, FaceRegion*) override { return false; }
    float trackFace(const SourceFrame&, const FaceRegion&, LandmarkSet*) override { return 0; }
    FaceRegion regionFromLandmarks(const LandmarkSet& landmarks) override { return landmarks.region; }
    FaceGeometry computeGeometry(const LandmarkSet&) override { return {}; }
};

}  // namespace qm
