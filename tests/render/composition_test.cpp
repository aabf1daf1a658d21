#include "render/composition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/failure.h"
#include "base/log.h"
#include "platform/paths.h"
#include "reference_gaussian.h"
#include "render/cover.h"
#include "test_files.h"

namespace qm {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CoverTransformTest, FillsTheCanvasCentred) {
    CoverTransform t = coverTransform(640, 480);
    EXPECT_DOUBLE_EQ(t.scale, 2.0);  // the larger of 2.0 and 1.5
    EXPECT_DOUBLE_EQ(t.offsetX, 0);
    EXPECT_DOUBLE_EQ(t.offsetY, -120);  // 960 rows: 120 cut at the top and 120 at the bottom
    t = coverTransform(1280, 720);
    EXPECT_DOUBLE_EQ(t.scale, 1);
    EXPECT_DOUBLE_EQ(t.offsetY, 0);
    t = coverTransform(720, 1280);  // portrait: cut at top and bottom
    EXPECT_NEAR(t.scale, 1280.0 / 720, 1e-12);
    EXPECT_NEAR(t.offsetY, (720 - 1280 * t.scale) / 2, 1e-9);
    t = coverTransform(2000, 720);  // wide: cut at the sides
    EXPECT_DOUBLE_EQ(t.scale, 1);
    EXPECT_DOUBLE_EQ(t.offsetX, -360);
}

TEST(BackgroundCropTest, KeepsThePicturesAspectCentred) {
    CropRect c = backgroundCrop(1000, 500, 640, 480);  // g = 0.96: full height, sides cut
    EXPECT_NEAR(c.x0, (1000 - 640 / 0.96) / 2, 1e-9);
    EXPECT_NEAR(c.x1, (1000 + 640 / 0.96) / 2, 1e-9);
    EXPECT_DOUBLE_EQ(c.y0, 0);
    EXPECT_DOUBLE_EQ(c.y1, 500);
    c = backgroundCrop(400, 800, 1280, 720);  // tall picture: full width, top and bottom cut
    EXPECT_DOUBLE_EQ(c.x0, 0);
    EXPECT_DOUBLE_EQ(c.x1, 400);
    EXPECT_NEAR(c.y1 - c.y0, 400 * 720.0 / 1280, 1e-9);
    EXPECT_NEAR(c.y0 + c.y1, 800, 1e-9);
}

// Graphics made once from the program's folder (the tests run there, beside the pictures).
class ComposedFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        graphics = new Graphics;
        ASSERT_EQ(initialiseGraphics(*graphics, GraphicsOptions{}), kOk);
    }
    static void TearDownTestSuite() {
        delete graphics;
        graphics = nullptr;
    }

    void useSource(int width, int height) {
        ASSERT_EQ(createSourceBitmap(*graphics, width, height), kOk);
        source.assign(static_cast<size_t>(width) * height * 4, 0);
        sourceWidth = width;
        sourceHeight = height;
    }
    template <typename F>
    void paintSource(F colourAt) {
        for (int y = 0; y < sourceHeight; ++y)
            for (int x = 0; x < sourceWidth; ++x) {
                uint8_t* p = &source[(static_cast<size_t>(y) * sourceWidth + x) * 4];
                colourAt(x, y, p);
                p[3] = 0;  // camera frames carry no alpha
            }
    }
    HResult compose(Composer& composer, const FrameFilters& filters, const uint8_t* mask = nullptr,
                    const FaceGeometry* face = nullptr, double timeMs = 1000, bool awaitLoads = true) {
        composer.prepare(filters);
        if (awaitLoads) composer.waitForLoads();
        FrameInput input;
        input.sourcePixels = source.data();
        input.sourceStride = sourceWidth * 4;
        input.personMask = mask;
        input.face = face;
        input.timeMs = timeMs;
        input.room = room;
        room = {};  // one-shot, as the engine passes them
        const HResult hr = composer.composeFrame(input, filters);
        canvas.resize(static_cast<size_t>(kCanvasWidth) * kCanvasHeight * 4);
        readCanvas(*graphics, canvas.data());
        return hr;
    }
    const uint8_t* canvasAt(int x, int y) const {
        return &canvas[(static_cast<size_t>(y) * kCanvasWidth + x) * 4];
    }

    static Graphics* graphics;
    std::vector<uint8_t> source, canvas;
    int sourceWidth = 0, sourceHeight = 0;
    RoomRequests room;
};
Graphics* ComposedFrameTest::graphics = nullptr;

// Person in the left half of the mask, room in the right half.
std::vector<uint8_t> leftHalfPersonMask() {
    std::vector<uint8_t> mask(kMaskBytes, 0);
    for (int y = 0; y < kMaskHeight; ++y)
        for (int x = 0; x < kMaskWidth / 2; ++x)
            std::memset(&mask[(y * kMaskWidth + x) * 4], 255, 4);
    return mask;
}

TEST_F(ComposedFrameTest, CameraOnlyIsTheCameraPicture) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(1280, 720);
    paintSource([](int x, int y, uint8_t* p) { p[0] = x & 255, p[1] = y & 255, p[2] = (x + y) * 3 & 255; });
    FrameFilters filters;  // filters off: no mask effect asked for
    filters.blur = true;
    const std::vector<uint8_t> mask = leftHalfPersonMask();
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    for (int y = 0; y < kCanvasHeight; y += 7)
        for (int x = 0; x < kCanvasWidth; x += 5)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(canvasAt(x, y)[c], source[(y * 1280 + x) * 4 + c]) << x << "," << y;
}

TEST_F(ComposedFrameTest, A640x480SourceIsScaledTwiceWithRowsCutAtTopAndBottom) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(640, 480);
    // Rows numbered by colour: the canvas's top row must come from source row 60.
    paintSource([](int x, int y, uint8_t* p) {
        p[0] = static_cast<uint8_t>(y / 2), p[1] = static_cast<uint8_t>(x / 3), p[2] = 0;
    });
    ASSERT_EQ(compose(composer, FrameFilters{}), kOk);
    auto expectedRow = [](double canvasY) { return ((canvasY + 0.5) / 2 + 60 - 0.5) / 2; };
    for (int y : {0, 1, 200, 359, 719})
        EXPECT_NEAR(canvasAt(640, y)[0], expectedRow(y), 1.0) << y;
    for (int x : {0, 300, 1279})
        EXPECT_NEAR(canvasAt(x, 360)[1], ((x + 0.5) / 2 - 0.5) / 3, 1.0) << x;
}

TEST_F(ComposedFrameTest, BackgroundPictureShowsWhereTheMaskSaysRoom) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(640, 480);
    paintSource([](int, int, uint8_t* p) { p[0] = 220, p[1] = 40, p[2] = 30; });  // camera: blue
    const std::string folder = testing::temporaryFolder();
    std::vector<uint8_t> rgba(300 * 200 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgba[i] = 40, rgba[i + 1] = 200, rgba[i + 2] = 30, rgba[i + 3] = 255;
    ASSERT_TRUE(testing::writePicture(folder + "green.png", rgba, 300, 200, "png"));
    FrameFilters filters;
    filters.filtering = true;
    filters.backgroundPath = folder + "green.png";
    const std::vector<uint8_t> mask = leftHalfPersonMask();
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    for (int y : {10, 360, 710}) {
        EXPECT_EQ(canvasAt(100, y)[0], 220) << y;  // person from the camera
        EXPECT_EQ(canvasAt(100, y)[1], 40) << y;
        EXPECT_EQ(canvasAt(1180, y)[1], 200) << y;  // room from the picture
        EXPECT_EQ(canvasAt(1180, y)[0], 30) << y;
    }
    // The boundary is soft, halfway at the mask's middle.
    EXPECT_GT(canvasAt(640, 360)[1], 60);
    EXPECT_LT(canvasAt(640, 360)[1], 190);

    // A newly chosen picture shows once it has loaded; until then the one before it stays (never the room).
    rgba.assign(64 * 48 * 4, 0);
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgba[i] = 250, rgba[i + 1] = 240, rgba[i + 2] = 10, rgba[i + 3] = 255;
    ASSERT_TRUE(testing::writePicture(folder + "yellow.png", rgba, 64, 48, "png"));
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgba[i] = 250, rgba[i + 1] = 10, rgba[i + 2] = 10;
    ASSERT_TRUE(testing::writePicture(folder + "red.png", rgba, 64, 48, "png"));
    filters.backgroundPath = folder + "yellow.png";
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_EQ(canvasAt(1180, 360)[1], 240);
    filters.backgroundPath = folder + "red.png";
    ASSERT_EQ(compose(composer, filters, mask.data(), nullptr, 1000, false), kOk);
    EXPECT_TRUE(canvasAt(1180, 360)[1] == 240 || canvasAt(1180, 360)[1] == 10) << int(canvasAt(1180, 360)[1]);
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_EQ(canvasAt(1180, 360)[1], 10);

    // Without a mask (no model) the frame is the camera picture, background or not.
    ASSERT_EQ(compose(composer, filters, nullptr), kOk);
    EXPECT_EQ(canvasAt(1180, 360)[0], 220);
}

TEST_F(ComposedFrameTest, BlurSoftensOnlyTheRoom) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(1280, 720);
    paintSource([](int x, int y, uint8_t* p) { p[0] = p[1] = p[2] = ((x / 4 + y / 4) % 2) ? 240 : 10; });
    FrameFilters filters;
    filters.filtering = true;
    filters.blur = true;
    const std::vector<uint8_t> mask = leftHalfPersonMask();
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    // Room: the fine checkerboard becomes an even grey; person: unchanged.
    for (int x = 1000; x < 1016; ++x)
        EXPECT_NEAR(canvasAt(x, 360)[0], 125, 10) << x;
    for (int x = 100; x < 116; ++x)
        EXPECT_EQ(canvasAt(x, 360)[0], source[(360 * 1280 + x) * 4]) << x;
    // Without the mask model blur shows the sharp camera picture.
    ASSERT_EQ(compose(composer, filters, nullptr), kOk);
    for (int x = 1000; x < 1016; ++x)
        EXPECT_EQ(canvasAt(x, 360)[0], source[(360 * 1280 + x) * 4]) << x;
}

TEST_F(ComposedFrameTest, CapturedRoomReplacesTheBodyUntilTheSizeChanges) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(640, 360);
    paintSource([](int, int, uint8_t* p) { p[0] = 10, p[1] = 200, p[2] = 10; });  // the empty room
    FrameFilters filters;
    filters.filtering = true;
    filters.bodyless = true;
    const std::vector<uint8_t> mask = leftHalfPersonMask();
    room.capture = true;
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_TRUE(composer.roomIsCaptured());
    paintSource([](int, int, uint8_t* p) { p[0] = 200, p[1] = 10, p[2] = 10; });  // someone walks in
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_EQ(canvasAt(100, 360)[1], 200);  // the body is gone: the room shows where the person is
    // Without body removal the person is drawn again.
    FrameFilters keepBody;
    keepBody.filtering = true;
    ASSERT_EQ(compose(composer, keepBody, mask.data()), kOk);
    EXPECT_EQ(canvasAt(100, 360)[0], 200);
    // Forgetting the room, and a new source size, drop it.
    room.forget = true;
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_FALSE(composer.roomIsCaptured());
    room.capture = true;
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_TRUE(composer.roomIsCaptured());
    useSource(320, 180);
    paintSource([](int, int, uint8_t* p) { p[0] = 200, p[1] = 10, p[2] = 10; });
    ASSERT_EQ(compose(composer, filters, mask.data()), kOk);
    EXPECT_FALSE(composer.roomIsCaptured());
}

TEST_F(ComposedFrameTest, FaceFramesMoveTheBaselinesAndTheHeadVelocity) {
    Composer composer(*graphics);
    ASSERT_EQ(composer.load(), kOk);
    useSource(640, 480);
    FaceGeometry face;
    face.faceCentre = {300, 240};
    face.leftEye = {280, 220};
    face.rightEye = {320, 220};
    face.faceWidth = 120;
    face.eyeOpen = 0.5f;
    FrameFilters filters;
    filters.filtering = true;
    filters.faceKind = kFaceMorvel;
    ASSERT_EQ(compose(composer, filters, nullptr, &face, 1000), kOk);
    EXPECT_GT(composer.baselines().eyeOpenReference, 0.3f);
    EXPECT_EQ(composer.headVelocityX(), 0);
    face.faceCentre.x = 330;
    ASSERT_EQ(compose(composer, filters, nullptr, &face, 1033.3), kOk);
    EXPECT_GT(composer.headVelocityX(), 0);
    EXPECT_LT(composer.headVelocityX(), 30);
    // Face lost, then found far away: the anchors snap there, so no velocity builds up from the old place.
    ASSERT_EQ(compose(composer, filters, nullptr, nullptr, 1066.6), kOk);
    EXPECT_TRUE(composer.googly().reset);
}

// The background blur works at a reduced size and is enlarged while drawn; the drawn result must still
// be close to a true Gaussian of the full picture (hard border).
void expectBlurCloseToGaussian(int w, int h, double sigma, int factor) {
    SurfacePtr bitmap(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
    uint8_t* data = cairo_image_surface_get_data(bitmap.get());
    const int stride = cairo_image_surface_get_stride(bitmap.get());
    std::vector<double> grey(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t v = ((x / 24 + y / 24) % 2) ? 230 : 30;
            std::memset(data + y * stride + x * 4, v, 4);
            grey[y * w + x] = v;
        }
    cairo_surface_mark_dirty(bitmap.get());
    BlurredLayer layer;
    cairo_surface_t* blurred = blurBitmap(bitmap.get(), static_cast<float>(sigma), layer);
    ASSERT_NE(blurred, nullptr);
    EXPECT_EQ(layer.factor, factor);
    SurfacePtr drawn(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    cairo_t* cr = cairo_create(drawn.get());
    cairo_scale(cr, static_cast<double>(w) / cairo_image_surface_get_width(blurred),
                static_cast<double>(h) / cairo_image_surface_get_height(blurred));
    cairo_set_source_surface(cr, blurred, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(drawn.get());

    // Reference: separable Gaussian, zero outside, of the grey value and of the (opaque) alpha.
    auto blur = [&](const std::vector<double>& in) { return testing::referenceGaussian(in, w, h, sigma); };
    const std::vector<double> colour = blur(grey), alpha = blur(std::vector<double>(grey.size(), 255));
    const uint8_t* out = cairo_image_surface_get_data(drawn.get());
    const int outStride = cairo_image_surface_get_stride(drawn.get());
    double worst = 0, total = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = out + y * outStride + x * 4;
            worst =
                std::max({worst, std::fabs(p[0] - colour[y * w + x]), std::fabs(p[3] - alpha[y * w + x])});
            total += std::fabs(p[0] - colour[y * w + x]);
        }
    EXPECT_LE(worst, 12.0) << sigma;
    EXPECT_LE(total / (w * h), 2.5) << sigma;
}

TEST(BackgroundBlurTest, DrawnResultStaysCloseToATrueGaussian) {
    expectBlurCloseToGaussian(320, 180, 8, 2);
    expectBlurCloseToGaussian(640, 360, 640 * 0.012 * 2, 4);  // a 1280-wide frame's deviation, at this size
    expectBlurCloseToGaussian(120, 90, 2.5, 1);
}

TEST(GraphicsSetUpTest, LogsMissingPicturesAndFailsWithoutAFacePicture) {
    installFailureCallback(logFailure);
    const std::string folder = testing::temporaryFolder();
    const std::string log = folder + "test.log";
    setLogPath(log);
    const std::string assets = executableDir();
    auto copy = [&](const std::string& from, const std::string& to) {
        testing::writeFile(folder + to, testing::readFile(assets + from));
    };
    for (const char* name : {"morvel.png", "banana.png", "kitten_face.png"})
        copy(name, name);
    copy("banana.png", "acc_hat_tophat.png");

    Graphics without;
    GraphicsOptions options;
    options.assetFolder = folder;
    options.software = true;
    ASSERT_EQ(initialiseGraphics(without, options), kOk);
    EXPECT_NE(Composer(without).load(), kOk);
    std::string text = readText(log);
    EXPECT_NE(text.find("drawing on: "), std::string::npos);
    EXPECT_NE(text.find(" (software, no GPU device)"), std::string::npos);
    EXPECT_NE(text.find("a picture is missing: " + folder + "orange.png"), std::string::npos);

    copy("orange.png", "orange.png");
    Graphics with;
    ASSERT_EQ(initialiseGraphics(with, options), kOk);
    Composer composer(with);
    EXPECT_EQ(composer.load(), kOk);
    text = readText(log);
    EXPECT_NE(text.find("missing picture wig_swept.png"), std::string::npos);
    EXPECT_NE(text.find("missing picture acc_beard_pencil.png"), std::string::npos);
    EXPECT_EQ(text.find("missing picture acc_hat_tophat.png"), std::string::npos);
    EXPECT_EQ(text.find("wig_bald"), std::string::npos);  // the bald cap has no picture
    EXPECT_NE(text.find("worn items: 1 pictures"), std::string::npos);
    EXPECT_TRUE(composer.wear().found("acc_hat_tophat.png"));
    EXPECT_FALSE(with.onHardware);
    EXPECT_GT(composer.faces().art().faces[kMorvelPicture].box.headTop, 0);

    // The other faces are made when first drawn; one whose file went bad since start draws nothing, and
    // says so once.
    FacePainter faces;
    ASSERT_EQ(faces.load(folder), kOk);
    EXPECT_EQ(faces.art().faces[kBananaPicture].bitmap, nullptr);
    EXPECT_TRUE(faces.prepare(kFaceBanana));
    EXPECT_GT(faces.art().faces[kBananaPicture].box.headTop, 0);
    testing::writeFile(folder + "orange.png", std::vector<uint8_t>(64, 0x2a));
    auto reports = [&] {
        const std::string all = readText(log);
        size_t n = 0;
        for (size_t at = all.find("a picture is missing: " + folder + "orange.png"); at != std::string::npos;
             at = all.find("a picture is missing: " + folder + "orange.png", at + 1))
            ++n;
        return n;
    };
    const size_t before = reports();
    EXPECT_FALSE(faces.prepare(kFaceOrange));
    EXPECT_FALSE(faces.prepare(kFaceOrange));
    EXPECT_EQ(reports(), before + 1);
    EXPECT_TRUE(faces.prepare(kFaceKitten));
    EXPECT_EQ(faces.art().kittenWidth, 1024);
    setLogPath("");
}

}  // namespace
}  // namespace qm
