// The touch-up looks without the models: the box blur against a direct sum, the effective values, the
// shape warps' directions read off a position-coded frame, and faces the look must survive (at the frame
// edge, tiny, huge, turned away, collapsed, lost) without touching anything outside its region or any
// alpha byte, and without allocating once its buffers have their size.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <span>
#include <vector>

#include "tests/support/allocation_counter.h"
#include "tests/tracking/sample_landmarks.h"
#include "tracking/box_blur.h"
#include "tracking/face_geometry.h"
#include "tracking/touch_up_look.h"

namespace qm {
namespace {

// ---- box blur ----

// One pass the slow way: every output the mean of 2r + 1 clamped neighbours, horizontally then vertically.
std::vector<float> directPass(const std::vector<float>& in, int w, int h, int c, int r) {
    std::vector<float> mid(in.size()), out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < c; ++k) {
                double sum = 0;
                for (int i = -r; i <= r; ++i)
                    sum += in[(static_cast<size_t>(y) * w + std::clamp(x + i, 0, w - 1)) * c + k];
                mid[(static_cast<size_t>(y) * w + x) * c + k] = static_cast<float>(sum / (2 * r + 1));
            }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < c; ++k) {
                double sum = 0;
                for (int i = -r; i <= r; ++i)
                    sum += mid[(static_cast<size_t>(std::clamp(y + i, 0, h - 1)) * w + x) * c + k];
                out[(static_cast<size_t>(y) * w + x) * c + k] = static_cast<float>(sum / (2 * r + 1));
            }
    return out;
}

TEST(BoxBlur, MatchesTheDirectClampedSumForAnySizeRadiusAndChannels) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0, 1);
    BoxBlurScratch scratch;
    struct Case {
        int w, h, channels;
        float sigma;
        int passes;
    };
    // Radii from 1 up to beyond the buffer; a single column and a single row; 1, 2, 3 and 4 channels.
    for (const Case& t : {Case{37, 23, 1, 3.0f, 2}, Case{37, 23, 3, 0.2f, 1}, Case{16, 40, 4, 9.0f, 1},
                          Case{9, 5, 2, 20.0f, 2}, Case{1, 12, 3, 2.0f, 1}, Case{13, 1, 4, 2.0f, 3},
                          Case{1, 1, 1, 5.0f, 2}}) {
        std::vector<float> buffer(static_cast<size_t>(t.w) * t.h * t.channels);
        for (float& v : buffer)
            v = value(random);
        const int r = boxBlurRadius(t.sigma, t.passes);
        EXPECT_EQ(r,
                  std::max(1, static_cast<int>(std::floor((t.passes > 1 ? 1.2f : 1.7f) * t.sigma + 0.5f))));
        std::vector<float> expected = buffer;
        for (int p = 0; p < t.passes; ++p)
            expected = directPass(expected, t.w, t.h, t.channels, r);
        boxBlur(buffer.data(), t.w, t.h, t.channels, t.sigma, t.passes, scratch);
        for (size_t i = 0; i < buffer.size(); ++i)
            ASSERT_NEAR(buffer[i], expected[i], 2e-5f)
                << t.w << "x" << t.h << "x" << t.channels << " at " << i;
    }

    // A rectangle inside a larger buffer (rows further apart): only the rectangle changes.
    std::vector<float> big(20 * 10 * 4);
    for (float& v : big)
        v = value(random);
    const std::vector<float> before = big;
    std::vector<float> part(6 * 5 * 4);
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 24; ++i)
            part[y * 24 + i] = before[(static_cast<size_t>(y + 3) * 20 + 4) * 4 + i];
    const std::vector<float> expected = directPass(part, 6, 5, 4, 2);
    boxBlur(&big[(3 * 20 + 4) * 4], 6, 5, 4, 1.0f, 1, scratch, 20 * 4);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            for (int k = 0; k < 4; ++k) {
                const size_t i = (static_cast<size_t>(y) * 20 + x) * 4 + k;
                if (x >= 4 && x < 10 && y >= 3 && y < 8)
                    ASSERT_NEAR(big[i], expected[((y - 3) * 6 + (x - 4)) * 4 + k], 2e-5f);
                else
                    ASSERT_EQ(big[i], before[i]) << "outside the rectangle at " << x << "," << y;
            }
}

// ---- effective values ----

TEST(LookParameters, StrengthScalesAndMasculineSwapsMakeUpForTheJaw) {
    const LookParameters bold = lookParameters(3, false, 1);
    EXPECT_FLOAT_EQ(bold.lashLine, 1.0f);
    EXPECT_FLOAT_EQ(bold.jaw, 0);

    const LookParameters strong = lookParameters(3, false, 1.5f);
    EXPECT_FLOAT_EQ(strong.smooth, 1.35f);
    EXPECT_FLOAT_EQ(strong.lipColour, 1.5f) << "capped at 1.5";
    EXPECT_FLOAT_EQ(lookParameters(3, false, 3).smooth, 1.5f);

    const LookParameters masculine = lookParameters(3, true, 1);
    EXPECT_FLOAT_EQ(masculine.jaw, 0.9775f);
    EXPECT_FLOAT_EQ(masculine.slim, 0.255f);
    EXPECT_FLOAT_EQ(masculine.smooth, 0.54f);
    EXPECT_FLOAT_EQ(masculine.browFill, 0.48f);
    for (float v : {masculine.blush, masculine.eyeShadow, masculine.lashLine, masculine.lipColour,
                    masculine.eyeEnlarge, masculine.lipPlump})
        EXPECT_EQ(v, 0);
    EXPECT_FLOAT_EQ(lookParameters(3, true, 1.5f).jaw, 1) << "the jaw is capped at 1";

    // No strength, no look or an unknown look: every value 0, the masculine jaw too.
    for (const LookParameters& none :
         {lookParameters(2, true, 0), lookParameters(3, true, -1), lookParameters(1, false, NAN),
          lookParameters(0, true, 1), lookParameters(4, false, 1)}) {
        const float* v = &none.smooth;
        for (int i = 0; i < 14; ++i)
            EXPECT_EQ(v[i], 0) << "parameter " << i + 1;
    }
}

// ---- frames and faces ----

struct Face {
    LandmarkSet set;
    FaceGeometry geometry;
    void update() { geometry = computeGeometry(set); }
};

Face sampleFace() {
    Face face;
    for (int i = 0; i < kLandmarkCount; ++i)
        face.set.landmarks[i] = test::kSampleFrame40Landmarks[i];
    face.update();
    return face;
}

// Every landmark moved by f(point).
template <class F>
Face transformed(F&& f) {
    Face face = sampleFace();
    for (Point2& p : face.set.landmarks)
        p = f(p);
    face.update();
    return face;
}

// A frame of noise with alpha bytes that are not 255, and a guard band of bytes after each row.
struct Frame {
    int width, height, stride;
    std::vector<uint8_t> bytes;
    Frame(int w, int h) : width(w), height(h), stride(w * 4 + 16) {
        static const std::vector<uint8_t> noise = [] {
            std::vector<uint8_t> made(1400 * 4 * 800);
            std::mt19937 random(3);
            for (uint8_t& b : made)
                b = static_cast<uint8_t>(random());
            return made;
        }();
        bytes.assign(noise.begin(), noise.begin() + static_cast<ptrdiff_t>(stride) * h + 64);
    }
    LookPixels pixels() { return {bytes.data(), width, height, stride}; }
};

// Every byte outside the region, every alpha byte and every guard byte as it was.
void expectOnlyColourInside(const Frame& before, const Frame& after, const LookRegion& roi) {
    long outside = 0, alpha = 0;
    for (size_t i = 0; i < before.bytes.size(); ++i) {
        if (before.bytes[i] == after.bytes[i]) continue;
        const int y = static_cast<int>(i / before.stride), column = static_cast<int>(i % before.stride);
        const int x = column / 4;
        const bool inside = y < before.height && column < before.width * 4 && x >= roi.x &&
                            x < roi.x + roi.width && y >= roi.y && y < roi.y + roi.height;
        if (!inside) ++outside;
        if (column % 4 == 3) ++alpha;
    }
    EXPECT_EQ(outside, 0) << "bytes changed outside the region " << roi.x << "," << roi.y << " " << roi.width
                          << "x" << roi.height;
    EXPECT_EQ(alpha, 0) << "alpha or guard bytes changed";
}

TEST(TouchUpLook, FacesAtTheEdgeTinyHugeTurnedOrLostTouchOnlyTheirRegion) {
    const Face sample = sampleFace();
    const float cx = sample.geometry.faceCentre.x, cy = sample.geometry.faceCentre.y;
    struct Case {
        const char* name;
        Face face;
        int width, height;
        bool runs;
    };
    auto shifted = [&](float dx, float dy) {
        return transformed([=](Point2 p) { return Point2{p.x + dx, p.y + dy}; });
    };
    auto scaled = [&](float s) {
        return transformed([=](Point2 p) { return Point2{cx + (p.x - cx) * s, cy + (p.y - cy) * s}; });
    };
    // The region the face would have in a frame too large to clip it.
    const LookRegion home = lookRegion(sample.set, sample.geometry, 100000, 100000);
    Face nan = sampleFace();
    nan.set.landmarks[200].x = NAN;
    nan.update();
    const std::vector<Case> cases = {
        {"upright in the frame", sample, 1280, 720, true},
        {"half out on the left", shifted(-cx, 0), 1280, 720, true},
        {"half out at the bottom right", shifted(1280 - cx, 720 - cy), 1280, 720, true},
        {"over the top edge", shifted(0, -cy - 100), 1280, 720, true},
        {"in a frame smaller than the face", sample, 620, 400, true},
        {"three times the frame", scaled(3), 1280, 720, true},
        {"turned far to the side", transformed([&](Point2 p) {
             return Point2{p.x < cx ? cx + (p.x - cx) * 0.15f : p.x, p.y};
         }),
         1280, 720, true},
        {"eyes under 12 pixels apart", scaled(0.08f), 1280, 720, false},
        {"region clipped below 32 pixels", shifted(1280 - 31 - static_cast<float>(home.x), 0), 1280, 720,
         false},
        {"all at one point (lost)", transformed([](Point2) {
             return Point2{640, 360};
         }),
         1280, 720, false},
        {"far outside the frame", shifted(5000, -3000), 1280, 720, false},
        {"a landmark that is not a number", nan, 1280, 720, false},
        {"a default record", Face{}, 1280, 720, false},
    };
    LookBuffers buffers;
    for (const Case& c : cases)
        for (int look = 1; look <= 3; ++look)
            for (bool masculine : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << c.name << ", look " << look << (masculine ? " masculine" : ""));
                const Frame before(c.width, c.height);
                Frame after = before;
                const LookRegion roi =
                    applyLook(buffers, after.pixels(), c.face.set, c.face.geometry, look, masculine, 1.5f);
                EXPECT_EQ(!roi.empty(), c.runs);
                if (roi.empty()) {
                    EXPECT_EQ(before.bytes, after.bytes) << "the frame must stay as it was";
                    continue;
                }
                EXPECT_GE(roi.x, 0);
                EXPECT_GE(roi.y, 0);
                EXPECT_LE(roi.x + roi.width, c.width);
                EXPECT_LE(roi.y + roi.height, c.height);
                EXPECT_NE(before.bytes, after.bytes) << "a look that runs changes something";
                expectOnlyColourInside(before, after, roi);
            }
}

TEST(TouchUpLook, AllocatesNothingOnceItsBuffersHaveTheirSize) {
    const Face face = sampleFace();
    Frame frame(1280, 720);
    LookBuffers buffers;
    applyLook(buffers, frame.pixels(), face.set, face.geometry, 3, false, 1);
    applyLook(buffers, frame.pixels(), face.set, face.geometry, 3, true, 1);
    const long before = qm::test::allocationCount();
    for (int look = 1; look <= 3; ++look)
        for (bool masculine : {false, true})
            applyLook(buffers, frame.pixels(), face.set, face.geometry, look, masculine, 1.5f);
    // A smaller face afterwards reuses the same buffers.
    const Face smaller = transformed([&](Point2 p) { return Point2{p.x * 0.6f + 100, p.y * 0.6f + 50}; });
    applyLook(buffers, frame.pixels(), smaller.set, smaller.geometry, 3, false, 1);
    EXPECT_EQ(qm::test::allocationCount() - before, 0);
}

TEST(TouchUpLook, StrengthZeroLeavesTheFrameAsItWas) {
    const Face face = sampleFace();
    LookBuffers buffers;
    for (bool masculine : {false, true}) {
        const Frame before(1280, 720);
        Frame after = before;
        EXPECT_FALSE(applyLook(buffers, after.pixels(), face.set, face.geometry, 3, masculine, 0).empty());
        EXPECT_EQ(before.bytes, after.bytes);
    }
}

// ---- shape warps ----

// How far, along `outward`, the pixel at `at` now samples from: the frame is a ramp of 4 levels per pixel
// in red (x) and green (y) about `at`, so after the warp the pixel's red and green say where it came
// from. Positive: it shows what was farther out (the outline there moved in).
float sampledOutward(const Face& face, const LookParameters& p, Point2 at, Point2 outward) {
    Frame frame(1280, 720);
    const int px = static_cast<int>(at.x), py = static_cast<int>(at.y);
    // Only the neighbourhood matters: the warps move a pixel by a few pixels at most.
    for (int y = std::max(py - 32, 0); y < std::min(py + 32, frame.height); ++y)
        for (int x = std::max(px - 32, 0); x < std::min(px + 32, frame.width); ++x) {
            uint8_t* q = &frame.bytes[static_cast<size_t>(y) * frame.stride + x * 4];
            q[2] = static_cast<uint8_t>(std::clamp(128 + 4 * (x - px), 0, 255));
            q[1] = static_cast<uint8_t>(std::clamp(128 + 4 * (y - py), 0, 255));
        }
    static LookBuffers buffers;
    applyLookParameters(buffers, frame.pixels(), face.set, face.geometry, p);
    const uint8_t* q = &frame.bytes[static_cast<size_t>(py) * frame.stride + px * 4];
    const float dx = (q[2] - 128) / 4.0f, dy = (q[1] - 128) / 4.0f;
    return dx * outward.x + dy * outward.y;
}

Point2 unit(Point2 from, Point2 to) {
    const float d = std::max(std::hypot(to.x - from.x, to.y - from.y), 1e-6f);
    return {(to.x - from.x) / d, (to.y - from.y) / d};
}

// The mean of sampledOutward over the points, outward from `centre`.
float meanOutward(const Face& face, const LookParameters& p, std::span<const int> points, Point2 centre) {
    float sum = 0;
    for (int i : points)
        sum += sampledOutward(face, p, face.set.landmarks[i], unit(centre, face.set.landmarks[i]));
    return sum / static_cast<float>(points.size());
}

TEST(TouchUpLook, ShapeWarpsMoveTheOutlinesTheWayTheyShould) {
    using namespace face_points;
    const Face face = sampleFace();
    const FaceGeometry& g = face.geometry;
    const Point2 eyeMid{(g.leftEye.x + g.rightEye.x) / 2, (g.leftEye.y + g.rightEye.y) / 2};
    // The lower face's sides: the jaw between ear and chin on both sides (not the chin itself, which
    // sits on the slimming axis and stays).
    const int jaw[] = {150, 136, 172, 58, 379, 365, 397, 288};
    LookParameters slim;
    slim.slim = 1.5f;
    EXPECT_GT(meanOutward(face, slim, jaw, eyeMid), 1.0f) << "slimming pulls the jaw in";
    LookParameters wide;
    wide.jaw = 1;
    EXPECT_LT(meanOutward(face, wide, jaw, eyeMid), -0.5f) << "the masculine jaw pushes it out";

    LookParameters eyes;
    eyes.eyeEnlarge = 1.5f;
    EXPECT_LT(meanOutward(face, eyes, kEyeA, g.leftEye.x < g.rightEye.x ? g.leftEye : g.rightEye), -0.5f)
        << "larger eyes push the eye outline out";
    LookParameters lips;
    lips.lipPlump = 1.5f;
    EXPECT_LT(meanOutward(face, lips, kOuterLips, g.mouthCentre), -0.3f) << "fuller lips";
    LookParameters nose;
    nose.noseSlim = 1.5f;
    const int noseSides[] = {129, 358};  // the nostril wings
    EXPECT_GT(meanOutward(face, nose, noseSides, face.set.landmarks[kNose]), 0.5f) << "a slimmer nose";
}

}  // namespace
}  // namespace qm
