// The engine's face tracking through the tracking subsystem's FaceTracker: made on the engine thread,
// where it loads the models (a failure throws ModelError, which ends the engine with its log line).
#pragma once

#include "base/launch_options.h"
#include "engine/engine_seams.h"
#include "tracking/face_tracker.h"
#include "tracking/touch_up_look.h"

namespace qm {

class ModelFaceTracking final : public FaceTracking {
public:
    explicit ModelFaceTracking(const LaunchOptions& options);

    bool personMaskLoaded() const override { return tracker_.personMaskSession != nullptr; }
    int detectorRuns() const override { return tracker_.detectorRuns; }
    bool detectFace(const SourceFrame& frame, FaceRegion* region) override;
    float trackFace(const SourceFrame& frame, const FaceRegion& region, LandmarkSet* landmarks) override;
    FaceRegion regionFromLandmarks(const LandmarkSet& landmarks) override;
    FaceGeometry computeGeometry(const LandmarkSet& landmarks) override;
    const uint8_t* segmentPerson(const SourceFrame& frame) override;
    void applyLook(SourceFrame& frame, const LandmarkSet& landmarks, const FaceGeometry& face, int look,
                   bool masculine, float strength) override;

    // The drawing side runs the person mask through the same tracker.
    FaceTracker& tracker() { return tracker_; }

private:
    FaceTracker tracker_;
    LookBuffers lookBuffers_;  // kept between frames, grown with the face
};

}  // namespace qm
