#include "render/pictures.h"
#include "render/face_photo.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "render/face_anchors.h"
#include "test_files.h"

namespace qm {
namespace {

using testing::readFile;
using testing::redLeftBlueRight;
using testing::temporaryFolder;
using testing::writeFile;
using testing::writeJpegWithOrientation;
using testing::writePicture;

// Premultiplied pixels with alpha 255 inside the given ellipse, 0 outside.
std::vector<uint8_t> ellipsePicture(int width, int height, float cx, float cy, float rx, float ry) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float dx = (x - cx) / rx, dy = (y - cy) / ry;
            if (dx * dx + dy * dy <= 1) pixels[(static_cast<size_t>(y) * width + x) * 4 + 3] = 255;
        }
    return pixels;
}

TEST(HeadBoxTest, MeasuresAnOvalHead) {
    // Morvel anchors on 400 × 400: u = 228.6, eyes at (200, 152).
    const FaceAnchors& a = kFaceAnchors[kMorvelPicture];
    const std::vector<uint8_t> pixels = ellipsePicture(400, 400, 200, 210, 150, 180);
    const HeadBox box = measureHeadBox(pixels.data(), 400, 400, a, nullptr);
    EXPECT_NEAR(box.headTop, 30, 1.5);  // first opaque row near the centre column
    // Width of the ellipse at the eye row (y = 152) and at the forehead row ((30 + 152) / 2 = 91).
    auto span = [](float y) {
        const float dy = (y - 210) / 180;
        return 2 * 150 * std::sqrt(1 - dy * dy);
    };
    EXPECT_NEAR(box.eyeLevelWidth, span(152), 2);
    EXPECT_NEAR(box.foreheadWidth, span(91), 2);
    EXPECT_NEAR(box.foreheadX, 200, 1);
}

TEST(HeadBoxTest, TopRowsClearOverTheEyesNeverRaiseTheTopBeyondTheLimit) {
    const FaceAnchors& a = kFaceAnchors[kMorvelPicture];
    const float u = a.faceWidthFraction * 400, eyeY = 0.38f * 400;
    // A tall thin spike reaching row 0 is opaque above the eyes: the top stops 1.6 face units up.
    std::vector<uint8_t> tall = ellipsePicture(400, 400, 200, 210, 150, 180);
    for (int y = 0; y < 60; ++y)
        tall[(static_cast<size_t>(y) * 400 + 200) * 4 + 3] =
            tall[(static_cast<size_t>(y) * 400 + 201) * 4 + 3] = 255;
    HeadBox box = measureHeadBox(tall.data(), 400, 400, a, nullptr);
    EXPECT_FLOAT_EQ(box.headTop, std::max(eyeY - 1.6f * u, 0.0f));
    // On a taller picture the limit lies inside it and wins over the first opaque row.
    std::vector<uint8_t> tallPicture = ellipsePicture(400, 1200, 200, 700, 150, 250);
    for (int y = 0; y < 700; ++y)
        tallPicture[(static_cast<size_t>(y) * 400 + 200) * 4 + 3] =
            tallPicture[(static_cast<size_t>(y) * 400 + 201) * 4 + 3] = 255;
    box = measureHeadBox(tallPicture.data(), 400, 1200, a, nullptr);
    EXPECT_FLOAT_EQ(box.headTop, 0.38f * 1200 - 1.6f * u);
    // Fully transparent above the eyes: the top comes no lower than 0.3 units above them.
    std::vector<uint8_t> flat = ellipsePicture(400, 400, 200, 300, 150, 60);
    box = measureHeadBox(flat.data(), 400, 400, a, nullptr);
    EXPECT_FLOAT_EQ(box.headTop, eyeY - 0.3f * u);
    // Widths are clamped to [0.8u, 2.4u] and the forehead centre falls back to the eye midpoint.
    EXPECT_FLOAT_EQ(box.eyeLevelWidth, 0.8f * u);
    EXPECT_FLOAT_EQ(box.foreheadX, 200);
}

TEST(HeadBoxTest, RelativeTopComesFromTheMorvel) {
    HeadBox morvel;
    morvel.headTop = 100;
    const FaceAnchors& m = kFaceAnchors[kMorvelPicture];
    const float t = relativeHeadTop(morvel, m, 1000, 1000);
    EXPECT_NEAR(t, (380.0f - 100) / (1000 * m.faceWidthFraction), 1e-5);
    EXPECT_EQ(relativeHeadTop(morvel, m, 0, 1000), 0);
    const FaceAnchors& banana = kFaceAnchors[kBananaPicture];
    const std::vector<uint8_t> pixels = ellipsePicture(400, 400, 150, 200, 120, 180);
    const HeadBox box = measureHeadBox(pixels.data(), 400, 400, banana, &t);
    const float u = 0.5f * 400;
    EXPECT_NEAR(box.headTop,
                std::max(0.37f * 400 - 1.6f * u, std::min(0.37f * 400 - u * t, 0.37f * 400 - 0.3f * u)),
                1e-3);
}

TEST(SavePngTest, UnpremultipliesExactly) {
    const uint8_t pixels[] = {0, 0, 0, 0, 64, 64, 64, 128, 10, 20, 30, 0, 200, 100, 255, 255};
    uint8_t out[16];
    unpremultiplyForSave(pixels, 4, out);
    const uint8_t expected[] = {0, 0, 0, 0, 127, 127, 127, 128, 0, 0, 0, 0, 200, 100, 255, 255};
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16), std::vector<uint8_t>(expected, expected + 16));
    // Colour above alpha (not valid premultiplied data) is capped at 255.
    const uint8_t over[] = {200, 10, 10, 100};
    unpremultiplyForSave(over, 1, out);
    EXPECT_EQ(out[0], 255);

    const std::string path = temporaryFolder() + "saved.png";
    ASSERT_TRUE(savePng(path, pixels, 2, 2));
    GdkPixbuf* read = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    ASSERT_NE(read, nullptr);
    const guint8* rgba = gdk_pixbuf_read_pixels(read);
    EXPECT_EQ(rgba[3], 0);
    EXPECT_EQ(rgba[4], 127);
    EXPECT_EQ(rgba[7], 128);
    EXPECT_EQ(rgba[12], 255);  // B, G, R 200, 100, 255 → R first
    EXPECT_EQ(rgba[14], 200);
    g_object_unref(read);
    EXPECT_FALSE(savePng("/nonexistent-folder/x.png", pixels, 2, 2));
}

// Colour of a premultiplied BGRA pixel as 'r' (red), 'b' (blue) or '?'.
char colourAt(const std::vector<uint8_t>& pixels, int width, int x, int y) {
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    if (p[2] > 150 && p[0] < 100) return 'r';
    if (p[0] > 150 && p[2] < 100) return 'b';
    return '?';
}

TEST(LoadPhotoTest, FollowsTheExifOrientation) {
    const std::string folder = temporaryFolder();
    const std::vector<uint8_t> picture = redLeftBlueRight(64, 32);
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;

    ASSERT_TRUE(writeJpegWithOrientation(folder + "o6.jpg", picture, 64, 32, 6));
    ASSERT_TRUE(loadPhoto(folder + "o6.jpg", &pixels, &width, &height));
    EXPECT_EQ(width, 32);
    EXPECT_EQ(height, 64);
    // A quarter turn clockwise: the left half becomes the top.
    EXPECT_EQ(colourAt(pixels, width, 16, 8), 'r');
    EXPECT_EQ(colourAt(pixels, width, 16, 56), 'b');

    ASSERT_TRUE(writeJpegWithOrientation(folder + "o8.jpg", picture, 64, 32, 8));
    ASSERT_TRUE(loadPhoto(folder + "o8.jpg", &pixels, &width, &height));
    EXPECT_EQ(width, 32);
    EXPECT_EQ(colourAt(pixels, width, 16, 8), 'b');

    ASSERT_TRUE(writeJpegWithOrientation(folder + "o2.jpg", picture, 64, 32, 2));
    ASSERT_TRUE(loadPhoto(folder + "o2.jpg", &pixels, &width, &height));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(colourAt(pixels, width, 8, 16), 'b');

    // 5, 7 and nonsense values are left as stored.
    for (int orientation : {5, 7, 1, 0, 200}) {
        const std::string path = folder + "o" + std::to_string(orientation) + ".jpg";
        ASSERT_TRUE(writeJpegWithOrientation(path, picture, 64, 32, orientation));
        ASSERT_TRUE(loadPhoto(path, &pixels, &width, &height)) << orientation;
        EXPECT_EQ(width, 64) << orientation;
        EXPECT_EQ(height, 32) << orientation;
        EXPECT_EQ(colourAt(pixels, width, 8, 16), 'r') << orientation;
    }
}

TEST(LoadPhotoTest, ScalesTheLongSideDownTo1024) {
    int w = 0, h = 0;
    photoSize(4000, 3000, 1, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    photoSize(800, 600, 1, &w, &h);
    EXPECT_EQ(w, 800);
    photoSize(3000, 4000, 6, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    photoSize(5000, 2, 1, &w, &h);
    EXPECT_EQ(h, 1);

    const std::string folder = temporaryFolder();
    ASSERT_TRUE(writePicture(folder + "big.jpg", redLeftBlueRight(4000, 3000), 4000, 3000, "jpeg"));
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(loadPhoto(folder + "big.jpg", &pixels, &width, &height));
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
    EXPECT_EQ(pixels.size(), 1024u * 768 * 4);
    EXPECT_EQ(colourAt(pixels, width, 100, 300), 'r');

    ASSERT_TRUE(writePicture(folder + "small.png", redLeftBlueRight(800, 600), 800, 600, "png"));
    ASSERT_TRUE(loadPhoto(folder + "small.png", &pixels, &width, &height));
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
}

TEST(LoadPictureTest, GivesPremultipliedPixels) {
    const std::string path = temporaryFolder() + "half.png";
    std::vector<uint8_t> rgba = {200, 100, 50, 128, 255, 255, 255, 0};
    ASSERT_TRUE(writePicture(path, rgba, 2, 1, "png"));
    Picture picture;
    ASSERT_EQ(loadPicture(path, true, &picture), kOk);
    ASSERT_TRUE(picture.bitmap);
    EXPECT_EQ(picture.pixelWidth, 2u);
    EXPECT_EQ(picture.pixelHeight, 1u);
    const std::vector<uint8_t> expected = {25, 50, 100, 128, 0, 0, 0, 0};
    EXPECT_EQ(picture.pixels, expected);
    Picture noPixels;
    ASSERT_EQ(loadPicture(path, false, &noPixels), kOk);
    EXPECT_TRUE(noPixels.pixels.empty());
    EXPECT_EQ(cairo_image_surface_get_width(noPixels.bitmap.get()), 2);
}

TEST(BadPictureTest, FailsCleanlyAndTheHeaderCheckAgrees) {
    const std::string folder = temporaryFolder();
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    Picture picture;

    EXPECT_FALSE(loadPhoto(folder + "missing.jpg", &pixels, &width, &height));
    EXPECT_NE(loadPicture(folder + "missing.png", true, &picture), kOk);

    writeFile(folder + "text.png", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
    EXPECT_FALSE(loadPhoto(folder + "text.png", &pixels, &width, &height));
    EXPECT_NE(loadPicture(folder + "text.png", true, &picture), kOk);

    ASSERT_TRUE(writePicture(folder + "whole.png", redLeftBlueRight(300, 200), 300, 200, "png"));
    std::vector<uint8_t> bytes = readFile(folder + "whole.png");
    bytes.resize(bytes.size() / 3);
    writeFile(folder + "cut.png", bytes);
    EXPECT_FALSE(loadPhoto(folder + "cut.png", &pixels, &width, &height));
    EXPECT_NE(loadPicture(folder + "cut.png", true, &picture), kOk);

    ASSERT_TRUE(writePicture(folder + "whole.jpg", redLeftBlueRight(300, 200), 300, 200, "jpeg"));
    bytes = readFile(folder + "whole.jpg");
    bytes.resize(bytes.size() / 2);
    writeFile(folder + "cut.jpg", bytes);
    // A cut JPEG may decode with its lower part grey; either way nothing crashes and no size lies.
    if (loadPhoto(folder + "cut.jpg", &pixels, &width, &height)) {
        EXPECT_EQ(pixels.size(), size_t(width) * height * 4);
    }

    // A JPEG whose header claims 30000 × 30000 decodes (what there is of it) at a bounded size.
    bytes = readFile(folder + "whole.jpg");
    for (size_t i = 2; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = 30000 >> 8, bytes[i + 6] = 30000 & 0xFF, bytes[i + 7] = 30000 >> 8,
                      bytes[i + 8] = 30000 & 0xFF;
            break;
        }
    writeFile(folder + "huge.jpg", bytes);
    if (loadPhoto(folder + "huge.jpg", &pixels, &width, &height)) {
        EXPECT_LE(width, 1024);
        EXPECT_LE(height, 1024);
    }
    if (loadPicture(folder + "huge.jpg", true, &picture) == kOk) {
        EXPECT_LE(picture.pixelWidth, 4096u);
    }

    // A PNG whose header claims 30000 × 30000 is refused before decoding.
    bytes = readFile(folder + "whole.png");
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put32(16, 30000);
    put32(20, 30000);
    writeFile(folder + "huge.png", bytes);
    EXPECT_FALSE(loadPhoto(folder + "huge.png", &pixels, &width, &height));
    EXPECT_NE(loadPicture(folder + "huge.png", true, &picture), kOk);

    // The header check says beforehand what the decoders refuse for their size or format.
    EXPECT_TRUE(decodablePictureFile(folder + "whole.png"));
    EXPECT_TRUE(decodablePictureFile(folder + "huge.jpg"));
    EXPECT_FALSE(decodablePictureFile(folder + "huge.png"));
    EXPECT_FALSE(decodablePictureFile(folder + "text.png"));
    EXPECT_FALSE(decodablePictureFile(folder + "missing.png"));
    EXPECT_FALSE(decodablePictureFile(folder));
}

// Damaged files of every kind the loaders meet: random bytes changed, cut short or repeated. Any may
// fail; none may crash or report a size its pixels don't have.
TEST(BadPictureTest, SurvivesRandomlyDamagedFiles) {
    const std::string folder = temporaryFolder();
    ASSERT_TRUE(writePicture(folder + "a.png", redLeftBlueRight(40, 30), 40, 30, "png"));
    ASSERT_TRUE(writeJpegWithOrientation(folder + "a.jpg", redLeftBlueRight(40, 30), 40, 30, 6));
    std::mt19937 random(11);
    for (const char* name : {"a.png", "a.jpg"}) {
        const std::vector<uint8_t> original = readFile(folder + name);
        for (int round = 0; round < 150; ++round) {
            std::vector<uint8_t> bytes = original;
            const int damage = round % 3;
            if (damage == 0) {
                for (int i = 0; i < 1 + round % 8; ++i)
                    bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
            } else if (damage == 1) {
                bytes.resize(random() % bytes.size());
            } else {
                const size_t at = random() % bytes.size();
                bytes.insert(bytes.begin() + at, bytes.begin(), bytes.begin() + std::min<size_t>(64, at));
            }
            const std::string path = folder + "damaged_" + name;
            writeFile(path, bytes);
            std::vector<uint8_t> pixels;
            int width = 0, height = 0;
            if (loadPhoto(path, &pixels, &width, &height)) {
                ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height * 4);
            }
            Picture picture;
            if (loadPicture(path, true, &picture) == kOk) {
                ASSERT_EQ(picture.pixels.size(), size_t{picture.pixelWidth} * picture.pixelHeight * 4);
                ASSERT_EQ(cairo_image_surface_get_width(picture.bitmap.get()),
                          static_cast<int>(picture.pixelWidth));
            }
        }
    }
}

TEST(SkinColourTest, SamplesBothCheeks) {
    // 200 × 200, eyes level at y 80; cheeks at x 100 ± 31, y ≈ 111: left half orange, right half pink.
    const int w = 200, h = 200;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 4];
            const bool left = x < 100;
            p[2] = 200, p[1] = left ? 120 : 160, p[0] = left ? 60 : 150, p[3] = 255;
        }
    Colour3 c;
    ASSERT_TRUE(sampleSkinColour(false, pixels.data(), w, h, 75, 80, 125, 80, false, &c));
    EXPECT_NEAR(c.r, 200 / 255.0, 1e-3);
    EXPECT_NEAR(c.g, 140 / 255.0, 1e-3);
    EXPECT_NEAR(c.b, 105 / 255.0, 1e-3);

    // One cheek in shadow: with prefer-brighter the bright cheek alone counts.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 100; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = p[1] = p[2] = 20;
        }
    ASSERT_TRUE(sampleSkinColour(false, pixels.data(), w, h, 75, 80, 125, 80, true, &c));
    EXPECT_NEAR(c.g, 160 / 255.0, 1e-3);
    ASSERT_TRUE(sampleSkinColour(false, pixels.data(), w, h, 75, 80, 125, 80, false, &c));
    EXPECT_NEAR(c.g, 90 / 255.0, 1e-3);

    // Premultiplied: clear pixels don't count; a half-transparent pixel counts at its straight colour.
    for (size_t i = 0; i < pixels.size(); i += 4) {
        const bool left = (i / 4) % w < 100;
        pixels[i + 3] = left ? 0 : 128;
        if (!left)
            pixels[i] = pixels[i + 1] = pixels[i + 2] = 64;
        else
            pixels[i] = pixels[i + 1] = pixels[i + 2] = 0;
    }
    ASSERT_TRUE(sampleSkinColour(true, pixels.data(), w, h, 75, 80, 125, 80, false, &c));
    EXPECT_NEAR(c.r, 127.5 / 255.0, 1e-3);

    // Cheeks outside the picture, or eyes too close together: no colour.
    EXPECT_FALSE(sampleSkinColour(false, pixels.data(), w, h, 5, 190, 60, 190, false, &c));
    EXPECT_FALSE(sampleSkinColour(false, pixels.data(), w, h, 100, 80, 102, 80, false, &c));
}

}  // namespace
}  // namespace qm
