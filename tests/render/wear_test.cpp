// The wear items as a person sees them: where each picture lands on the morvel and on a synthetic real
// face, the hat over a wig, the beard's jaw warp, a turned head's narrowed beard half, and missing files.
#include "render/wear_painter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/log.h"
#include "base/wear_catalogue.h"
#include "render/pictures.h"
#include "test_files.h"

namespace qm {
namespace {

int entryOf(int kind, const char* id) {
    return findWearEntry(kind, id);
}

// Filters on, every slot empty.
FrameFilters noWear() {
    FrameFilters filters;
    filters.filtering = true;
    return filters;
}

// A face picture drawn upright with its centre anchor at (x, y).
DrawnFacePicture drawnAt(const FacePicture& picture, const FacePicturePlacement& where, float x, float y) {
    DrawnFacePicture drawn;
    drawn.picture = &picture;
    drawn.where = where;
    drawn.x = x, drawn.y = y;
    return drawn;
}

class WearTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        morvel = new FacePicture;
        ASSERT_EQ(loadFacePicture(assetPath("morvel.png"), kFaceAnchors[kMorvelPicture], nullptr, morvel),
                  kOk);
        painter = new WearPainter;
        ASSERT_EQ(painter->load(assetPath(""), true, *morvel), 22);
        // The canvas over a 1280 × 720 source, so P is the identity.
        graphics = new Graphics;
        ASSERT_EQ(initialiseGraphics(*graphics, GraphicsOptions{}), kOk);
        ASSERT_EQ(createSourceBitmap(*graphics, 1280, 720), kOk);
    }
    static void TearDownTestSuite() {
        delete graphics;
        delete painter;
        delete morvel;
    }
    void SetUp() override {
        cairo_matrix_init_identity(&identity);
        clear();
    }
    void clear() {
        cairo_set_source_rgb(graphics->cr.get(), 0, 0, 1);
        cairo_paint(graphics->cr.get());
    }
    const uint8_t* pixel(int x, int y) {
        cairo_surface_t* canvas = graphics->canvas.get();
        cairo_surface_flush(canvas);
        return cairo_image_surface_get_data(canvas) + y * cairo_image_surface_get_stride(canvas) + x * 4;
    }
    bool painted(int x, int y) {
        const uint8_t* p = pixel(x, y);
        return !(p[0] == 255 && p[1] == 0 && p[2] == 0);
    }
    // First canvas row with anything drawn on it.
    int firstPaintedRow() {
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x)
                if (painted(x, y)) return y;
        return -1;
    }
    int lastPaintedRow() {
        for (int y = 719; y >= 0; --y)
            for (int x = 0; x < 1280; ++x)
                if (painted(x, y)) return y;
        return -1;
    }

    // The morvel at half size, its centre anchor at (640, 380), upright.
    FacePicturePlacement morvelAt(float h) {
        FacePicturePlacement where{};
        const float W = morvel->width, H = morvel->height;
        where.anchorX = 0.5f * W, where.anchorY = 0.5f * H;
        where.horizontalScale = h;
        where.leftEyeX = 0.3f * W, where.leftEyeY = 0.38f * H;
        where.rightEyeX = 0.7f * W, where.rightEyeY = 0.38f * H;
        where.mouthX = 0.5f * W, where.mouthY = 0.64f * H;
        return where;
    }

    static FacePicture* morvel;
    static WearPainter* painter;
    static Graphics* graphics;
    cairo_matrix_t identity;
};
FacePicture* WearTest::morvel = nullptr;
WearPainter* WearTest::painter = nullptr;
Graphics* WearTest::graphics = nullptr;

TEST_F(WearTest, WigTopSitsItsOffsetAboveTheMorvelsHeadTop) {
    const float h = 0.5f;
    for (const char* id : {"swept", "spiky", "bob", "curls"}) {
        clear();
        FrameFilters wear = noWear();
        wear.wear[kWearHair].entry = entryOf(kWearKindHair, id);
        painter->drawOnPicture(*graphics, wear, drawnAt(*morvel, morvelAt(h), 640, 560), identity);
        const WearEntry& item = kWearCatalogue[wear.wear[kWearHair].entry];
        ASSERT_TRUE(painter->lastDrawn().wig) << id;
        const float expectedTop =
            (morvel->box.headTop + item.offset * morvel->height - 0.5f * morvel->height) * h;
        EXPECT_NEAR(painter->lastDrawn().wigTop, expectedTop, 0.01f) << id;
        // The picture's top edge is the hair's top: the first drawn row is the wig's top.
        EXPECT_NEAR(firstPaintedRow(), 560 + expectedTop, 2.0) << id;
    }
}

TEST_F(WearTest, HatOverAWigIsAsWideAndSitsOnIt) {
    const float h = 0.5f;
    for (const char* wig : {"swept", "curls"})
        for (const char* hat : {"tophat", "party", "cowboy"}) {
            FrameFilters wear = noWear();
            wear.wear[kWearHair].entry = entryOf(kWearKindHair, wig);
            wear.wear[kWearHat].entry = entryOf(kWearKindHat, hat);
            painter->drawOnPicture(*graphics, wear, drawnAt(*morvel, morvelAt(h), 640, 380), identity);
            const WearPainter::Drawn& d = painter->lastDrawn();
            ASSERT_TRUE(d.wig && d.hat);
            const WearEntry& item = kWearCatalogue[wear.wear[kWearHat].entry];
            const float fw = d.hatWidth / item.scale;  // the forehead width the hat was sized by
            EXPECT_GE(fw, 0.8f * d.wigWidth - 0.01f) << wig << " " << hat;
            // The head top it sits on (its lower edge less offset forehead widths) is at most 0.05 forehead
            // widths below the wig's top.
            EXPECT_LE(d.hatBottom - item.offset * fw, d.wigTop + 0.05f * fw + 0.01f) << wig << " " << hat;
        }
}

TEST(JawWarp, StretchesOnlyPastHalfAPixelAndAtMostFourFifths) {
    const WearEntry& full = kWearCatalogue[entryOf(kWearKindBeard, "full")];
    const int pw = 100, ph = 120;
    EXPECT_EQ(jawWarpFor(full.band, full.offset, 0.5f, 200, pw, ph, false).opening, 0);
    EXPECT_GT(jawWarpFor(full.band, full.offset, 0.51f, 200, pw, ph, false).opening, 0);
    EXPECT_EQ(jawWarpFor(0, 1.2f, 30, 200, pw, ph, false).opening, 0) << "no band, no warp";
    const JawWarp wide = jawWarpFor(full.band, full.offset, 1e6f, 200, pw, ph, true);
    EXPECT_FLOAT_EQ(wide.opening, 0.8f * ph);
    EXPECT_GE(wide.band, 1.7f * wide.opening);

    // A solid beard: rows above the mouth stay, the middle column's bottom moves down by the opening, the
    // outer columns not at all.
    std::vector<uint8_t> src(pw * ph * 4, 255);
    const JawWarp warp = jawWarpFor(full.band, full.offset, 20, 200, pw, ph, false);  // K = 10 pixels
    ASSERT_NEAR(warp.opening, 10, 1e-3);
    std::vector<uint8_t> dst(static_cast<size_t>(pw) * warpBitmapRows(ph) * 4, 0);
    std::vector<float> weights(pw);
    const int rows =
        warpBeard(src.data(), pw * 4, pw, ph, full.offset, warp, dst.data(), pw * 4, weights.data());
    EXPECT_EQ(rows, ph + 11);
    EXPECT_EQ(std::memcmp(dst.data(), src.data(), static_cast<size_t>(full.offset * ph) * pw * 4), 0);
    auto alpha = [&](int x, int y) { return dst[(static_cast<size_t>(y) * pw + x) * 4 + 3]; };
    int bottomMiddle = 0, bottomEdge = 0;
    for (int y = 0; y < rows; ++y) {
        if (alpha(pw / 2, y) > 128) bottomMiddle = y;
        if (alpha(0, y) > 128) bottomEdge = y;
    }
    EXPECT_NEAR(bottomMiddle, ph - 1 + 10, 1);
    EXPECT_NEAR(bottomEdge, ph - 1, 1);
}

// A synthetic real face for the own-face wear: eyes 80 pixels apart at y 300, the mouth 75 below.
struct SyntheticFace {
    FaceGeometry face;
    LandmarkSet landmarks;
    std::vector<uint8_t> frame = std::vector<uint8_t>(1280 * 720 * 4, 160);
    explicit SyntheticFace(float lipShift = 0) {
        face.leftEye = {600, 300}, face.rightEye = {680, 300};
        face.leftBrow = {600, 280}, face.rightBrow = {680, 280};
        face.mouthCentre = {640, 378}, face.innerMouth = {640, 376};
        face.faceCentre = {640, 350};
        face.mouthWidth = 64, face.mouthHeight = 24, face.mouthOpen = 0;
        face.faceWidth = 180, face.eyeWidth = 30, face.eyeOpen = 0.3f;
        for (int i = 0; i < kLandmarkCount; ++i)
            landmarks.landmarks[i] = face.faceCentre;
        auto set = [&](int i, float x, float y) { landmarks.landmarks[i] = {x, y}; };
        set(234, 555, 320), set(454, 725, 320);  // cheeks
        set(10, 640, 240), set(152, 640, 440);
        set(33, 585, 300), set(133, 615, 300), set(362, 665, 300), set(263, 695, 300);
        set(132, 560, 355), set(361, 720, 355);  // jaw
        set(13, 640 + lipShift, 376);
    }
};

TEST_F(WearTest, RealFaceItemsLandAroundTheFace) {
    SyntheticFace s;
    painter->reset();
    FrameFilters wear = noWear();
    wear.wear[kWearGlasses].entry = entryOf(kWearKindGlasses, "black");
    painter->drawOnRealFace(*graphics, wear, s.face, s.landmarks, 0, 1 / 30.0, identity);
    // Thick frames: drawn on the eye line beside and between the eyes, nothing far below.
    EXPECT_TRUE(painted(640, 300) || painted(640, 290)) << "the bridge";
    EXPECT_TRUE(painted(600 - 45, 300) || painted(600 - 44, 290)) << "the left frame's outer side";
    EXPECT_FALSE(painted(640, 380));

    clear();
    wear = noWear();
    wear.wear[kWearHat].entry = entryOf(kWearKindHat, "tophat");
    painter->reset();
    painter->drawOnRealFace(*graphics, wear, s.face, s.landmarks, 0, 1 / 30.0, identity);
    // The top hat's brim rests on the forehead, above the brows, and it rises above the head.
    const int bottom = lastPaintedRow();
    EXPECT_LT(bottom, 280);
    EXPECT_GT(bottom, 200);
    EXPECT_LT(firstPaintedRow(), 120);

    clear();
    wear = noWear();
    wear.wear[kWearBeard].entry = entryOf(kWearKindBeard, "full");
    painter->reset();
    painter->drawOnRealFace(*graphics, wear, s.face, s.landmarks, 0, 1 / 30.0, identity);
    EXPECT_FALSE(painted(640, 378)) << "the mouth shows through";
    EXPECT_TRUE(painted(640, 440)) << "the chin is covered";
    EXPECT_TRUE(painted(560, 360)) << "the jaw is covered";
    EXPECT_FALSE(painted(640, 300)) << "nothing over the eyes";
}

// Bald: nothing on a face picture; on the real face a skin-coloured cap over the crown that leaves the
// eyes and mouth alone.
TEST_F(WearTest, BaldDrawsNothingOnAPictureAndTheCapOnTheRealFace) {
    FrameFilters wear = noWear();
    wear.wear[kWearHair].entry = entryOf(kWearKindHair, "bald");
    painter->drawOnPicture(*graphics, wear, drawnAt(*morvel, morvelAt(0.5f), 640, 380), identity);
    EXPECT_EQ(firstPaintedRow(), -1) << "nothing at all on the morvel";

    // A skin-coloured camera frame (r 220, g 170, b 140) behind the synthetic face.
    std::vector<uint8_t> skin(1280 * 720 * 4);
    for (size_t i = 0; i < skin.size(); i += 4)
        skin[i] = 140, skin[i + 1] = 170, skin[i + 2] = 220, skin[i + 3] = 255;
    ASSERT_EQ(uploadSourceFrame(*graphics, skin.data(), 1280 * 4), kOk);
    SyntheticFace s;
    painter->reset();
    painter->drawOnRealFace(*graphics, wear, s.face, s.landmarks, 1000, 1 / 30.0, identity);
    EXPECT_TRUE(painter->lastDrawn().cap);
    // Over the crown (above the brows, 1.2 eye distances up) the cap is opaque and skin-coloured; the
    // eyes, the mouth and the room beside the head stay as they were.
    const uint8_t* crown = pixel(640, 300 - 110);
    EXPECT_NEAR(crown[2], 220, 45);
    EXPECT_NEAR(crown[1], 170, 45);
    EXPECT_LT(crown[0], 200) << "no blue left";
    EXPECT_FALSE(painted(600, 300)) << "the left eye";
    EXPECT_FALSE(painted(640, 378)) << "the mouth";
    EXPECT_FALSE(painted(400, 200)) << "beside the head";
    EXPECT_GT(firstPaintedRow(), 60) << "a cap, not a tower";
}

TEST_F(WearTest, TurningTheHeadNarrowsAndFadesOneBeardHalf) {
    FrameFilters wear = noWear();
    wear.wear[kWearBeard].entry = entryOf(kWearKindBeard, "santa");
    // White Santa beard over a blue canvas: its red channel tells how opaque it is.
    auto halves = [&](float lipShift, int* left, int* right, int* leftEdgeRed) {
        SyntheticFace s(lipShift);
        clear();
        painter->reset();
        painter->drawOnRealFace(*graphics, wear, s.face, s.landmarks, 0, 1 / 30.0, identity);
        *left = *right = 0;
        *leftEdgeRed = 0;
        for (int y = 300; y < 720; y += 2) {
            for (int x = 0; x < 640; ++x)
                *left += painted(x, y);
            for (int x = 640; x < 1280; ++x)
                *right += painted(x, y);
        }
        // The left half's outer rim on a row through the beard: the mean red of its first 8 pixels.
        for (int x = 0; x < 640; ++x)
            if (painted(x, 520)) {
                for (int i = 0; i < 8; ++i)
                    *leftEdgeRed += pixel(x + i, 520)[2];
                *leftEdgeRed /= 8;
                break;
            }
    };
    int frontalLeft = 0, frontalRight = 0, frontalRed = 0;
    halves(0, &frontalLeft, &frontalRight, &frontalRed);
    EXPECT_NEAR(frontalLeft, frontalRight, 0.05 * frontalRight);
    EXPECT_NEAR(painter->lastDrawn().leftExtent, 1, 0.01);

    int left = 0, right = 0, red = 0;
    halves(-56, &left, &right, &red);  // the lip 56 of 80 pixels toward the left jaw: left extent 0.3
    EXPECT_NEAR(painter->lastDrawn().leftExtent, 0.3, 0.01);
    EXPECT_LT(left, 0.5 * right);
    EXPECT_LT(red, frontalRed - 60) << "the narrowed half fades toward its edge";
}

TEST(WearMissing, EveryFileMissingLoadsNothingAndDrawsNothing) {
    const std::string folder = testing::temporaryFolder();
    const std::string log = folder + "log.txt";
    const std::string before = logPath();
    setLogPath(log);
    FacePicture morvel;
    WearPainter painter;
    EXPECT_EQ(painter.load(folder, false, morvel), 0);
    setLogPath(before);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("missing picture wig_swept.png"), std::string::npos);
    EXPECT_NE(text.str().find("missing picture acc_beard_pencil.png"), std::string::npos);
    EXPECT_NE(text.str().find("worn items: 0 pictures"), std::string::npos);

    Graphics graphics;
    ASSERT_EQ(initialiseGraphics(graphics, GraphicsOptions{}), kOk);
    ASSERT_EQ(createSourceBitmap(graphics, 1280, 720), kOk);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    FrameFilters wear = noWear();
    for (int slot = 0; slot < kWearSlots; ++slot)
        wear.wear[slot].entry = entryOf(slot, kWearCatalogue[slot == 0   ? 0
                                                             : slot == 1 ? 5
                                                             : slot == 2 ? 13
                                                                         : 18]
                                                  .id);
    EXPECT_TRUE(painter.active(wear));
    SyntheticFace s;
    FacePicturePlacement where{};
    where.horizontalScale = 1;
    painter.drawOnPicture(graphics, wear, drawnAt(morvel, where, 640, 360), identity);
    painter.drawOnRealFace(graphics, wear, s.face, s.landmarks, 0, 1 / 30.0, identity);
    EXPECT_FALSE(painter.lastDrawn().wig || painter.lastDrawn().hat);
    EXPECT_EQ(cairo_status(graphics.cr.get()), CAIRO_STATUS_SUCCESS);
}

}  // namespace
}  // namespace qm
