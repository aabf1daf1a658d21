// Body-less mode drawn: the torso files users write refused cleanly, and a composed frame with the body
// removed — the room where the body was, the head cut out over it, the torso under the head.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "base/failure.h"
#include "base/log.h"
#include "platform/paths.h"
#include "render/composition.h"
#include "render/room_layer.h"
#include "render/torso_painter.h"
#include "test_files.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::readText;
using testing::writeSheet;
using testing::writeText;

// The head's soft ellipse works out only its ring pixel by pixel; every pixel must still come out as
// when each one is worked out: ellipses of every size and turn, boxes cut by the picture's edges.
TEST(HeadCutout, SoftEllipseMatchesThePixelByPixelFade) {
    auto reference = [](uint32_t* data, int stride, const PixelBox& box, const HeadEllipse& e) {
        const double cosA = std::cos(e.angle), sinA = std::sin(e.angle);
        for (int y = box.y0; y < box.y1; ++y) {
            uint32_t* row = data + static_cast<size_t>(y) * (stride / 4);
            const double dy = y + 0.5 - e.centreY;
            for (int x = box.x0; x < box.x1; ++x) {
                const double dx = x + 0.5 - e.centreX;
                const double u = (dx * cosA + dy * sinA) / e.radiusX,
                             v = (-dx * sinA + dy * cosA) / e.radiusY;
                const double r2 = u * u + v * v;
                if (r2 <= 0.64) continue;
                const uint32_t a = r2 >= 1 ? 0 : static_cast<uint32_t>((1 - std::sqrt(r2)) * 5 * 256 + 0.5);
                const uint32_t p = row[x];
                row[x] = ((((p & 0x00FF00FFu) * a) >> 8) & 0x00FF00FFu) |
                         ((((p >> 8) & 0x00FF00FFu) * a) & 0xFF00FF00u);
            }
        }
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const int w = 320, h = 240;
    std::vector<uint32_t> expected(w * h), actual(w * h);
    for (int round = 0; round < 300; ++round) {
        for (uint32_t& p : expected)
            p = random() | 0xFF000000u;
        actual = expected;
        const HeadEllipse e{unit(random) * w, unit(random) * h, 0.6 + unit(random) * 150,
                            0.6 + unit(random) * 200, (unit(random) - 0.5) * 7};
        const PixelBox box{static_cast<int>(unit(random) * w / 2), static_cast<int>(unit(random) * h / 2),
                           w - static_cast<int>(unit(random) * w / 2),
                           h - static_cast<int>(unit(random) * h / 2)};
        reference(expected.data(), w * 4, box, e);
        fadeToHeadEllipse(reinterpret_cast<uint8_t*>(actual.data()), w * 4, box, e);
        ASSERT_EQ(actual, expected) << "round " << round << ": centre " << e.centreX << ", " << e.centreY
                                    << ", radii " << e.radiusX << " × " << e.radiusY << ", angle " << e.angle;
    }
}

TEST(TorsoFiles, BadFilesGiveTheirLogLinesAndNoTorso) {
    installFailureCallback(logFailure);
    const std::string folder = testing::temporaryFolder();
    const std::string log = folder + "test.log";
    setLogPath(log);
    const std::string good = R"({"frameW": 10, "frameH": 10, "cols": 4, "clips": {"idle": 6, "wave": 3}})";
    writeSheet(folder + "torso_ok_idle.png", 40, 20);  // 6 cells at 4 a row: 40 × 20
    writeSheet(folder + "torso_ok_wave.png", 30, 10);
    writeText(folder + "torso_ok.json", good);
    TorsoPainter painter;
    painter.choose(folder, "ok");
    EXPECT_TRUE(painter.waitUntilLoaded());
    EXPECT_EQ(painter.description().clips.size(), 2u);

    struct Case {
        const char* name;
        std::string json;
        const char* line;
    };
    const Case cases[] = {
        {"absent", "", "torso absent: no json"},
        {"empty", "", "torso empty: 0 clips, 0 x 0"},
        {"nuls", std::string(4096, '\0'), "torso nuls: 0 clips, 0 x 0"},
        {"truncated", R"({"frameW": 10, "frameH": 10, "clips": {"idle": 6, "wa)",
         "torso truncated: 0 clips, 10 x 10"},
        {"inf", R"({"frameW": 1e400, "frameH": 10, "clips": {"idle": 6}})", "torso inf: 0 clips, inf x 10"},
        {"nan", R"({"frameW": nan, "frameH": 10, "clips": {"idle": 6}})", "torso nan: 0 clips, nan x 10"},
        {"zero", R"({"frameW": -0, "frameH": 10, "clips": {"idle": 6}})", "torso zero: 0 clips, -0 x 10"},
        {"nosheet", R"({"frameW": 10, "frameH": 10, "clips": {"jump": 6}})",
         "torso nosheet: 0 clips, 10 x 10"},
        // The sheet holds 6 cells of 10 × 10 at 4 a row; these ask for more than it has.
        {"small", R"({"frameW": 20, "frameH": 10, "cols": 4, "clips": {"idle": 6}})",
         "torso small: 0 clips, 20 x 10"},
        {"many", R"({"frameW": 10, "frameH": 10, "cols": 4, "clips": {"idle": 1e9}})",
         "torso many: 0 clips, 10 x 10"},
        {"huge", R"({"frameW": 1e30, "frameH": 1e30, "clips": {"idle": 1}})", "torso huge: 0 clips, "},
        {"long", std::string(50 << 20, ' ') + good, "torso long: no json"},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) != "absent") writeText(folder + "torso_" + c.name + ".json", c.json);
        for (const char* clip : {"idle", "wave", "jump"})
            if (std::string(c.name) != "nosheet" && std::string(c.name) != "absent")
                writeSheet(folder + "torso_" + c.name + "_" + clip + ".png", 40, 20);
        TorsoPainter refused;
        refused.choose(folder, c.name);
        EXPECT_FALSE(refused.waitUntilLoaded()) << c.name;
        EXPECT_NE(readText(log).find(c.line), std::string::npos) << c.name;
    }
    // A sheet that is not a picture is left out like a missing one; the rest of the torso stays.
    writeText(folder + "torso_ok_wave.png", std::string(100, '\0'));
    painter.choose(folder, "ok");
    EXPECT_TRUE(painter.waitUntilLoaded());
    EXPECT_EQ(painter.description().clips.size(), 1u);
    EXPECT_NE(readText(log).find("torso ok: 1 clips, 10 x 10"), std::string::npos);
    // Choosing none drops it at once; so does a choice overtaken by another before its load ended.
    painter.choose(folder, "");
    EXPECT_FALSE(painter.loaded());
    painter.choose(folder, "ok");
    painter.choose(folder, "small");
    EXPECT_FALSE(painter.waitUntilLoaded());
    setLogPath("");
}

class BodylessFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        graphics = new Graphics;
        ASSERT_EQ(initialiseGraphics(*graphics, GraphicsOptions{}), kOk);
        composer = new Composer(*graphics);
        ASSERT_EQ(composer->load(), kOk);
    }
    static void TearDownTestSuite() {
        delete composer;
        delete graphics;
    }

    // A 1280 × 720 camera frame: a grey-green room, the person's blue body below their pink head.
    void SetUp() override {
        ASSERT_EQ(createSourceBitmap(*graphics, 1280, 720), kOk);
        source.assign(1280 * 720 * 4, 0);
        mask.assign(kMaskBytes, 0);
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                uint8_t* p = &source[(y * 1280 + x) * 4];
                const bool head = std::hypot(x - 640.0, (y - 300.0) * 0.75) < 100;
                const bool body = std::abs(x - 640) < 220 && y > 390;
                if (head)
                    p[0] = 150, p[1] = 140, p[2] = 240;
                else if (body)
                    p[0] = 230, p[1] = 40, p[2] = 30;
                else
                    p[0] = 110, p[1] = 150, p[2] = 120;
            }
        for (int y = 0; y < kMaskHeight; ++y)
            for (int x = 0; x < kMaskWidth; ++x) {
                const int fx = x * 5 + 2, fy = y * 5 + 2;
                const bool person = std::hypot(fx - 640.0, (fy - 300.0) * 0.75) < 110 ||
                                    (std::abs(fx - 640) < 230 && fy > 380);
                if (person) std::memset(&mask[(y * kMaskWidth + x) * 4], 255, 4);
            }
        face.faceCentre = {640, 300};
        face.leftEye = {600, 280}, face.rightEye = {680, 280};
        face.leftBrow = {600, 255}, face.rightBrow = {680, 255};
        face.mouthCentre = {640, 350};
        face.mouthWidth = 70;
        face.mouthHeight = 10;
        face.faceWidth = 200;
        face.eyeWidth = 30;
        face.eyeOpen = 0.3f;
    }
    void compose(const FrameFilters& filters, double timeMs) {
        composer->prepare(filters);
        composer->waitForLoads();
        FrameInput input;
        input.sourcePixels = source.data();
        input.sourceStride = 1280 * 4;
        input.personMask = mask.data();
        input.face = &face;
        input.timeMs = timeMs;
        ASSERT_EQ(composer->composeFrame(input, filters), kOk);
        canvas.resize(1280 * 720 * 4);
        readCanvas(*graphics, canvas.data());
    }
    const uint8_t* at(int x, int y) const { return &canvas[(y * 1280 + x) * 4]; }
    // The share of the box [x0, x0 + 300) × [520, 700) in the suit's navy.
    double navyShare(int x0) const {
        int navy = 0, all = 0;
        for (int y = 520; y < 700; y += 6)
            for (int x = x0; x < x0 + 300; x += 6, ++all) {
                const uint8_t* p = at(x, y);
                navy +=
                    std::abs(p[0] - 0x5c) < 30 && std::abs(p[1] - 0x3a) < 30 && std::abs(p[2] - 0x2d) < 30;
            }
        return static_cast<double>(navy) / all;
    }

    static Graphics* graphics;
    static Composer* composer;
    std::vector<uint8_t> source, mask, canvas;
    FaceGeometry face;
};
Graphics* BodylessFrameTest::graphics = nullptr;
Composer* BodylessFrameTest::composer = nullptr;

bool near(const uint8_t* p, int b, int g, int r, int tolerance) {
    return std::abs(p[0] - b) <= tolerance && std::abs(p[1] - g) <= tolerance &&
           std::abs(p[2] - r) <= tolerance;
}

TEST_F(BodylessFrameTest, RoomWhereTheBodyWasHeadKeptTorsoUnderIt) {
    FrameFilters filters;
    filters.filtering = true;
    filters.bodyless = true;
    for (int i = 0; i < 4; ++i)
        compose(filters, 1000 + i * 33);
    // The head stays; where the body was the room's colours show (never the body's blue); the room
    // itself is untouched.
    EXPECT_TRUE(near(at(640, 300), 150, 140, 240, 2));
    EXPECT_TRUE(near(at(640, 600), 110, 150, 120, 12)) << int(at(640, 600)[0]);
    EXPECT_TRUE(near(at(100, 100), 110, 150, 120, 2));
    // The head cut-out is soft: past its ellipse (0.86 face widths below the centre) nothing of the
    // camera's person shows.
    EXPECT_TRUE(near(at(640, 300 + 180), 110, 150, 120, 12));

    // With a torso its clothes fill the place under the head; the head still on top.
    filters.torso = "suit";
    compose(filters, 2000);
    ASSERT_GT(composer->faces().art().faces[kMorvelPicture].width, 0);
    EXPECT_GT(navyShare(490), 0.5) << "navy cloth under the head";
    EXPECT_TRUE(near(at(640, 300), 150, 140, 240, 2));
    // The torso follows the head: moved 200 pixels right, the cloth moves with it (after smoothing).
    for (auto& p : {&face.faceCentre, &face.leftEye, &face.rightEye, &face.leftBrow, &face.rightBrow,
                    &face.mouthCentre})
        p->x += 200;
    for (int i = 0; i < 40; ++i)
        compose(filters, 2100 + i * 33);
    EXPECT_GT(navyShare(690), 0.5);
    EXPECT_LT(navyShare(200), 0.05);
}

}  // namespace
}  // namespace qm
