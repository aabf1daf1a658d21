// The face track: the region the face mesh reads, the landmark set it fills, and the per-frame measures
// (FaceGeometry) that looks, composition and photo preparation use. Plain records, no behaviour.
#pragma once

namespace qm {

// A rotated square in source pixels: centre, side, and angle in radians (0 = upright face; positive turns
// clockwise on screen, y grows downwards).
struct FaceRegion {
    float centreX = 0;
    float centreY = 0;
    float size = 0;
    float angle = 0;
};

struct Point2 {
    float x = 0;
    float y = 0;
};

constexpr int kLandmarkCount = 478;

// The face mesh's output for one frame, in frame pixels, with the depths and the tracking state.
struct LandmarkSet {
    Point2 landmarks[kLandmarkCount];
    float depths[kLandmarkCount] = {};
    FaceRegion region;
    bool tracking = false;
};

// Measures of one tracked face, in frame pixels unless noted.
struct FaceGeometry {
    Point2 leftEye;  // the eye with the smaller x
    Point2 rightEye;
    Point2 leftBrow;  // brow of leftEye
    Point2 rightBrow;
    Point2 mouthCentre;  // mean of the outer lips
    Point2 faceCentre;   // midpoint of forehead top and chin
    Point2 innerMouth;   // mean of the inner lips
    float eyeWidth = 0;
    float mouthWidth = 0;
    float mouthHeight = 0;
    float mouthOpen = 0;  // inner-lip height ÷ mouth width
    float faceWidth = 0;
    float roll = 0;     // radians
    float eyeOpen = 0;  // eye height ÷ eye width, mean of both eyes
    float gazeX = 0;
    float gazeY = 0;
    float browRaise = 0;
    Point2 nose;
    Point2 chin;
};

}  // namespace qm
