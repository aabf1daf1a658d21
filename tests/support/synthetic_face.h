// A face track record (and a person mask) made up for drawing tests and benchmarks: a plausible upright face
// (eyes, brows, mouth, face width in the proportions the tracker gives) at a centre and size, turned by
// `roll`.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

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

// A person mask (256 × 144 BGRA, rows of 1024 bytes) with a soft oval around the head at (headX, headY) of a
// width × height source and a wider one for the shoulders below it.
inline std::vector<uint8_t> headAndShouldersMask(int width, int height, float headX, float headY) {
    constexpr int kW = 256, kH = 144;
    std::vector<uint8_t> mask(kW * kH * 4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const float sx = (x + 0.5f) * width / kW, sy = (y + 0.5f) * height / kH;
            const float head = std::hypot((sx - headX) / 70, (sy - headY) / 90);
            const float body = std::hypot((sx - headX - 5) / 190, (sy - headY - 210) / 130);
            const float v = std::clamp(1.2f - std::min(head, body), 0.0f, 1.0f) * 5;
            std::memset(&mask[(y * kW + x) * 4], static_cast<int>(std::min(v, 1.0f) * 255), 4);
        }
    return mask;
}

}  // namespace qm::test
