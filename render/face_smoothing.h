// The face smoothing state that makes every face filter follow the face steadily: five slow baselines
// (eye openness, gaze, brow, closed mouth width) that survive a lost face, and seven anchor filters that a
// lost face resets. Owned by the composer on the engine thread; read by the face painters.
#pragma once

#include "render/one_euro_filter.h"
#include "tracking/face_types.h"

namespace qm {

struct FaceBaselines {
    float eyeOpenReference = 0.3f;
    float gazeSlowX = 0, gazeSlowY = 0;
    float gazeFastX = 0, gazeFastY = 0;
    float browBaseline = 0;
    float closedMouthWidth = 0;
};

// One frame with a face moves the baselines toward its measures.
void updateBaselines(FaceBaselines& baselines, const FaceGeometry& face);

// The seven smoothed anchors of one frame.
struct SmoothedAnchors {
    float centreX = 0, centreY = 0;
    float eyeMidX = 0, eyeMidY = 0;
    float faceWidth = 0;
    float eyeDistance = 0;
    float roll = 0;
};

struct AnchorFilters {
    OneEuroFilter centreX{0.05}, centreY{0.05}, eyeMidX{0.05}, eyeMidY{0.05};
    OneEuroFilter faceWidth{0.02}, eyeDistance{0.02};
    OneEuroFilter roll{0.5};

    SmoothedAnchors filter(const FaceGeometry& face, double elapsed);
    void reset();
};

}  // namespace qm
