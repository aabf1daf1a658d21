#include "render/replacement_faces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "render/composition.h"

namespace qm {
namespace {

// Painters drawn straight onto the canvas over a 1280 × 720 source, so P is the identity.
class FacePainterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        graphics = new Graphics;
        ASSERT_EQ(initialiseGraphics(*graphics, GraphicsOptions{}), kOk);
        ASSERT_EQ(createSourceBitmap(*graphics, 1280, 720), kOk);
        art = new FaceArt;
        ASSERT_EQ(loadFaceArt(graphics->assetFolder, art), kOk);
    }
    static void TearDownTestSuite() {
        delete art;
        delete graphics;
    }

    void SetUp() override {
        cairo_matrix_init_identity(&identity);
        // A grey camera frame with a red marker on the mouth.
        source.assign(1280 * 720 * 4, 128);
        for (int y = 417; y < 423; ++y)
            for (int x = 597; x < 603; ++x) {
                uint8_t* p = &source[(y * 1280 + x) * 4];
                p[0] = 0, p[1] = 0, p[2] = 255;
            }
        ASSERT_EQ(uploadSourceFrame(*graphics, source.data(), 1280 * 4), kOk);
        face.leftEye = {570, 380};
        face.rightEye = {630, 380};
        face.leftBrow = {570, 360};
        face.rightBrow = {630, 360};
        face.mouthCentre = {600, 420};
        face.faceCentre = {600, 400};
        face.eyeWidth = 24;
        face.mouthWidth = 40;
        face.mouthHeight = 14;
        face.faceWidth = 140;
        face.eyeOpen = 0.3f;
    }

    void clearCanvas() {
        cairo_t* cr = graphics->cr.get();
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_set_source_rgb(cr, 0.2, 0.4, 0.6);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    std::vector<uint8_t> canvas() {
        std::vector<uint8_t> out(kCanvasWidth * kCanvasHeight * 4);
        readCanvas(*graphics, out.data());
        for (size_t i = 3; i < out.size(); i += 4)
            out[i] = 0;  // the alpha byte means nothing
        return out;
    }
    // Centroid of the canvas pixels that pass the test, in pixel-centre coordinates.
    template <typename F>
    static bool centroid(const std::vector<uint8_t>& pixels, F test, double* x, double* y,
                         int* count = nullptr) {
        double sx = 0, sy = 0;
        int n = 0;
        for (int j = 0; j < kCanvasHeight; ++j)
            for (int i = 0; i < kCanvasWidth; ++i)
                if (test(&pixels[(j * kCanvasWidth + i) * 4])) sx += i + 0.5, sy += j + 0.5, ++n;
        if (count) *count = n;
        if (n == 0) return false;
        *x = sx / n;
        *y = sy / n;
        return true;
    }
    static bool red(const uint8_t* p) { return p[2] > 200 && p[1] < 90 && p[0] < 90; }

    std::vector<uint8_t> drawKittenFrame(float mouthOpen, float eyeOpen, float reference = 0.3f) {
        clearCanvas();
        face.mouthOpen = mouthOpen;
        face.eyeOpen = eyeOpen;
        drawKitten(*graphics, *art, face, 600, 380, 60, 0, identity, reference);
        return canvas();
    }

    static Graphics* graphics;
    static FaceArt* art;
    std::vector<uint8_t> source;
    FaceGeometry face;
    cairo_matrix_t identity;
};
Graphics* FacePainterTest::graphics = nullptr;
FaceArt* FacePainterTest::art = nullptr;

TEST_F(FacePainterTest, ClosedMouthLandsOnThePicturesMouthPointAndSlidesDownAsItOpens) {
    const FacePicture& morvel = art->faces[kMorvelPicture];
    const FaceAnchors& a = morvel.anchors;
    for (float angle : {0.0f, 0.35f}) {
        face.roll = angle;
        face.mouthOpen = 0;
        clearCanvas();
        const FacePicturePlacement where =
            drawFacePicture(*graphics, *art, morvel, face, 640, 360, 200, angle, identity, nullptr);
        double expectedX = a.mouthX * morvel.width, expectedY = a.mouthY * morvel.height;
        cairo_matrix_transform_point(&where.pictureTransform, &expectedX, &expectedY);
        double x = 0, y = 0;
        int count = 0;
        ASSERT_TRUE(centroid(canvas(), red, &x, &y, &count)) << angle;
        EXPECT_NEAR(x, expectedX, 0.6) << angle;
        EXPECT_NEAR(y, expectedY, 0.6) << angle;
        EXPECT_NEAR(count, 36 * a.featureScale * a.featureScale, 16) << angle;  // enlarged by featureScale

        // Open: m = 0.85 × 40 × 0.3; the mouth slides featureScale × m along the face's down direction.
        face.mouthOpen = 0.3f;
        clearCanvas();
        drawFacePicture(*graphics, *art, morvel, face, 640, 360, 200, angle, identity, nullptr);
        double openX = 0, openY = 0;
        ASSERT_TRUE(centroid(canvas(), red, &openX, &openY));
        const double slide = a.featureScale * 0.85 * 40 * 0.3;
        EXPECT_NEAR(openX - x, -std::sin(angle) * slide, 0.8) << angle;
        EXPECT_NEAR(openY - y, std::cos(angle) * slide, 0.8) << angle;
    }
}

TEST_F(FacePainterTest, EyesArePastedAtThePicturesEyePoints) {
    // Mark the left eye's source point (a third of the way up to the brow) blue.
    for (int y = 371; y < 375; ++y)
        for (int x = 568; x < 572; ++x) {
            uint8_t* p = &source[(y * 1280 + x) * 4];
            p[0] = 255, p[1] = 0, p[2] = 0;
        }
    ASSERT_EQ(uploadSourceFrame(*graphics, source.data(), 1280 * 4), kOk);
    const FacePicture& orange = art->faces[kOrangePicture];
    clearCanvas();
    const FacePicturePlacement where =
        drawFacePicture(*graphics, *art, orange, face, 640, 360, 220, 0, identity, nullptr);
    double ex = orange.anchors.leftEyeX * orange.width, ey = orange.anchors.leftEyeY * orange.height;
    cairo_matrix_transform_point(&where.pictureTransform, &ex, &ey);
    double x = 0, y = 0;
    ASSERT_TRUE(centroid(
        canvas(), [](const uint8_t* p) { return p[0] > 200 && p[2] < 90 && p[1] < 90; }, &x, &y));
    EXPECT_NEAR(x, ex, 0.6);
    EXPECT_NEAR(y, ey, 0.6);
}

TEST_F(FacePainterTest, KittenMouthOpensBetweenThresholds) {
    EXPECT_EQ(kittenMouthOpening(0), 0);
    EXPECT_EQ(kittenMouthOpening(0.03f), 0);
    EXPECT_FLOAT_EQ(kittenMouthOpening(0.25f), 1);
    EXPECT_FLOAT_EQ(kittenMouthOpening(0.6f), 1);
    EXPECT_NEAR(kittenMouthOpening(0.14f), 0.5f, 1e-5);

    const std::vector<uint8_t> shut = drawKittenFrame(0, 0.3f);
    EXPECT_EQ(drawKittenFrame(0.03f, 0.3f), shut);
    EXPECT_NE(drawKittenFrame(0.06f, 0.3f), shut);
    const std::vector<uint8_t> wide = drawKittenFrame(0.25f, 0.3f);
    EXPECT_NE(wide, shut);
    EXPECT_EQ(drawKittenFrame(0.5f, 0.3f), wide);
    // Open, the mouth's dark inside shows below the nose and the chin reaches lower.
    int darkShut = 0, darkWide = 0;
    for (size_t i = 0; i < shut.size(); i += 4) {
        darkShut += shut[i + 2] < 70 && shut[i + 1] < 40;
        darkWide += wide[i + 2] < 70 && wide[i + 1] < 40;
    }
    EXPECT_GT(darkWide, darkShut + 30);
}

TEST_F(FacePainterTest, LidsHideAboveThreeQuartersAndShutBelowAThird) {
    EXPECT_EQ(blinkAmount(0.75f * 0.3f, 0.3f), 0);
    EXPECT_EQ(blinkAmount(0.3f, 0.3f), 0);
    EXPECT_FLOAT_EQ(blinkAmount(0.35f * 0.3f, 0.3f), 1);
    EXPECT_FLOAT_EQ(blinkAmount(0, 0.3f), 1);
    EXPECT_NEAR(blinkAmount(0.55f * 0.3f, 0.3f), 0.5f, 1e-5);
    EXPECT_EQ(blinkAmount(0.02f, 0.01f), blinkAmount(0.02f, 0.05f));  // a tiny reference counts as 0.05

    const std::vector<uint8_t> open = drawKittenFrame(0, 0.3f);
    EXPECT_EQ(drawKittenFrame(0, 0.76f * 0.3f), open);
    const std::vector<uint8_t> shut = drawKittenFrame(0, 0.35f * 0.3f);
    EXPECT_NE(shut, open);
    EXPECT_EQ(drawKittenFrame(0, 0.1f * 0.3f), shut);
    EXPECT_NE(drawKittenFrame(0, 0.55f * 0.3f), shut);
}

TEST(GooglyPhysicsTest, PupilsRestAtTheBottomAndNeverLeaveTheirCircle) {
    GooglyState still;
    for (int i = 0; i < 300; ++i)
        stepPupils(still, 0, 0, 40);
    EXPECT_NEAR(still.x[0], 0, 1e-3);
    EXPECT_NEAR(still.y[0], kPupilTravel, 1e-3);

    GooglyState shaken;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> velocity(-200, 200);
    for (int i = 0; i < 2000; ++i) {
        stepPupils(shaken, velocity(random), velocity(random), 30);
        for (int e = 0; e < 2; ++e)
            ASSERT_LE(std::hypot(shaken.x[e], shaken.y[e]), kPupilTravel + 1e-5);
    }
}

TEST(GooglyPhysicsTest, ASuddenMoveRightSwingsThePupilsLeftButAFoundFaceKicksNothing) {
    GooglyState st;
    for (int i = 0; i < 300; ++i)
        stepPupils(st, 0, 0, 40);
    GooglyState moved = st;
    stepPupils(moved, 25, 0, 40);
    for (int e = 0; e < 2; ++e) {
        EXPECT_LT(moved.vx[e], 0);
        EXPECT_LT(moved.x[e], -0.1f);
    }
    // The same jump in velocity on the first frame after a lost face: no kick, only gravity.
    GooglyState found = st;
    found.reset = true;
    stepPupils(found, 25, 0, 40);
    EXPECT_NEAR(found.x[0], st.x[0], 1e-4);
    EXPECT_FALSE(found.reset);
    EXPECT_EQ(found.previousVelocityX, 25);
}

TEST_F(FacePainterTest, GooglyPupilsFallTowardTheBottomOfTheScreenWhenTheHeadRolls) {
    const FacePicture& morvel = art->faces[kMorvelPicture];
    GooglyState st;
    for (int i = 0; i < 300; ++i)
        stepPupils(st, 0, 0, 46);
    face.eyeOpen = 0.3f;
    for (float angle : {0.0f, 0.6f, -0.9f}) {
        clearCanvas();
        GooglyState frameState = st;
        GooglyDrive drive{&frameState, 0, 0, 0.3f};
        const float width = 200, r = 0.23f * width;
        const FacePicturePlacement where =
            drawFacePicture(*graphics, *art, morvel, face, 640, 360, width, angle, identity, &drive);
        double ex = where.leftEyeX, ey = where.leftEyeY;
        cairo_matrix_transform_point(&where.pictureTransform, &ex, &ey);
        const std::vector<uint8_t> pixels = canvas();
        double x = 0, y = 0;
        ASSERT_TRUE(centroid(
            pixels,
            [&](const uint8_t* p) {
                const size_t i = (p - pixels.data()) / 4;
                const double px = i % kCanvasWidth + 0.5 - ex, py = i / kCanvasWidth + 0.5 - ey;
                return px * px + py * py < r * r && p[0] < 40 && p[1] < 40 && p[2] < 40;
            },
            &x, &y))
            << angle;
        EXPECT_NEAR(x - ex, 0, 0.05 * r) << angle;
        EXPECT_NEAR(y - ey, kPupilTravel * r, 0.08 * r) << angle;
    }
}

TEST_F(FacePainterTest, ComposerDrawsEachFaceKindAndFlagsALostFace) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    FrameInput input;
    input.sourcePixels = source.data();
    input.sourceStride = 1280 * 4;
    input.face = &face;
    FrameFilters filters;
    filters.filtering = true;
    std::vector<uint8_t> plain;
    for (int kind = kFaceNone; kind <= kFaceCustom; ++kind) {
        filters.faceKind = kind;
        input.timeMs += 33;
        ASSERT_EQ(composer.composeFrame(input, filters), kOk) << kind;
        const std::vector<uint8_t> frame = canvas();
        if (kind == kFaceNone) {
            plain = frame;
            EXPECT_EQ(frame[(400 * 1280 + 600) * 4], 128);
        } else if (kind == kFaceCustom) {
            EXPECT_EQ(frame, plain);  // no photo ready: nothing drawn
        } else {
            EXPECT_NE(frame, plain) << kind;
        }
    }
    input.face = nullptr;
    filters.faceKind = kFaceGoogly;
    ASSERT_EQ(composer.composeFrame(input, filters), kOk);
    EXPECT_TRUE(composer.googly().reset);
    input.face = &face;
    ASSERT_EQ(composer.composeFrame(input, filters), kOk);
    EXPECT_FALSE(composer.googly().reset);
}

TEST_F(FacePainterTest, DegenerateFacesSkipDrawingButNeverBreakTheCanvas) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    FrameInput input;
    input.sourcePixels = source.data();
    input.sourceStride = 1280 * 4;
    const FaceGeometry good = face;
    FaceGeometry zero;
    FaceGeometry notANumber = good;
    notANumber.roll = std::nanf("");
    FaceGeometry infinite = good;
    infinite.faceWidth = INFINITY;
    FaceGeometry huge = good;
    huge.faceWidth = 1e30f;
    huge.eyeWidth = 1e30f;
    huge.mouthWidth = 1e30f;
    huge.mouthOpen = 1e30f;
    FaceGeometry hugeFeatures = good;
    hugeFeatures.eyeWidth = 1e30f;
    hugeFeatures.mouthWidth = 1e30f;
    hugeFeatures.mouthHeight = 1e30f;
    FaceGeometry negative = good;
    negative.faceWidth = -100;
    negative.eyeWidth = -5;
    negative.mouthWidth = -3;
    for (int kind = kFaceMorvel; kind <= kFaceGoogly; ++kind) {
        FrameFilters filters;
        filters.filtering = true;
        filters.faceKind = kind;
        for (const FaceGeometry* f : std::initializer_list<const FaceGeometry*>{
                 &zero, &notANumber, &infinite, &huge, &hugeFeatures, &negative, &good}) {
            input.face = f;
            input.timeMs += 33;
            EXPECT_EQ(composer.composeFrame(input, filters), kOk) << kind;
        }
    }
}

}  // namespace
}  // namespace qm
