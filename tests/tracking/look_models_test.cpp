// The touch-up looks on a real frame: frame 40 of data/sample.mp4 (a face about 300 pixels wide, rolled a
// little), tracked by the detector and the face mesh. Each look must visibly change the lips, the brows
// and the skin and nothing outside its region or in the alpha bytes; bold must change more than glam and
// glam more than natural; the masculine variant must leave the lips, cheeks and lash line uncoloured.
// Needs the model files beside the test program (skips without them, fails when CI is set).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <span>

#include "platform/paths.h"
#include "tests/tracking/test_pictures.h"
#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"
#include "tracking/touch_up_look.h"

namespace qm {
namespace {

using namespace face_points;

bool modelsPresent() {
    for (const char* name : {"face_detector.onnx", "face_mesh.onnx"})
        if (!isRegularFile(executableDir() + name)) return false;
    return true;
}

// Even–odd test at a pixel centre.
bool inside(const LandmarkSet& set, std::span<const int> ring, float x, float y) {
    bool in = false;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        const Point2 a = set.landmarks[ring[j]], b = set.landmarks[ring[i]];
        if ((a.y <= y) != (b.y <= y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
    return in;
}

constexpr int kLipsOuter[] = {61,  185, 40,  39,  37,  0,  267, 269, 270, 409,
                              291, 375, 321, 405, 314, 17, 84,  181, 91,  146};
constexpr int kLipsInner[] = {78,  191, 80,  81,  82,  13, 312, 311, 310, 415,
                              308, 324, 318, 402, 317, 14, 87,  178, 88,  95};

class LooksOnTheSample : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!modelsPresent()) return;
        frame = test::dataVideoFrame("sample.mp4", 40);
        if (frame.pixels.empty()) return;
        // Alpha bytes that differ from pixel to pixel, so that a write to one shows.
        for (size_t i = 3; i < frame.pixels.size(); i += 4)
            frame.pixels[i] = static_cast<uint8_t>(i * 7 / 4);
        FaceTracker tracker;
        ModelSetup setup;
        setup.useCpu = true;
        loadModels(tracker, setup);
        FaceRegion region;
        if (!detectFace(tracker, frame.view(), region)) return;
        trackFace(tracker, frame.view(), region);
        region = regionFromLandmarks(tracker.landmarks);
        found = trackFace(tracker, frame.view(), region) >= 0.5f;
        landmarks = tracker.landmarks;
        face = computeGeometry(landmarks);
    }
    void SetUp() override {
        if (!modelsPresent()) {
            if (std::getenv("CI")) FAIL() << "model files missing in " << executableDir();
            GTEST_SKIP() << "model files missing in " << executableDir();
        }
        ASSERT_FALSE(frame.pixels.empty()) << "data/sample.mp4 unreadable";
        ASSERT_TRUE(found) << "no face tracked in frame 40";
    }

    struct Result {
        PictureBuffer picture;
        LookRegion roi;
    };
    static Result looked(int look, bool masculine, float strength = 1) {
        Result r{frame, {}};
        static LookBuffers buffers;
        r.roi = applyLook(buffers,
                          {r.picture.pixels.data(), r.picture.width, r.picture.height, r.picture.width * 4},
                          landmarks, face, look, masculine, strength);
        return r;
    }

    // Over the pixels for which `where(x, y)` holds: the mean absolute change of the colour bytes, and the
    // mean change of redness (R − (G + B)/2) and of brightness.
    struct Change {
        double absolute = 0, redness = 0, brightness = 0;
        long pixels = 0;
    };
    template <class Where>
    static Change change(const PictureBuffer& after, Where&& where) {
        Change c;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                if (!where(x + 0.5f, y + 0.5f)) continue;
                const uint8_t* a = &frame.pixels[(static_cast<size_t>(y) * frame.width + x) * 4];
                const uint8_t* b = &after.pixels[(static_cast<size_t>(y) * frame.width + x) * 4];
                for (int k = 0; k < 3; ++k)
                    c.absolute += std::abs(a[k] - b[k]);
                c.redness += (b[2] - (b[1] + b[0]) / 2.0) - (a[2] - (a[1] + a[0]) / 2.0);
                c.brightness += (b[0] + b[1] + b[2] - a[0] - a[1] - a[2]) / 3.0;
                ++c.pixels;
            }
        if (c.pixels) {
            c.absolute /= 3.0 * c.pixels;
            c.redness /= c.pixels;
            c.brightness /= c.pixels;
        }
        return c;
    }
    static bool onLips(float x, float y) {
        return inside(landmarks, kLipsOuter, x, y) && !inside(landmarks, kLipsInner, x, y);
    }
    static bool onBrows(float x, float y) {
        return inside(landmarks, kBrowA, x, y) || inside(landmarks, kBrowB, x, y);
    }
    // Discs about the two cheek points (where the blush goes) and along the upper lids (the lash line).
    static bool near(int index, float radius, float x, float y) {
        const Point2 p = landmarks.landmarks[index];
        return std::hypot(x - p.x, y - p.y) < radius;
    }
    static bool onCheeks(float x, float y) {
        return near(50, 0.06f * face.faceWidth, x, y) || near(280, 0.06f * face.faceWidth, x, y);
    }
    // Below the lower lip, half way to the chin: skin that no make-up reaches.
    static bool onChin(float x, float y) {
        const Point2 m = face.mouthCentre, c = landmarks.landmarks[kChin];
        return std::hypot(x - (m.x + c.x) / 2, y - (m.y + c.y) / 2) < 0.04f * face.faceWidth;
    }
    static bool onLashLine(float x, float y) {
        for (int i : {158, 159, 160, 385, 386, 387})
            if (near(i, 0.012f * face.faceWidth, x, y)) return true;
        return false;
    }

    // Fine texture on the cheeks: the mean absolute difference between a pixel's green and the mean of
    // its 3 × 3 neighbourhood.
    static double cheekTexture(const PictureBuffer& p) {
        double sum = 0;
        long n = 0;
        for (int y = 1; y < p.height - 1; ++y)
            for (int x = 1; x < p.width - 1; ++x) {
                if (!onCheeks(x + 0.5f, y + 0.5f)) continue;
                double mean = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        mean += p.pixels[(static_cast<size_t>(y + dy) * p.width + x + dx) * 4 + 1];
                sum += std::abs(p.pixels[(static_cast<size_t>(y) * p.width + x) * 4 + 1] - mean / 9);
                ++n;
            }
        return n ? sum / n : 0;
    }

    static inline PictureBuffer frame;
    static inline LandmarkSet landmarks;
    static inline FaceGeometry face;
    static inline bool found = false;
};

TEST_F(LooksOnTheSample, EachLookChangesLipsBrowsAndSkinInsideItsRegionOnly) {
    const double texture = cheekTexture(frame);
    double total[4] = {};
    for (int look = 1; look <= 3; ++look) {
        SCOPED_TRACE(::testing::Message() << "look " << look);
        const Result r = looked(look, false);
        ASSERT_FALSE(r.roi.empty());
        const Change lips = change(r.picture, onLips);
        const Change brows = change(r.picture, onBrows);
        EXPECT_GT(lips.redness, 2) << "lip colour";
        EXPECT_GT(brows.absolute, 2) << "brows";
        EXPECT_LT(cheekTexture(r.picture), 0.85 * texture) << "smoother skin";
        EXPECT_GT(change(r.picture, onChin).brightness, 1) << "a glow on the skin";
        long outside = 0, alpha = 0;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const size_t i = (static_cast<size_t>(y) * frame.width + x) * 4;
                const bool in =
                    x >= r.roi.x && x < r.roi.x + r.roi.width && y >= r.roi.y && y < r.roi.y + r.roi.height;
                for (int k = 0; k < 3; ++k)
                    if (!in && r.picture.pixels[i + k] != frame.pixels[i + k]) ++outside;
                if (r.picture.pixels[i + 3] != frame.pixels[i + 3]) ++alpha;
            }
        EXPECT_EQ(outside, 0) << "bytes changed outside the face region";
        EXPECT_EQ(alpha, 0) << "alpha bytes changed";
        total[look] = change(r.picture, [&](float x, float y) {
                          return x >= r.roi.x && x < r.roi.x + r.roi.width && y >= r.roi.y &&
                                 y < r.roi.y + r.roi.height;
                      }).absolute;
    }
    EXPECT_GT(total[3], 1.15 * total[2]) << "bold changes more than glam";
    EXPECT_GT(total[2], 1.15 * total[1]) << "glam changes more than natural";

    for (bool masculine : {false, true}) {
        const Result none = looked(3, masculine, 0);
        EXPECT_EQ(none.picture.pixels, frame.pixels) << "strength 0 changes nothing";
    }
}

TEST_F(LooksOnTheSample, MasculineLeavesLipsCheeksAndLashesUncoloured) {
    const Result bold = looked(3, false);
    const Result masculine = looked(3, true);
    ASSERT_FALSE(masculine.roi.empty());
    // Bold colours all three; the masculine look only smooths and brightens them a little.
    EXPECT_GT(change(bold.picture, onLips).redness, 15);
    EXPECT_LT(change(masculine.picture, onLips).redness, 2) << "no lip colour";
    EXPECT_GT(change(bold.picture, onCheeks).redness, 2.5);
    EXPECT_LT(change(masculine.picture, onCheeks).redness, 0.5) << "no blush";
    EXPECT_LT(change(bold.picture, onLashLine).brightness, -15);
    EXPECT_GT(change(masculine.picture, onLashLine).brightness, -3) << "no lash line";
}

}  // namespace
}  // namespace qm
