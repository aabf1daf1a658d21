// Choosing and decoding the detector's face, the next region from landmarks, and the face geometry on
// a drawn face whose measures are known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"

namespace qm {
namespace {

using namespace face_points;

struct DetectorOutputs {
    std::vector<float> boxes = std::vector<float>(896 * 16, 0.0f);
    std::vector<float> logits = std::vector<float>(896, -10.0f);
    DetectorAnchors anchors = buildDetectorAnchors();
    DetectedFace face;
    bool decode(const Letterbox& box, FaceRegion& region) {
        face.region = region;
        const bool found = decodeBestFace(boxes.data(), logits.data(), anchors, box, face);
        region = face.region;
        return found;
    }
};

TEST(DetectorChoice, KeepsTheFirstHighestScoreAboveOneHalf) {
    DetectorOutputs out;
    const Letterbox square = letterboxFor(128, 128, 128);
    FaceRegion region{1, 2, 3, 4};
    out.logits[7] = 0;  // exactly 0.5: not a face
    EXPECT_FALSE(out.decode(square, region));
    EXPECT_FLOAT_EQ(region.centreX, 1) << "no face leaves the region as it was";

    for (int i : {40, 600, 700}) {
        out.boxes[i * 16 + 2] = 10;
        out.boxes[i * 16 + 3] = 10;
    }
    out.boxes[40 * 16] = 1;
    out.boxes[600 * 16] = 2;
    out.boxes[700 * 16] = 3;
    out.logits[40] = 3;
    out.logits[600] = 5;
    out.logits[700] = 5;  // equal to 600: the lower index wins
    ASSERT_TRUE(out.decode(square, region));
    EXPECT_FLOAT_EQ(region.centreX, out.anchors[600].x * 128 + 2);

    // Logits beyond any float range neither overflow nor lose their order against a finite one.
    out.logits[800] = INFINITY;
    out.boxes[800 * 16 + 2] = 10;
    ASSERT_TRUE(out.decode(square, region));
    EXPECT_FLOAT_EQ(region.centreX, out.anchors[800].x * 128);
    EXPECT_FLOAT_EQ(logistic(1e30f), 1);
    EXPECT_LT(logistic(-1e30f), 1e-30f);
    EXPECT_LT(logistic(-INFINITY), 1e-30f);
    EXPECT_TRUE(std::isnan(logistic(NAN)));
}

TEST(DetectorChoice, DecodesIntoSourcePixels) {
    DetectorOutputs out;
    const Letterbox wide = letterboxFor(1280, 720, 128);  // 10 source pixels per input pixel, bars of 28
    const int row = 33;  // the second anchor of cell (0, 1) of the 16×16 grid
    float* r = &out.boxes[row * 16];
    r[0] = 10, r[1] = 30, r[2] = 30, r[3] = 20;
    r[4] = 0, r[5] = 0, r[6] = 10, r[7] = -10;  // eye 1 up and right of eye 0
    out.logits[row] = 2;
    FaceRegion region;
    ASSERT_TRUE(out.decode(wide, region));
    const float ax = out.anchors[row].x * 128, ay = out.anchors[row].y * 128;
    EXPECT_FLOAT_EQ(region.centreX, (ax + 10) * 10);
    EXPECT_FLOAT_EQ(region.centreY, (ay + 30 - 28) * 10);
    EXPECT_FLOAT_EQ(region.size, 30 * 10 * 1.5f);
    EXPECT_NEAR(region.angle, -M_PI / 4, 1e-6);
    EXPECT_FLOAT_EQ(out.face.eyes[1].x, (ax + 10) * 10);
    EXPECT_FLOAT_EQ(out.face.eyes[1].y, (ay - 10 - 28) * 10);
    EXPECT_NEAR(out.face.score, logistic(2), 1e-6);

    // A chosen row that decodes to nothing usable is no face.
    r[2] = NAN;
    EXPECT_FALSE(out.decode(wide, region));
    r[2] = 0, r[3] = 0;
    EXPECT_FALSE(out.decode(wide, region));
}

// A drawn face: eyes and lips as ellipses, brows as lines above the eyes, the oval a circle whose first
// point (landmark 10) is at the top and whose 19th (152, the chin) is at the bottom.
struct DrawnFace {
    LandmarkSet set;
    Point2 eyeA{100, 100}, eyeB{200, 100};
    float eyeHalfWidth = 15, eyeHalfHeight = 5;
    float innerHalfHeight = 6;
    Point2 irisOffset{3, -2};

    DrawnFace() { draw(); }
    void ellipse(const int* indices, int count, Point2 centre, float a, float b) {
        for (int k = 0; k < count; ++k) {
            const double t = 2 * M_PI * k / count;
            set.landmarks[indices[k]] = {centre.x + a * static_cast<float>(std::cos(t)),
                                         centre.y + b * static_cast<float>(std::sin(t))};
        }
    }
    void draw() {
        for (Point2& p : set.landmarks)
            p = {150, 150};
        ellipse(kEyeA, 16, eyeA, eyeHalfWidth, eyeHalfHeight);
        ellipse(kEyeB, 16, eyeB, eyeHalfWidth, eyeHalfHeight);
        for (int k = 0; k < 10; ++k) {
            set.landmarks[kBrowA[k]] = {eyeA.x - 9 + 2 * k, eyeA.y - 20};
            set.landmarks[kBrowB[k]] = {eyeB.x - 9 + 2 * k, eyeB.y - 20};
        }
        ellipse(kOuterLips, 20, {150, 200}, 40, 15);
        ellipse(kInnerLips, 20, {150, 200}, 30, innerHalfHeight);
        for (int k = 0; k < 36; ++k) {
            const double t = -M_PI / 2 + 2 * M_PI * k / 36;
            set.landmarks[kFaceOval[k]] = {150 + 100 * static_cast<float>(std::cos(t)),
                                           150 + 100 * static_cast<float>(std::sin(t))};
        }
        set.landmarks[kIrisA] = {eyeA.x + irisOffset.x, eyeA.y + irisOffset.y};
        set.landmarks[kIrisB] = {eyeB.x + irisOffset.x, eyeB.y + irisOffset.y};
        set.landmarks[kNose] = {150, 160};
    }
    // Turns the whole face by `angle` about (150, 150) (clockwise on screen for a positive angle).
    void turn(float angle) {
        const float c = std::cos(angle), s = std::sin(angle);
        for (Point2& p : set.landmarks) {
            const float x = p.x - 150, y = p.y - 150;
            p = {150 + x * c - y * s, 150 + x * s + y * c};
        }
    }
    void mirror() {
        for (Point2& p : set.landmarks)
            p.x = 300 - p.x;
    }
};

TEST(FaceGeometry, MeasuresAnUprightFace) {
    DrawnFace face;
    const FaceGeometry g = computeGeometry(face.set);
    EXPECT_NEAR(g.leftEye.x, 100, 1e-3);
    EXPECT_NEAR(g.rightEye.x, 200, 1e-3);
    EXPECT_NEAR(g.leftBrow.y, 80, 1e-3);
    EXPECT_NEAR(g.mouthCentre.y, 200, 1e-3);
    EXPECT_NEAR(g.innerMouth.x, 150, 1e-3);
    EXPECT_NEAR(g.faceCentre.x, 150, 1e-3);
    EXPECT_NEAR(g.faceCentre.y, 150, 1e-3);
    EXPECT_NEAR(g.roll, 0, 1e-5);
    EXPECT_NEAR(g.eyeWidth, 30, 1e-3);
    EXPECT_NEAR(g.eyeOpen, 10.0 / 30, 1e-4);
    EXPECT_NEAR(g.mouthWidth, 80, 1e-3);
    EXPECT_NEAR(g.mouthHeight, 30, 1e-3);
    EXPECT_NEAR(g.mouthOpen, 12.0 / 80, 1e-4);
    EXPECT_NEAR(g.faceWidth, 200, 0.2);
    EXPECT_NEAR(g.gazeX, 3.0 / 30, 1e-4);
    EXPECT_NEAR(g.gazeY, -2.0 / 30, 1e-4);
    EXPECT_NEAR(g.browRaise, 20.0 / 100, 1e-4);
    EXPECT_NEAR(g.nose.y, 160, 1e-3);
    EXPECT_NEAR(g.chin.y, 250, 1e-3);
}

TEST(FaceGeometry, TiltedFaceKeepsItsMeasures) {
    DrawnFace upright;
    const FaceGeometry a = computeGeometry(upright.set);
    for (float degrees : {25.0f, -40.0f, 89.0f, -89.0f}) {
        DrawnFace face;
        face.turn(degrees * static_cast<float>(M_PI) / 180);
        const FaceGeometry b = computeGeometry(face.set);
        EXPECT_NEAR(b.roll * 180 / M_PI, degrees, 1e-3) << degrees;
        EXPECT_NEAR(b.eyeWidth, a.eyeWidth, 1e-2) << degrees;
        EXPECT_NEAR(b.eyeOpen, a.eyeOpen, 1e-3) << degrees;
        EXPECT_NEAR(b.mouthWidth, a.mouthWidth, 1e-2) << degrees;
        EXPECT_NEAR(b.mouthOpen, a.mouthOpen, 1e-3) << degrees;
        EXPECT_NEAR(b.faceWidth, a.faceWidth, 0.5) << degrees;
        EXPECT_NEAR(b.gazeX, a.gazeX, 1e-3) << degrees;
        EXPECT_NEAR(b.gazeY, a.gazeY, 1e-3) << degrees;
        EXPECT_NEAR(b.browRaise, a.browRaise, 1e-4) << degrees;
    }
}

TEST(FaceGeometry, MirroredFaceKeepsLeftAsTheSmallerX) {
    DrawnFace face;
    face.eyeA = {100, 100};
    face.eyeB = {200, 110};  // a slight tilt, so the roll's sign shows
    face.draw();
    face.mirror();  // eye A is now on the right
    const FaceGeometry g = computeGeometry(face.set);
    EXPECT_LT(g.leftEye.x, g.rightEye.x);
    EXPECT_NEAR(g.leftEye.x, 100, 1e-3);
    EXPECT_NEAR(g.leftEye.y, 110, 1e-3);
    EXPECT_NEAR(g.leftBrow.y, 90, 1e-3) << "the brow follows its eye";
    EXPECT_NEAR(g.roll, std::atan2(-10.0, 100.0), 1e-5);
    EXPECT_LT(g.gazeX, -0.08) << "irises pair by side too: both now look left";
}

TEST(FaceGeometry, ClosedAndCollapsedFacesStayFinite) {
    DrawnFace face;
    face.innerHalfHeight = 0;
    face.eyeHalfHeight = 0;
    face.draw();
    FaceGeometry g = computeGeometry(face.set);
    EXPECT_NEAR(g.mouthOpen, 0, 1e-6);
    EXPECT_NEAR(g.eyeOpen, 0, 1e-6);

    // Every point in one place: the divisors hold at one pixel.
    for (Point2& p : face.set.landmarks)
        p = {5, 5};
    g = computeGeometry(face.set);
    for (float v : {g.eyeWidth, g.eyeOpen, g.mouthOpen, g.faceWidth, g.gazeX, g.gazeY, g.browRaise, g.roll}) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_FLOAT_EQ(v, 0);
    }

    // Irises at the same x: 468 counts as the left one.
    DrawnFace tie;
    tie.set.landmarks[kIrisA] = {150, 100};
    tie.set.landmarks[kIrisB] = {150, 90};
    g = computeGeometry(tie.set);
    EXPECT_NEAR(g.gazeX, ((150 - 100) + (150 - 200)) / 2.0 / 30, 1e-4);
    EXPECT_NEAR(g.gazeY, (0 + -10) / 2.0 / 30, 1e-4);
}

TEST(RegionFromLandmarks, FollowsTheEyeCornersAndPadsTheExtent) {
    for (float degrees : {0.0f, 30.0f, 90.0f, -120.0f}) {
        const float angle = degrees * static_cast<float>(M_PI) / 180;
        const float c = std::cos(angle), s = std::sin(angle);
        // Points spread over a 100 × 60 box centred at (300, 200) in the face's own frame.
        LandmarkSet set;
        for (int i = 0; i < kLandmarkCount; ++i) {
            const float u = -50 + 100.0f * static_cast<float>(i % 11) / 10;
            const float v = -30 + 60.0f * static_cast<float>(i % 7) / 6;
            set.landmarks[i] = {300 + u * c - v * s, 200 + u * s + v * c};
        }
        set.landmarks[33] = {300 - 20 * c, 200 - 20 * s};
        set.landmarks[263] = {300 + 20 * c, 200 + 20 * s};
        const FaceRegion region = regionFromLandmarks(set);
        EXPECT_NEAR(region.angle, angle, 1e-5) << degrees;
        EXPECT_NEAR(region.centreX, 300, 1e-3) << degrees;
        EXPECT_NEAR(region.centreY, 200, 1e-3) << degrees;
        EXPECT_NEAR(region.size, 150, 1e-3) << degrees;
    }
}

}  // namespace
}  // namespace qm
