#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "render/face_smoothing.h"
#include "render/one_euro_filter.h"

namespace qm {
namespace {

TEST(OneEuroFilterTest, FirstValuePassesThenFollowsTheFormula) {
    OneEuroFilter f{0.05, 1.0, 1.0};
    EXPECT_EQ(f.filter(10, 1.0 / 30), 10);
    // By hand: a = 2π/30, d = a/(a+1)·(20 − 10)·30, cutoff = |d|·0.05 + 1, b = 2π·cutoff/30.
    const double t = 1.0 / 30, a = 2 * std::numbers::pi * t;
    const double d = a / (a + 1) * (10 / t);
    const double b = 2 * std::numbers::pi * (d * 0.05 + 1) * t;
    EXPECT_NEAR(f.filter(20, t), 10 + b / (b + 1) * 10, 1e-9);
    EXPECT_NEAR(f.previousDerivative, d, 1e-9);
}

TEST(OneEuroFilterTest, SmoothsJitterHardAndFollowsFastMovesClosely) {
    OneEuroFilter still{0.05, 1.0, 1.0};
    double worst = 0;
    for (int i = 0; i < 300; ++i) {
        const double y = still.filter(100 + (i % 2 ? 2 : -2), 1.0 / 30);
        if (i >= 30) worst = std::max(worst, std::fabs(y - 100));
    }
    EXPECT_LT(worst, 1.0);  // jitter of ±2 is more than halved once settled

    // A steady fast move: the higher the speed coefficient, the smaller the lag.
    OneEuroFilter slow{0.0, 1.0, 1.0}, fast{0.5, 1.0, 1.0};
    double x = 0, lagSlow = 0, lagFast = 0;
    for (int i = 0; i < 60; ++i, x += 20) {
        lagSlow = x - slow.filter(x, 1.0 / 30);
        lagFast = x - fast.filter(x, 1.0 / 30);
    }
    EXPECT_GT(lagSlow, 3 * lagFast);

    // Reset: the next value passes unchanged.
    fast.reset();
    EXPECT_EQ(fast.filter(-5, 0.1), -5);
}

TEST(AnchorFiltersTest, SmoothTheSevenAnchorsAndResetTogether) {
    AnchorFilters filters;
    FaceGeometry face;
    face.faceCentre = {100, 200};
    face.leftEye = {80, 180};
    face.rightEye = {120, 180};
    face.faceWidth = 90;
    face.roll = 0.1f;
    SmoothedAnchors s = filters.filter(face, 1.0 / 30);
    EXPECT_FLOAT_EQ(s.centreX, 100);
    EXPECT_FLOAT_EQ(s.eyeMidX, 100);
    EXPECT_FLOAT_EQ(s.eyeMidY, 180);
    EXPECT_FLOAT_EQ(s.eyeDistance, 40);
    EXPECT_FLOAT_EQ(s.roll, 0.1f);
    face.faceCentre = {300, 200};
    s = filters.filter(face, 1.0 / 30);
    EXPECT_GT(s.centreX, 100);
    EXPECT_LT(s.centreX, 300);
    filters.reset();
    s = filters.filter(face, 1.0 / 30);
    EXPECT_FLOAT_EQ(s.centreX, 300);  // a face found again snaps to its new place
}

TEST(FaceBaselinesTest, MoveByTheirOwnRules) {
    FaceBaselines b;
    FaceGeometry face;
    face.eyeOpen = 0.5f;
    face.gazeX = 1;
    face.gazeY = -1;
    face.browRaise = 2;
    face.mouthWidth = 50;
    face.mouthOpen = 0;
    updateBaselines(b, face);
    EXPECT_NEAR(b.eyeOpenReference, 0.3f + 0.2f * 0.2f, 1e-6);  // wider: 0.2 of the way
    EXPECT_NEAR(b.gazeSlowX, 0.03f, 1e-6);
    EXPECT_NEAR(b.gazeFastY, -0.45f, 1e-6);
    EXPECT_FLOAT_EQ(b.browBaseline, 2);       // empty baseline takes the value
    EXPECT_FLOAT_EQ(b.closedMouthWidth, 50);  // likewise

    const float reference = b.eyeOpenReference;
    face.eyeOpen = 0.1f;  // a blink: the reference sinks only slowly
    updateBaselines(b, face);
    EXPECT_NEAR(b.eyeOpenReference, reference + (0.1f - reference) * 0.005f, 1e-6);

    face.browRaise = 2.2f;  // 10 % up: a raised brow leaves the baseline alone
    updateBaselines(b, face);
    EXPECT_FLOAT_EQ(b.browBaseline, 2);
    face.browRaise = 2.1f;  // 5 % up: followed slowly
    updateBaselines(b, face);
    EXPECT_NEAR(b.browBaseline, 2 + 0.1f * 0.03f, 1e-6);

    face.mouthWidth = 70;
    face.mouthOpen = 0.3f;  // open mouth: the closed width stays
    updateBaselines(b, face);
    EXPECT_FLOAT_EQ(b.closedMouthWidth, 50);
    face.mouthOpen = 0.02f;
    updateBaselines(b, face);
    EXPECT_NEAR(b.closedMouthWidth, 51, 1e-5);
}

}  // namespace
}  // namespace qm
