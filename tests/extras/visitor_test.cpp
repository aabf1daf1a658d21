// The visitor model seen from outside: what a file describes (and what a hostile one is brought back to),
// and when and where each frame of the schedule shows.
#include "extras/visitor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace qm {
namespace {

const Fit kNeutral{};

// The frame shown at each 1/fps step of one period, −1 where nothing shows.
std::vector<int> framesOverPeriod(const VisitorDef& def, double every) {
    std::vector<int> frames;
    const int steps = static_cast<int>(std::lround(visitorPeriod(def, every) * def.fps));
    for (int k = 0; k < steps; ++k) {
        const VisitorPlacement p =
            visitorAt(def, kNeutral, every, false, 1280, 720, (k + 0.5) * 1000 / def.fps);
        frames.push_back(p.visible ? p.frame : -1);
    }
    return frames;
}

TEST(VisitorFile, DescriptionAndDefaults) {
    const VisitorDef def = parseVisitor("cat", R"({"frameW": 200, "frameH": 150, "count": 3, "cols": 2,
        "cx": [5, 6, 7], "feet": [[100, 140, 60], null, [1, 2]]})");
    EXPECT_TRUE(visitorUsable(def));
    EXPECT_EQ(def.fps, 15);
    EXPECT_EQ(def.glide, -1);
    EXPECT_EQ(def.freeze, 2);
    EXPECT_FALSE(def.window);
    EXPECT_EQ(def.bw, 0);
    ASSERT_EQ(def.feet.size(), 3u);
    EXPECT_TRUE(def.feet[0].present);
    EXPECT_EQ(def.feet[0].size, 60);
    EXPECT_FALSE(def.feet[1].present);
    EXPECT_FALSE(def.feet[2].present);  // two numbers are not a foot
    double w = 0, h = 0;
    visitorSheetNeeded(def, &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);

    const VisitorDef odd = parseVisitor("o", R"({"frameW": 10, "frameH": 10, "count": 4, "fps": 0, "cols": 0,
        "freeze": 0, "box": [3], "glide": 0.5})");
    EXPECT_EQ(odd.fps, 1);
    EXPECT_EQ(odd.cols, 1);
    EXPECT_EQ(odd.freeze, 1);
    EXPECT_EQ(odd.bw, 0);  // one number is no box
    EXPECT_EQ(parseVisitor("o", R"({"box": [3, 0]})").bw, 0);
    EXPECT_EQ(parseVisitor("o", R"({"box": [3, 40]})").bx, 3);
}

TEST(VisitorFile, HostileNumbersAndListsAreBroughtBack) {
    const VisitorDef def = parseVisitor("x", R"({"frameW": 64, "frameH": 64, "count": 4, "fps": nan,
        "glide": nan, "freeze": nan, "cx": [1, nan, 1e400, 4, 5, 6], "feet": [[nan, 1, 2], [1e400, 1, 2], null]})");
    ASSERT_TRUE(visitorUsable(def));
    EXPECT_EQ(def.fps, 15);
    EXPECT_EQ(def.glide, -1);
    EXPECT_EQ(def.freeze, 3);
    EXPECT_EQ(def.cx,
              (std::vector<float>{1, 0, 4, 5}));  // trimmed to the frames; 1e400 → 0 (nan is no number)
    ASSERT_EQ(def.feet.size(), 4u);               // padded to the frames
    for (const VisitorFeet& f : def.feet)
        EXPECT_FALSE(f.present);

    EXPECT_EQ(parseVisitor("x", R"({"fps": 1e400})").fps, kFastestVisitorFps);
    EXPECT_EQ(parseVisitor("x", R"({"glide": 1e400})").glide, kWidestVisitorGlide);
    EXPECT_FALSE(visitorUsable(parseVisitor("x", R"({"frameW": 64, "frameH": 64, "count": 4097})")));
    EXPECT_FALSE(visitorUsable(parseVisitor("x", R"({"frameW": 100000, "frameH": 64, "count": 4})")));
    EXPECT_FALSE(visitorUsable(parseVisitor("x", R"({"frameW": 0.5, "frameH": 64, "count": 4})")));
    EXPECT_FALSE(visitorUsable(parseVisitor("x", R"({"frameW": 64, "frameH": 64, "count": 0.9})")));
    EXPECT_FALSE(visitorUsable(parseVisitor("x", std::string("\0\0\0{\"frameW\"", 13))));
    EXPECT_FALSE(visitorUsable(parseVisitor("x", "")));
}

TEST(VisitorSchedule, ShortAnimationEveryPeriodLongOneBackToBack) {
    // 30 frames at 15 fps: 2 s visible, then 13 s empty.
    const VisitorDef def = parseVisitor("w", R"({"frameW": 100, "frameH": 100, "count": 30})");
    const std::vector<int> frames = framesOverPeriod(def, 15);
    ASSERT_EQ(frames.size(), 225u);
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(frames[k], k);
    for (size_t k = 30; k < frames.size(); ++k)
        ASSERT_EQ(frames[k], -1) << k;
    // The next period starts again at frame 0.
    EXPECT_EQ(visitorAt(def, kNeutral, 15, false, 1280, 720, 15010).frame, 0);
    EXPECT_TRUE(visitorAt(def, kNeutral, 15, false, 1280, 720, 15010).visible);

    // 150 frames (10 s) every 6 s: back to back.
    const VisitorDef longer = parseVisitor("l", R"({"frameW": 100, "frameH": 100, "count": 150})");
    EXPECT_DOUBLE_EQ(visitorPeriod(longer, 6), 10);
    for (const int frame : framesOverPeriod(longer, 6))
        EXPECT_GE(frame, 0);
}

TEST(VisitorSchedule, GlideComesInHoldsAndLeavesTheOtherSide) {
    const VisitorDef def = parseVisitor("p", R"({"frameW": 100, "frameH": 100, "count": 10, "fps": 10,
        "glide": 120, "box": [0, 100]})");
    ASSERT_EQ(def.freeze, 9);
    const std::vector<int> frames = framesOverPeriod(def, 15);
    const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9,   // in
                                       9, 9, 9, 9, 9, 9, 9, 9,         // 0.8 s held
                                       9, 8, 7, 6, 5, 4, 3, 2, 1, 0};  // backwards
    ASSERT_GE(frames.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(frames[k], expected[k]) << k;
    EXPECT_EQ(frames[expected.size()], -1);

    // Where the box sits: it slides in from beyond the left edge, rests, and leaves beyond the right.
    auto boxLeft = [&](int j) {
        const VisitorPlacement p = visitorAt(def, kNeutral, 15, false, 1280, 720, (j + 0.5) * 100);
        return p.left + p.scale * def.bx;
    };
    auto boxRight = [&](int j) {
        return boxLeft(j) + visitorAt(def, kNeutral, 15, false, 1280, 720, 50).scale * 50;
    };
    EXPECT_LT(boxRight(0), 0);
    for (int j = 1; j < 9; ++j)
        EXPECT_GT(boxLeft(j), boxLeft(j - 1));
    for (int j = 10; j < 19; ++j)
        EXPECT_DOUBLE_EQ(boxLeft(j), boxLeft(9));  // at rest
    for (int j = 20; j < 28; ++j)
        EXPECT_GT(boxLeft(j), boxLeft(j - 1));
    EXPECT_GT(boxLeft(27), 1280 * 0.5);
}

TEST(VisitorPlacement, WindowClipGhostAndShadow) {
    const VisitorDef def = parseVisitor("g", R"({"frameW": 300, "frameH": 200, "count": 2, "window": true,
        "feet": [[150, 190, 100], null]})");
    for (const Fit& fit : {Fit{1, 0, 0, 0}, Fit{2.5f, 0.6f, 0.5f, 0}, Fit{0.3f, -0.6f, -0.5f, 0}}) {
        const VisitorPlacement p = visitorAt(def, fit, 15, true, 1280, 720, 10);
        ASSERT_TRUE(p.visible && p.clipped);
        // The figure fills the area exactly and the clip is the area.
        EXPECT_NEAR(p.clipRight - p.clipLeft, fit.scale * 0.34 * 1280, 1e-3);
        EXPECT_NEAR(p.left, p.clipLeft, 1e-3);
        EXPECT_NEAR(p.top, p.clipTop, 1e-3);
        EXPECT_NEAR(p.left + 300 * p.scale, p.clipRight, 1e-3);
        EXPECT_FLOAT_EQ(p.opacity, 0.45f);
        ASSERT_TRUE(p.shadow);
        EXPECT_GE(p.shadowRx, 8);
        EXPECT_NEAR(p.shadowRy, 0.16 * p.shadowRx, 1e-9);
    }
    const VisitorPlacement second = visitorAt(def, kNeutral, 15, false, 1280, 720, 1000.0 / 15 + 1);
    EXPECT_EQ(second.frame, 1);
    EXPECT_FALSE(second.shadow);
    EXPECT_FLOAT_EQ(second.opacity, 1);

    // A hostile fit draws nothing rather than something enormous.
    EXPECT_FALSE(visitorAt(def, Fit{NAN, 0, 0, 0}, 15, false, 1280, 720, 10).visible);
    EXPECT_FALSE(visitorAt(def, Fit{1, 1e30f, 0, 0}, 15, false, 1280, 720, 10).visible);
}

}  // namespace
}  // namespace qm
