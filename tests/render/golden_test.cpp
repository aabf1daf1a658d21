// Golden frames: what a person sees for each face and for the room effects, composed over a real photo
// (data/astronaut.png) with a made-up face track on its face, compared with the committed pictures in
// golden/ at a quarter of the canvas size.
//
// Similarity: per channel, the mean absolute difference must stay within 1.0 levels and no pixel may differ
// by more than 40 levels (a moved feature or a changed brush shows at once; rounding and filter noise do
// not). QM_UPDATE_GOLDEN=1 rewrites the pictures instead (look at them before committing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/row_helper.h"
#include "base/wear_catalogue.h"
#include "render/composition.h"
#include "render/pictures.h"
#include "tests/support/synthetic_face.h"

namespace qm {
namespace {

constexpr int kReduce = 4;
constexpr int kGoldenWidth = kCanvasWidth / kReduce, kGoldenHeight = kCanvasHeight / kReduce;
constexpr double kMeanLimit = 1.0, kWorstLimit = 40;

const std::string kGoldenFolder = std::string(QM_SOURCE_DIR) + "/tests/render/golden/";

// The canvas reduced by block means, opaque BGRA.
std::vector<uint8_t> reducedCanvas(Graphics& g) {
    std::vector<uint8_t> canvas(static_cast<size_t>(kCanvasWidth) * kCanvasHeight * 4);
    readCanvas(g, canvas.data());
    std::vector<uint8_t> out(static_cast<size_t>(kGoldenWidth) * kGoldenHeight * 4);
    for (int y = 0; y < kGoldenHeight; ++y)
        for (int x = 0; x < kGoldenWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int j = 0; j < kReduce; ++j)
                    for (int i = 0; i < kReduce; ++i)
                        sum +=
                            canvas[((static_cast<size_t>(y) * kReduce + j) * kCanvasWidth + x * kReduce + i) *
                                       4 +
                                   c];
                out[(static_cast<size_t>(y) * kGoldenWidth + x) * 4 + c] =
                    static_cast<uint8_t>((sum + kReduce * kReduce / 2) / (kReduce * kReduce));
                out[(static_cast<size_t>(y) * kGoldenWidth + x) * 4 + 3] = 255;
            }
    return out;
}

void expectGolden(const std::string& name, const std::vector<uint8_t>& frame) {
    const std::string path = kGoldenFolder + name + ".png";
    if (std::getenv("QM_UPDATE_GOLDEN")) {
        ASSERT_TRUE(savePng(path, frame.data(), kGoldenWidth, kGoldenHeight)) << path;
        return;
    }
    std::vector<uint8_t> golden;
    int width = 0, height = 0;
    ASSERT_TRUE(loadPhoto(path, &golden, &width, &height)) << path;
    ASSERT_EQ(width, kGoldenWidth);
    ASSERT_EQ(height, kGoldenHeight);
    double total = 0, worst = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = std::abs(int(frame[i]) - int(golden[i]));
        total += d;
        worst = std::max(worst, d);
    }
    const double mean = total / (static_cast<double>(kGoldenWidth) * kGoldenHeight * 3);
    EXPECT_LE(mean, kMeanLimit) << name;
    EXPECT_LE(worst, kWorstLimit) << name;
}

class GoldenFrames : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loadPhoto(std::string(QM_SOURCE_DIR) + "/data/astronaut.png", &photo, &width, &height));
        height = std::min(height, width * 9 / 16);  // the top rows, 16:9, so the face sits mid-frame
        ASSERT_EQ(initialiseGraphics(g, GraphicsOptions{}), kOk);
        ASSERT_EQ(createSourceBitmap(g, width, height), kOk);
    }

    // Thirty frames of a still face (the smoothing settles), the last with the shot's own openness.
    std::vector<uint8_t> compose(const FrameFilters& filters, test::SyntheticFace f, const uint8_t* mask,
                                 RowHelper* rowHelper = nullptr, bool fullSize = false) {
        Composer composer(g);
        EXPECT_EQ(composer.load(), kOk);
        composer.prepare(filters);
        composer.waitForLoads();
        const float eyeOpen = f.eyeOpen;
        for (int frame = 0; frame < 30; ++frame) {
            f.eyeOpen = frame < 29 ? 0.3f : eyeOpen;
            const FaceGeometry face = test::syntheticFace(f);
            FrameInput input;
            input.sourcePixels = photo.data();
            input.sourceStride = width * 4;
            input.face = &face;
            input.personMask = mask;
            input.timeMs = 1000 + frame * 33.3;
            input.frameIndex = frame;
            input.rowHelper = rowHelper;
            EXPECT_EQ(composer.composeFrame(input, filters), kOk);
        }
        if (!fullSize) return reducedCanvas(g);
        std::vector<uint8_t> canvas(static_cast<size_t>(kCanvasWidth) * kCanvasHeight * 4);
        readCanvas(g, canvas.data());
        return canvas;
    }

    Graphics g;
    std::vector<uint8_t> photo;
    int width = 0, height = 0;
};

// The astronaut's face: eyes near (202, 101) and (247, 102).
constexpr test::SyntheticFace kAstronaut{225, 120, 45, 0.02f, 0, 0.3f};

TEST_F(GoldenFrames, EachFaceKind) {
    struct Shot {
        const char* name;
        int kind;
        float mouthOpen, eyeOpen, roll;
    };
    const Shot shots[] = {
        {"morvel", kFaceMorvel, 0, 0.3f, 0.02f},     {"morvel_open", kFaceMorvel, 0.35f, 0.3f, 0.02f},
        {"orange", kFaceOrange, 0.1f, 0.3f, -0.15f}, {"banana", kFaceBanana, 0.05f, 0.3f, 0.1f},
        {"kitten", kFaceKitten, 0, 0.3f, 0.02f},     {"kitten_open", kFaceKitten, 0.3f, 0.15f, 0.02f},
        {"googly", kFaceGoogly, 0.1f, 0.3f, 0.3f}};
    for (const Shot& shot : shots) {
        FrameFilters filters;
        filters.filtering = true;
        filters.faceKind = shot.kind;
        test::SyntheticFace f = kAstronaut;
        f.mouthOpen = shot.mouthOpen;
        f.eyeOpen = shot.eyeOpen;
        f.roll = shot.roll;
        expectGolden(shot.name, compose(filters, f, nullptr));
    }
}

TEST_F(GoldenFrames, RoomBehindThePerson) {
    const std::vector<uint8_t> mask = test::headAndShouldersMask(width, height, 225, 120);
    FrameFilters filters;
    filters.filtering = true;
    filters.blur = true;
    expectGolden("room_blur", compose(filters, kAstronaut, mask.data()));
    filters.blur = false;
    filters.backgroundPath = assetPath("orange.png");
    expectGolden("room_picture", compose(filters, kAstronaut, mask.data()));
}

// On two cores the large loops share their rows with a helper thread: every band is drawn with the same
// arithmetic, so the frame must come out identical to the byte, with everything that shares drawn.
TEST_F(GoldenFrames, SharingRowsWithAHelperDrawsTheSameFrame) {
    const std::vector<uint8_t> mask = test::headAndShouldersMask(width, height, 225, 120);
    FrameFilters filters;
    filters.filtering = true;
    filters.faceKind = kFaceMorvel;
    filters.bodyless = true;
    filters.torso = "suit";
    filters.backgroundPath = assetPath("orange.png");
    filters.wear[kWearHat].entry = findWearEntry(kWearKindHat, "cowboy");
    filters.wear[kWearGlasses].entry = findWearEntry(kWearKindGlasses, "aviator");
    filters.wear[kWearBeard].entry = findWearEntry(kWearKindBeard, "full");
    const std::vector<uint8_t> alone = compose(filters, kAstronaut, mask.data(), nullptr, true);
    RowHelper helper;
    for (int run = 0; run < 3; ++run) {
        const std::vector<uint8_t> shared = compose(filters, kAstronaut, mask.data(), &helper, true);
        ASSERT_EQ(shared.size(), alone.size());
        size_t differing = 0;
        for (size_t i = 0; i < shared.size(); ++i)
            differing += shared[i] != alone[i];
        EXPECT_EQ(differing, 0u) << "run " << run;
    }
    // Filters the test cannot see drawn would make it vacuous: the torso and the items are on the canvas.
    size_t changed = 0;
    const std::vector<uint8_t> plain = compose(FrameFilters{}, kAstronaut, nullptr, nullptr, true);
    for (size_t i = 0; i < plain.size(); ++i)
        changed += plain[i] != alone[i];
    EXPECT_GT(changed, plain.size() / 4);
}

}  // namespace
}  // namespace qm
