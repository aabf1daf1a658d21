// The pixel-level maths: the bilinear sampler, the detector's letterbox, the mesh's rotated crop, the
// person mask's stretch, and the anchor table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tracking/anchors.h"
#include "tracking/crop_math.h"
#include "tracking/face_detector.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"
#include "tracking/sample_bilinear.h"

namespace qm {
namespace {

struct TestPicture {
    std::vector<uint8_t> pixels;
    int width, height;
    TestPicture(int w, int h, uint8_t r = 0, uint8_t g = 0, uint8_t b = 0)
        : pixels(w * h * 4), width(w), height(h) {
        for (int i = 0; i < w * h; ++i)
            set(i % w, i / w, r, g, b);
    }
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = &pixels[(y * width + x) * 4];
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 255;
    }
    SourcePicture view() const { return packedPicture(pixels.data(), width, height); }
};

TEST(SampleBilinear, ReadsPixelsAndMixesNeighbours) {
    TestPicture picture(2, 2);
    picture.set(0, 0, 0, 10, 200);
    picture.set(1, 0, 100, 20, 200);
    picture.set(0, 1, 200, 30, 200);
    picture.set(1, 1, 40, 40, 200);
    const SourcePicture view = picture.view();

    Rgb exact = sampleBilinear(view, 1, 0);  // channels come out as R, G, B from B, G, R, A bytes
    EXPECT_FLOAT_EQ(exact.r, 100);
    EXPECT_FLOAT_EQ(exact.g, 20);
    EXPECT_FLOAT_EQ(exact.b, 200);

    Rgb middle = sampleBilinear(view, 0.5f, 0.5f);
    EXPECT_FLOAT_EQ(middle.r, (0 + 100 + 200 + 40) / 4.0f);
    EXPECT_FLOAT_EQ(middle.g, 25);

    Rgb quarter = sampleBilinear(view, 0.25f, 0);
    EXPECT_FLOAT_EQ(quarter.r, 25);

    // The last column has no right neighbour: the edge pixel stands in, the vertical mix still applies.
    Rgb edge = sampleBilinear(view, 1, 0.5f);
    EXPECT_FLOAT_EQ(edge.r, 70);
}

TEST(SampleBilinear, OutsideTheFrameIsBlack) {
    TestPicture picture(3, 2, 255, 255, 255);
    const SourcePicture view = picture.view();
    for (auto [x, y] : {std::pair{-0.01f, 0.0f},
                        {0.0f, -0.01f},
                        {2.01f, 0.0f},
                        {0.0f, 1.01f},
                        {NAN, 1.0f},
                        {1.0f, NAN},
                        {INFINITY, 0.0f},
                        {-1e30f, 0.0f}}) {
        Rgb rgb = sampleBilinear(view, x, y);
        EXPECT_EQ(rgb.r + rgb.g + rgb.b, 0) << x << ", " << y;
    }
    EXPECT_FLOAT_EQ(sampleBilinear(view, 2, 1).r, 255);
}

// The vector sampler gives the scalar one's values bit for bit (the models' inputs stay as they were):
// random pictures, positions inside, on the last row and column, and outside.
TEST(SampleBilinear, VectorAndScalarAgreeExactly) {
    std::srand(3);
    std::vector<uint8_t> pixels(37 * 23 * 4);
    for (uint8_t& p : pixels)
        p = static_cast<uint8_t>(std::rand() % 256);
    const SourcePicture view = packedPicture(pixels.data(), 37, 23);
    int differences = 0;
    for (int i = 0; i < 20000; ++i) {
        const float x = (std::rand() % 40000) / 1000.0f - 1.5f, y = (std::rand() % 26000) / 1000.0f - 1.5f;
        const Rgb a = sampleBilinear(view, x, y), b = sampleBilinearScalar(view, x, y);
        differences += std::memcmp(&a, &b, sizeof a) != 0;
    }
    EXPECT_EQ(differences, 0);
}

TEST(Letterbox, BarsKeepTheAspect) {
    Letterbox square = letterboxFor(512, 512, 128);
    EXPECT_FLOAT_EQ(square.scale, 4);
    EXPECT_FLOAT_EQ(square.padX, 0);
    EXPECT_FLOAT_EQ(square.padY, 0);

    Letterbox wide = letterboxFor(1280, 720, 128);
    EXPECT_FLOAT_EQ(wide.scale, 10);
    EXPECT_FLOAT_EQ(wide.padX, 0);
    EXPECT_FLOAT_EQ(wide.padY, 28);

    Letterbox tall = letterboxFor(720, 1280, 128);
    EXPECT_FLOAT_EQ(tall.padX, 28);
    EXPECT_FLOAT_EQ(tall.padY, 0);

    // The input's corners map to the frame's corners.
    Point2 topLeft = letterboxToSource(wide, {0, 28});
    Point2 bottomRight = letterboxToSource(wide, {128, 100});
    EXPECT_FLOAT_EQ(topLeft.x, 0);
    EXPECT_FLOAT_EQ(topLeft.y, 0);
    EXPECT_FLOAT_EQ(bottomRight.x, 1280);
    EXPECT_FLOAT_EQ(bottomRight.y, 720);
}

TEST(Letterbox, DetectorInputHasBarsOfMinusOne) {
    TestPicture picture(1280, 720, 255, 0, 51);
    std::vector<float> input(3 * 128 * 128);
    fillDetectorInput(picture.view(), letterboxFor(1280, 720, 128), input.data());
    auto at = [&](int plane, int x, int y) { return input[plane * 128 * 128 + y * 128 + x]; };
    for (int x : {0, 64, 127}) {
        EXPECT_FLOAT_EQ(at(0, x, 27), -1) << "bar above";
        EXPECT_FLOAT_EQ(at(0, x, 100), -1) << "bar below";
        EXPECT_FLOAT_EQ(at(0, x, 28), 1);
        EXPECT_FLOAT_EQ(at(1, x, 64), -1);
        EXPECT_NEAR(at(2, x, 99), 51 / 127.5f - 1, 1e-6);
    }
}

TEST(RegionCrop, TurnsARolledFaceUpright) {
    // A marker right of the region centre: for a face rolled 90° clockwise that is where the top of the
    // head is, so the crop must show it above its centre, and the mapping back must return it.
    TestPicture picture(200, 200);
    picture.set(150, 100, 255, 255, 255);
    FaceRegion region{100, 100, 256, static_cast<float>(M_PI / 2)};
    std::vector<float> input(3 * 256 * 256);
    fillMeshInput(picture.view(), region, input.data());
    int brightest = 0;
    for (int i = 1; i < 256 * 256; ++i)
        if (input[i] > input[brightest]) brightest = i;
    EXPECT_EQ(brightest % 256, 128);
    EXPECT_EQ(brightest / 256, 77);
    EXPECT_NEAR(input[brightest], 1, 1e-5);

    Point2 back = cropToSource(cropFor(region, 256), {128.5f, 77.5f});
    EXPECT_NEAR(back.x, 150.5f, 1e-3);
    EXPECT_NEAR(back.y, 100.5f, 1e-3);
}

TEST(RegionCrop, OutsideTheFrameReadsZeroAndScalesBySize) {
    TestPicture picture(100, 100, 255, 255, 255);
    FaceRegion corner{0, 0, 512, 0};  // half the crop hangs off the top and left
    std::vector<float> input(3 * 256 * 256);
    fillMeshInput(picture.view(), corner, input.data());
    EXPECT_FLOAT_EQ(input[10 * 256 + 10], 0);
    EXPECT_FLOAT_EQ(input[10 * 256 + 200], 0);
    EXPECT_FLOAT_EQ(input[150 * 256 + 150], 1);
    EXPECT_FLOAT_EQ(input[2 * 256 * 256 + 150 * 256 + 150], 1);
    // Two source pixels per input pixel: the frame's far corner (100, 100) is input (178, 178).
    EXPECT_FLOAT_EQ(input[177 * 256 + 177], 1);
    EXPECT_FLOAT_EQ(input[179 * 256 + 179], 0);

    LandmarkSet set;
    std::vector<float> points(478 * 3, 128.0f);
    points[0] = 178, points[1] = 128, points[2] = 10;
    landmarksFromMesh(points.data(), corner, set);
    EXPECT_FLOAT_EQ(set.landmarks[0].x, 100);
    EXPECT_FLOAT_EQ(set.landmarks[0].y, 0);
    EXPECT_FLOAT_EQ(set.depths[0], 20);
    EXPECT_FLOAT_EQ(set.landmarks[1].x, 0);
    EXPECT_FLOAT_EQ(set.region.size, 512);
}

TEST(PersonMaskInput, StretchesTheWholeFrameWithoutBars) {
    // 4:3 squeezed into 16:9: the left half red and the right half blue stay halves, nothing is black.
    TestPicture picture(640, 480, 255, 0, 0);
    for (int y = 0; y < 480; ++y)
        for (int x = 320; x < 640; ++x)
            picture.set(x, y, 0, 0, 255);
    std::vector<float> input(144 * 256 * 3);
    fillPersonMaskInput(picture.view(), input.data());
    for (int y : {0, 71, 143}) {
        const float* row = &input[y * 256 * 3];
        EXPECT_FLOAT_EQ(row[0], 1);
        EXPECT_FLOAT_EQ(row[127 * 3], 1);
        EXPECT_FLOAT_EQ(row[127 * 3 + 2], 0);
        EXPECT_FLOAT_EQ(row[128 * 3 + 2], 1);
        EXPECT_FLOAT_EQ(row[255 * 3 + 2], 1);
    }
}

TEST(PersonMaskPixels, ClampOnlyInThePicture) {
    std::vector<float> mask(kPersonMaskValues, 0.5f);
    mask[0] = -0.2f;
    mask[1] = 1.3f;
    mask[2] = NAN;
    mask[3] = 1;
    std::vector<uint8_t> pixels(kPersonMaskValues * 4, 7);
    personMaskToPixels(mask.data(), pixels.data());
    const uint8_t expected[] = {0, 255, 0, 255, 127};
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(pixels[i * 4 + k], expected[i]) << i;
    EXPECT_EQ(pixels.back(), 127);

    // Without a session nothing runs and nothing changes.
    FaceTracker tracker;
    tracker.personMask[0] = 1.3f;
    bool uploaded = false;
    tracker.uploadPersonMask = [&](const uint8_t*) { return uploaded = true; };
    TestPicture picture(64, 48);
    EXPECT_FALSE(segmentPerson(tracker, picture.view()));
    EXPECT_FALSE(uploaded);
    EXPECT_FLOAT_EQ(tracker.personMask[0], 1.3f);
    EXPECT_EQ(tracker.personMaskPixels.size(), 147456u);
}

TEST(Anchors, TwoGridsRowByRow) {
    const DetectorAnchors anchors = buildDetectorAnchors();
    auto expectAt = [&](int i, float x, float y) {
        EXPECT_FLOAT_EQ(anchors[i].x, x) << i;
        EXPECT_FLOAT_EQ(anchors[i].y, y) << i;
    };
    expectAt(0, 0.5f / 16, 0.5f / 16);
    expectAt(1, 0.5f / 16, 0.5f / 16);
    expectAt(2, 1.5f / 16, 0.5f / 16);  // x runs inside y
    expectAt(32, 0.5f / 16, 1.5f / 16);
    expectAt(511, 15.5f / 16, 15.5f / 16);
    for (int i = 512; i < 518; ++i)
        expectAt(i, 0.5f / 8, 0.5f / 8);
    expectAt(518, 1.5f / 8, 0.5f / 8);
    expectAt(895, 7.5f / 8, 7.5f / 8);
}

}  // namespace
}  // namespace qm
