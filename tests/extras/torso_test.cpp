// The torso model seen from outside: what a file describes, which gesture the face asks for and when,
// and where a cell lands under the head.
#include "extras/torso.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace qm {
namespace {

TorsoDef torsoWith(const std::string& clips, const std::string& exits = "") {
    return parseTorso("t", R"({"frameW": 100, "frameH": 120, "fps": 10, "head": {"x": 50, "y": 20, "w": 40},
        "clips": {)" + clips + R"(}, "exits": {)" +
                               exits + "}}");
}

TEST(TorsoFile, DescriptionAndDefaults) {
    const TorsoDef def =
        parseTorso("hoodie", R"({"frameW": 480, "frameH": 352, "head": {"x": 240, "y": 72, "w": 84},
        "fullLength": true, "eyes": [1, 2, 3, 4],
        "clips": {"shrug": 14, "idle": 24, "none": 0, "bad": -2},
        "exits": {"idle": [0, 12, 24, 25, -1, 3.7], "shrug": []}})");
    EXPECT_EQ(def.cols, 8);  // absent
    EXPECT_EQ(def.fps, 15);
    EXPECT_TRUE(def.fullLength);
    EXPECT_FALSE(def.activity);
    ASSERT_TRUE(def.hasEyes);
    EXPECT_EQ(def.eyes[3], 4);
    ASSERT_EQ(def.clips.size(), 2u);  // clips without frames are left out; the rest ordered by name
    EXPECT_EQ(def.clips[0].name, "idle");
    EXPECT_EQ(def.clips[1].name, "shrug");
    const std::vector<bool>& exits = def.clips[0].exits;
    ASSERT_EQ(exits.size(), 25u);
    EXPECT_TRUE(exits[0] && exits[12] && exits[24] && exits[3]);  // 25 and -1 are outside; 3.7 is frame 3
    EXPECT_EQ(std::count(exits.begin(), exits.end(), true), 4);
    EXPECT_TRUE(torsoUsable(def));

    EXPECT_EQ(parseTorso("t", R"({"cols": 0})").cols, 1);
    EXPECT_FALSE(parseTorso("t", R"({"eyes": [1, 2, 3]})").hasEyes);
    EXPECT_EQ(parseTorso("t", R"({"head": {"w": 0.2}})").headW, 1);
    // Nonsense sizes and rates never reach the drawing as numbers to divide by.
    const TorsoDef odd = parseTorso("t", R"({"frameW": 1e400, "frameH": nan, "fps": -4, "cols": nan,
        "clips": {"idle": 1e400}})");
    EXPECT_FALSE(torsoUsable(odd));
    EXPECT_EQ(odd.fps, 15);
    EXPECT_EQ(odd.cols, 1);
    ASSERT_EQ(odd.clips.size(), 1u);
    EXPECT_GE(odd.clips[0].frames, 1);
    EXPECT_FALSE(torsoUsable(parseTorso("t", "")));
}

// A face at rest: level, brows and mouth at their usual places.
FaceGeometry restingFace() {
    FaceGeometry f;
    f.leftEye = {100, 100}, f.rightEye = {160, 100};
    f.leftBrow = {100, 80}, f.rightBrow = {160, 80};
    f.mouthWidth = 60;
    f.mouthOpen = 0;
    return f;
}

// Plays the animator at 30 frames a second from t0 to t1 with the face the function gives, and returns
// the names of the clips it started, in order.
template <typename FaceAt>
std::vector<std::string> play(TorsoAnimator& animator, const TorsoDef& def, double t0, double t1,
                              FaceAt faceAt) {
    std::vector<std::string> started;
    int last = -2, lastFrame = -1;
    for (double t = t0; t < t1; t += 1.0 / 30) {
        animator.updateMood(faceAt(t), t);
        const TorsoFrame f = animator.frameAt(t);
        if (f.clip >= 0 && (f.clip != last || f.frame < lastFrame)) started.push_back(def.clips[f.clip].name);
        last = f.clip;
        lastFrame = f.frame;
    }
    return started;
}

TEST(TorsoGestures, TalkingAlternatesAndIdleLoopsAlone) {
    // Talking: explain and count take turns, never the same twice in a row, and idle never cuts in.
    const TorsoDef def = torsoWith(R"("idle": 10, "explain": 5, "count": 5)");
    TorsoAnimator animator;
    animator.reset(&def, 7);
    const auto talking = [](double t) {
        FaceGeometry f = restingFace();
        f.mouthOpen = std::fmod(t, 0.3) < 0.15 ? 0.3f : 0.02f;
        return f;
    };
    const std::vector<std::string> clips = play(animator, def, 0, 6, talking);
    ASSERT_GE(clips.size(), 8u);
    for (size_t i = 1; i < clips.size(); ++i) {
        EXPECT_NE(clips[i], clips[i - 1]) << i;
        EXPECT_NE(clips[i], "idle");
    }

    // A torso with only idle: talking asks for nothing, so idle restarts at each end.
    const TorsoDef idleOnly = torsoWith(R"("idle": 10)");
    animator.reset(&idleOnly);
    const std::vector<std::string> loops = play(animator, idleOnly, 0, 3.5, talking);
    EXPECT_EQ(loops, std::vector<std::string>(4, "idle"));

    // Quiet: idle plays on; with exit frames it is cut only by a gesture.
    const TorsoDef withExits = torsoWith(R"("idle": 10, "explain": 5)", R"("idle": [3])");
    animator.reset(&withExits);
    const std::vector<std::string> quiet =
        play(animator, withExits, 0, 2.5, [](double) { return restingFace(); });
    EXPECT_EQ(quiet, std::vector<std::string>(3, "idle"));
}

TEST(TorsoGestures, ShrugWaitsForTheBrowsAndThreeSeconds) {
    const TorsoDef def = torsoWith(R"("idle": 10, "shrug": 5, "celebrate": 5)");
    TorsoAnimator animator;
    animator.reset(&def);
    // Brows raised from t = 1 s and held for 9 s.
    const auto brows = [](double t) {
        FaceGeometry f = restingFace();
        if (t >= 1) f.leftBrow.y = f.rightBrow.y = 60;
        return f;
    };
    std::vector<double> shrugs;
    int last = -1;
    for (double t = 0; t < 10; t += 1.0 / 30) {
        animator.updateMood(brows(t), t);
        const TorsoFrame f = animator.frameAt(t);
        if (f.clip == animator.clipIndex("shrug") && last != f.clip) shrugs.push_back(t);
        last = f.clip;
    }
    // Not before 0.3 s of raised brows (and the first cut-in after it: idle ends at 1 s steps); then never
    // again within 3 s of its last start.
    ASSERT_GE(shrugs.size(), 2u);
    EXPECT_GE(shrugs[0], 1.3 - 1e-6);
    EXPECT_LE(shrugs[0], 2.05);
    for (size_t i = 1; i < shrugs.size(); ++i)
        EXPECT_GT(shrugs[i] - shrugs[i - 1], 3.0);

    // A smile held 0.4 s celebrates; a tilted head shrugs (and wins over the smile).
    animator.reset(&def);
    const auto smile = [](double t) {
        FaceGeometry f = restingFace();
        if (t >= 0.5) f.mouthWidth = 75;
        return f;
    };
    EXPECT_EQ(play(animator, def, 0, 2.05, smile), (std::vector<std::string>{"idle", "celebrate", "idle"}));
    animator.reset(&def);
    const auto tiltAndSmile = [](double t) {
        FaceGeometry f = restingFace();
        if (t >= 0.2) f.roll = 0.3f;
        if (t >= 0.5) f.mouthWidth = 75;
        return f;
    };
    EXPECT_EQ(play(animator, def, 0, 1.7, tiltAndSmile),
              (std::vector<std::string>{"idle", "shrug", "celebrate"}));
}

TEST(TorsoPlacement, UnderTheHeadWithFitKittenAndFullLength) {
    TorsoDef def = torsoWith(R"("idle": 1)");  // head anchor (50, 20), width 40; cell 100 × 120
    TorsoAnchors a{300, 200, 300, 180, 200, 80, 0};
    // Ordinary face: the head anchor on the face centre, scale 0.95 × 200 / 40.
    Affine2 m = placeTorso(def, false, 0, 0, a, {});
    Point2 head = m.apply(50, 20);
    EXPECT_NEAR(head.x, 300, 1e-3);
    EXPECT_NEAR(head.y, 200, 1e-3);
    EXPECT_NEAR(m.apply(51, 20).x - head.x, 4.75, 1e-4);
    // Rolled head: the torso turns by 0.3 of the roll about the face centre.
    a.roll = 0.5f;
    m = placeTorso(def, false, 0, 0, a, {});
    EXPECT_NEAR(std::atan2(m.yx, m.xx), 0.15, 1e-5);
    EXPECT_NEAR(m.apply(50, 20).x, 300, 1e-3);
    a.roll = 0;
    // The fit: scale about the face centre, then right by x and up by y face widths.
    m = placeTorso(def, false, 0, 0, a, {1.5f, 0.1f, 0.2f});
    head = m.apply(50, 20);
    EXPECT_NEAR(head.x, 320, 1e-3);
    EXPECT_NEAR(head.y, 160, 1e-3);
    EXPECT_NEAR(m.apply(51, 20).x - head.x, 4.75 * 1.5, 1e-4);
    // The kitten without eyes: larger, and lower by 0.6 eye distances down the face.
    m = placeTorso(def, true, 1000, 1000, a, {});
    EXPECT_NEAR(m.apply(50, 20).y, 200 + 0.6 * 80, 1e-3);
    EXPECT_NEAR(m.apply(51, 20).x - m.apply(50, 20).x, 1.5 * 200 / 40, 1e-4);
    // The kitten with eyes: the torso's eye midpoint on the kitten's, scaled to 0.7 of the kitten's eyes.
    def.hasEyes = true;
    def.eyes[0] = 40, def.eyes[1] = 30, def.eyes[2] = 60, def.eyes[3] = 30;
    m = placeTorso(def, true, 1000, 1000, a, {});
    const Point2 eyes = m.apply(50, 30);
    const double kittenEyes = 1.7 * 80 * std::hypot(0.329, 0.005) / 0.329;
    EXPECT_NEAR(m.apply(60, 30).x - m.apply(40, 30).x, 0.7 * kittenEyes, 0.05);
    // The kitten's eyes sit 0.34 d below the eye midpoint, moved back up by its own eye line's offset.
    EXPECT_NEAR(eyes.x, 300, 0.5);
    EXPECT_GT(eyes.y, 180);

    // Full length: a figure reaching below 97 % of a 720-row frame shrinks about the top of the head,
    // never below 0.2; one that fits stays.
    def.hasEyes = false;
    def.fullLength = true;
    m = placeTorso(def, false, 0, 0, a, {});  // bottom = 200 + 100 × 4.75 = 675
    FullLengthFit fit = fitFullLength(def, m, a, 720);
    EXPECT_EQ(fit.scale, 1);
    fit = fitFullLength(def, m, a, 500);  // top 20: (485 − 20) / (675 − 20)
    EXPECT_NEAR(fit.scale, 465.0 / 655, 1e-4);
    EXPECT_NEAR(fit.x, 300, 1e-4);
    EXPECT_NEAR(fit.y, 20, 1e-4);
    EXPECT_EQ(fitFullLength(def, m, a, 100).scale, 0.2);
}

}  // namespace
}  // namespace qm
