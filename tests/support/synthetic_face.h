// A face track record made up for drawing tests and benchmarks: a plausible upright face (eyes, brows,
// mouth, face width in the proportions the tracker gives) at a centre and size, turned by `roll`.
#pragma once

#include <cmath>

#include "tracking/face_types.h"

namespace qm::test {

struct SyntheticFace {
    float centreX = 640, centreY = 360;  // the face centre, source pixels
    float eyeDistance = 60;              // between the eye centres
    float roll = 0;                      // radians, clockwise on screen
    float mouthOpen = 0;
    float eyeOpen = 0.3f;
};

inline FaceGeometry syntheticFace(const SyntheticFace& f) {
    const float d = f.eyeDistance, c = std::cos(f.roll), s = std::sin(f.roll);
    // Points in the face's own frame (x along the eye line, y down), turned and moved to the centre.
    auto at = [&](float x, float y) { return Point2{f.centreX + c * x - s * y, f.centreY + s * x + c * y}; };
    FaceGeometry g;
    g.faceCentre = at(0, 0);
    g.leftEye = at(-0.5f * d, -0.33f * d);
    g.rightEye = at(0.5f * d, -0.33f * d);
    g.leftBrow = at(-0.5f * d, -0.58f * d);
    g.rightBrow = at(0.5f * d, -0.58f * d);
    g.mouthCentre = at(0, 0.75f * d);
    g.eyeWidth = 0.43f * d;
    g.mouthWidth = 0.83f * d;
    g.mouthHeight = 0.3f * d;
    g.faceWidth = 2.17f * d;
    g.roll = f.roll;
    g.mouthOpen = f.mouthOpen;
    g.eyeOpen = f.eyeOpen;
    return g;
}

}  // namespace qm::test
