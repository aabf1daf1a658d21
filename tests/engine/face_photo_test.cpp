// Face photos prepared with the real models: where the anchors land, the cut-out kept beside the photo,
// the fallback for a photo without a face, the neck trim, and hostile pictures. Also gives the preparation's
// figures: its stages and the longest one, for a 1024-pixel photo.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "base/clock.h"
#include "base/launch_options.h"
#include "engine/face_photo_preparation.h"
#include "engine/system_tracking.h"
#include "platform/paths.h"
#include "render/pictures.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

// The astronaut's eye centres, image-left first, read off the 512 × 512 picture.
constexpr Point2 kLeftEye{204, 101};
constexpr Point2 kRightEye{247, 104};

std::string dataFile(const std::string& name) {
    return executableDir() + "../../data/" + name;
}

class FacePhotos : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::ifstream(dataFile("astronaut.png")) || !std::ifstream(executableDir() + "person_mask.onnx"))
            return;
        LaunchOptions options;
        options.cpu = true;
        tracking_ = std::make_unique<ModelFaceTracking>(options);
    }
    static void TearDownTestSuite() { tracking_.reset(); }
    void SetUp() override {
        if (!tracking_) {
            if (std::getenv("CI"))
                FAIL() << "the test pictures or the models are missing (run scripts/bootstrap)";
            GTEST_SKIP() << "the test pictures or the models are missing";
        }
    }
    std::string copied(const std::string& name) {
        const std::string path = dir_.file(name);
        std::filesystem::copy_file(dataFile(name), path, std::filesystem::copy_options::overwrite_existing);
        return path;
    }
    static inline std::unique_ptr<ModelFaceTracking> tracking_;
    test::TempDir dir_;
};

bool hasTransparency(const FacePhoto& photo) {
    for (size_t i = 3; i < photo.pixels.size(); i += 4)
        if (photo.pixels[i] < 250) return true;
    return false;
}

TEST_F(FacePhotos, AFacePhotoIsCutOutOnceAndAnchoredOnItsEyesAndMouth) {
    const std::string path = copied("astronaut.png");
    std::unique_ptr<FacePhoto> photo = prepareFacePhoto(path, *tracking_);
    ASSERT_TRUE(photo);
    ASSERT_TRUE(photo->faceFound);
    const float w = photo->width, h = photo->height;
    EXPECT_NEAR(photo->anchors.leftEyeX * w, kLeftEye.x, 6);
    EXPECT_NEAR(photo->anchors.leftEyeY * h, kLeftEye.y, 6);
    EXPECT_NEAR(photo->anchors.rightEyeX * w, kRightEye.x, 6);
    EXPECT_NEAR(photo->anchors.rightEyeY * h, kRightEye.y, 6);
    // The mouth sits below the eyes' middle, about one eye distance down; the jaw line lies below it.
    const float d = kRightEye.x - kLeftEye.x;
    EXPECT_NEAR(photo->anchors.mouthX * w, (kLeftEye.x + kRightEye.x) / 2, 0.25f * d);
    EXPECT_GT(photo->anchors.mouthY * h - kLeftEye.y, 0.8f * d);
    EXPECT_LT(photo->anchors.mouthY * h - kLeftEye.y, 1.6f * d);
    EXPECT_GT(photo->jawY, photo->anchors.mouthY);
    EXPECT_TRUE(photo->skinColourFound);
    EXPECT_GT(photo->skinColour.r, photo->skinColour.b) << "skin, not sky";
    EXPECT_FLOAT_EQ(photo->anchors.featureScale, 1.1f);
    ASSERT_TRUE(photo->bitmap);

    // Cut out through the person mask, and the cut-out kept beside the photo...
    EXPECT_TRUE(hasTransparency(*photo));
    const std::string cut = path + ".cut.png";
    ASSERT_TRUE(std::filesystem::exists(cut));
    const auto stamp = std::filesystem::last_write_time(cut) - std::chrono::hours(1);
    std::filesystem::last_write_time(cut, stamp);
    // ...and used from then on, never cut again (the same pixels, the file untouched).
    std::unique_ptr<FacePhoto> again = prepareFacePhoto(path, *tracking_);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->faceFound);
    EXPECT_EQ(std::filesystem::last_write_time(cut), stamp);
    EXPECT_NEAR(again->anchors.leftEyeX, photo->anchors.leftEyeX, 0.01f);

    // The neck: 0 trims just below the jaw, 1 keeps more below the chin; above the eyes nothing changes.
    auto opaqueBelow = [](const FacePhoto& p, float fromY) {
        long count = 0;
        for (uint32_t y = static_cast<uint32_t>(fromY); y < p.pixelHeight; ++y)
            for (uint32_t x = 0; x < p.pixelWidth; ++x)
                count += p.trimmedPixels[(y * p.pixelWidth + x) * 4 + 3] > 128;
        return count;
    };
    const float chinY = photo->geometry.chin.y;
    const long trimmedShort = opaqueBelow(*photo, chinY + 0.1f * d);
    applyNeck(*photo, 1);
    const long trimmedLong = opaqueBelow(*photo, chinY + 0.1f * d);
    EXPECT_GT(trimmedLong, trimmedShort + 200);
    EXPECT_LT(trimmedShort, 0.02 * w * (h - chinY)) << "neck 0 leaves little below the chin";
    EXPECT_EQ(photo->trimmedPixels[(50 * photo->pixelWidth + 225) * 4 + 3],
              photo->pixels[(50 * photo->pixelWidth + 225) * 4 + 3]);
}

TEST_F(FacePhotos, PicturesWithoutAFaceAreWornWithTheMorvelsProportions) {
    for (const char* name : {"coffee.png", "chelsea.png"}) {
        std::unique_ptr<FacePhoto> photo = prepareFacePhoto(copied(name), *tracking_);
        ASSERT_TRUE(photo) << name;
        EXPECT_FALSE(photo->faceFound) << name;
        EXPECT_FLOAT_EQ(photo->anchors.leftEyeX, 0.3f);
        EXPECT_FLOAT_EQ(photo->anchors.mouthY, 0.64f);
        EXPECT_FLOAT_EQ(photo->anchors.featureScale, 1.2f);
        EXPECT_FLOAT_EQ(photo->jawY, -1);
        EXPECT_TRUE(photo->bitmap) << name;
    }
}

TEST_F(FacePhotos, HostilePicturesAreRefusedOrWornWithoutAFace) {
    // Missing, vanished, broken and absurd files can't be read.
    EXPECT_FALSE(prepareFacePhoto(dir_.file("nothing here.png"), *tracking_));
    const std::string broken = dir_.file("broken.png");
    std::ofstream(broken, std::ios::binary) << "\x89PNG\r\n\x1a\n not a picture at all";
    EXPECT_FALSE(prepareFacePhoto(broken, *tracking_));
    const std::string huge = dir_.file("huge.png");
    {
        // A PNG header claiming 100000 × 100000 pixels, with no pixels behind it.
        const unsigned char header[] = {0x89, 'P',  'N', 'G', '\r', '\n', 0x1a, '\n', 0,    0, 0,
                                        13,   'I',  'H', 'D', 'R',  0,    1,    0x86, 0xa0, 0, 1,
                                        0x86, 0xa0, 8,   6,   0,    0,    0,    0,    0,    0, 0};
        std::ofstream(huge, std::ios::binary).write(reinterpret_cast<const char*>(header), sizeof header);
    }
    EXPECT_FALSE(prepareFacePhoto(huge, *tracking_));
    EXPECT_FALSE(prepareFacePhoto(dir_.path(), *tracking_)) << "a folder is not a picture";
    // A file that vanishes after the preparation started.
    FacePhotoPreparation preparation;
    const std::string vanishing = copied("coffee.png");
    preparation.start(vanishing);
    std::filesystem::remove(vanishing);
    while (!preparation.step(*tracking_)) {
    }
    EXPECT_FALSE(preparation.take());

    // A face too small to find is still worn, without a face.
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(loadPhoto(dataFile("astronaut.png"), &pixels, &w, &h));
    std::vector<uint8_t> tiny(24 * 24 * 4);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            for (int k = 0; k < 4; ++k)
                tiny[(y * 24 + x) * 4 + k] = pixels[((y * h / 24) * w + x * w / 24) * 4 + k];
    const std::string small = dir_.file("tiny.png");
    ASSERT_TRUE(savePng(small, tiny.data(), 24, 24));
    std::unique_ptr<FacePhoto> photo = prepareFacePhoto(small, *tracking_);
    ASSERT_TRUE(photo);
    EXPECT_FALSE(photo->faceFound);
}

// A 1024-pixel photo is prepared in a few stages, each short enough not to hold the preview up for long.
TEST_F(FacePhotos, PreparationRunsInShortStages) {
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(loadPhoto(dataFile("astronaut.png"), &pixels, &w, &h));
    std::vector<uint8_t> big(1024 * 1024 * 4);
    for (int y = 0; y < 1024; ++y)
        for (int x = 0; x < 1024; ++x)
            for (int k = 0; k < 4; ++k)
                big[(static_cast<size_t>(y) * 1024 + x) * 4 + k] =
                    pixels[((y * h / 1024) * w + x * w / 1024) * 4 + k];
    const std::string path = dir_.file("big.png");
    ASSERT_TRUE(savePng(path, big.data(), 1024, 1024));
    FacePhotoPreparation preparation;
    const double start = clockMs();
    preparation.start(path);
    double inLoop = 0, longest = 0;
    bool done = false;
    while (!done) {
        const double t0 = clockMs();
        done = preparation.step(*tracking_);
        const double ms = clockMs() - t0;
        inLoop += ms;
        longest = std::max(longest, ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the rest of a frame
    }
    const double wall = clockMs() - start;
    std::unique_ptr<FacePhoto> photo = preparation.take();
    ASSERT_TRUE(photo);
    EXPECT_TRUE(photo->faceFound);
    EXPECT_LT(longest, 100) << "no step should hold the preview up for long";
    std::printf(
        "preparation of a 1024 x 1024 photo: ready after %.0f ms, %.0f ms of it on the engine thread, "
        "longest step %.1f ms\n",
        wall, inLoop, longest);
}

}  // namespace
}  // namespace qm
