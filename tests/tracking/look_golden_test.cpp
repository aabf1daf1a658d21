// The looks' pictures kept: bold and bold masculine on a made-up skin-coloured frame (ripples, stripes and
// dark freckles, so that smoothing, detail keeping, make-up and every shape warp have something to change)
// with the recorded landmarks of the sample face at 0.55 times their size, compared with golden/looks.png
// (the two regions side by side). Speed work on the looks must keep the picture: per colour byte, at
// least 99.5 % within 2 levels of the golden, a mean difference of at most 0.5 levels and none over 32.
//
// On x86-64 both builds of the looks are checked (the portable one and the AVX2 one where the processor
// has it). QM_UPDATE_GOLDEN=1 rewrites the golden from the portable build instead (look at it before
// committing). QM_LOOK_PICTURES=<folder> also writes the four looks on frame 40 of data/sample.mp4 there,
// before and after, to look at.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/tracking/sample_landmarks.h"
#include "tests/tracking/test_pictures.h"
#include "tracking/face_geometry.h"
#include "tracking/tools/picture_file.h"
#include "tracking/touch_up_look.h"

namespace qm {
namespace {

const std::string kGolden = std::string(QM_SOURCE_DIR) + "/tests/tracking/golden/looks.png";
constexpr double kWithin = 2, kShareWithin = 0.995, kMeanLimit = 0.5, kWorstLimit = 32;

// The sample face as recorded, or scaled about the frame's top-left corner.
LandmarkSet sampleLandmarks(float scale = 1) {
    LandmarkSet set;
    for (int i = 0; i < kLandmarkCount; ++i)
        set.landmarks[i] = {test::kSampleFrame40Landmarks[i].x * scale,
                            test::kSampleFrame40Landmarks[i].y * scale};
    return set;
}

PictureBuffer madeUpFrame() {
    PictureBuffer frame;
    frame.width = 1280;
    frame.height = 720;
    frame.pixels.resize(static_cast<size_t>(frame.width) * frame.height * 4);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            const float ripple = 8 * std::sin(fx * 0.45f) * std::sin(fy * 0.38f);
            const float stripes = 30 * std::sin(fx * 0.21f + 0.3f * std::sin(fy * 0.05f));
            // Freckles: small dark dots on a 23-pixel grid.
            const float cx = std::fmod(fx + 0.37f * fy, 23.0f) - 11.5f, cy = std::fmod(fy, 19.0f) - 9.5f;
            const float freckle = cx * cx + cy * cy < 6 ? -45.0f : 0.0f;
            const float shade = ripple + stripes + freckle + 0.05f * (fx - 440) - 0.04f * (fy - 300);
            uint8_t* p = &frame.pixels[(static_cast<size_t>(y) * frame.width + x) * 4];
            p[0] = static_cast<uint8_t>(std::clamp(120 + 0.7f * shade, 0.0f, 255.0f));
            p[1] = static_cast<uint8_t>(std::clamp(145 + 0.85f * shade, 0.0f, 255.0f));
            p[2] = static_cast<uint8_t>(std::clamp(195 + shade, 0.0f, 255.0f));
            p[3] = 255;
        }
    return frame;
}

// The looked frame's region (both looks run on the same region).
LookRegion looked(PictureBuffer& frame, const LandmarkSet& set, int look, bool masculine) {
    static LookBuffers buffers;
    return applyLook(buffers, {frame.pixels.data(), frame.width, frame.height, frame.width * 4}, set,
                     computeGeometry(set), look, masculine, 1);
}

bool savePng(const std::string& path, const PictureBuffer& picture, int x0, int y0, int width, int height) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (!pixbuf) return false;
    guint8* out = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &picture.pixels[(static_cast<size_t>(y0 + y) * picture.width + x0 + x) * 4];
            guint8* q = out + static_cast<size_t>(y) * stride + x * 3;
            q[0] = p[2], q[1] = p[1], q[2] = p[0];
        }
    const bool saved = gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, "compression", "9", nullptr);
    g_object_unref(pixbuf);
    return saved;
}

// The two regions side by side.
PictureBuffer sideBySide(const PictureBuffer& a, const PictureBuffer& b, const LookRegion& roi) {
    PictureBuffer out;
    out.width = 2 * roi.width;
    out.height = roi.height;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
    for (int y = 0; y < roi.height; ++y)
        for (int half = 0; half < 2; ++half)
            std::copy_n(&(half ? b : a).pixels[(static_cast<size_t>(roi.y + y) * a.width + roi.x) * 4],
                        static_cast<size_t>(roi.width) * 4,
                        &out.pixels[(static_cast<size_t>(y) * out.width + half * roi.width) * 4]);
    return out;
}

// The two looks side by side, from the portable build or the one the processor gets.
PictureBuffer bothLooks(const LandmarkSet& set, bool portableOnly) {
    useLookPortableBuild(portableOnly);
    const PictureBuffer frame = madeUpFrame();
    PictureBuffer bold = frame, masculine = frame;
    const LookRegion roi = looked(bold, set, 3, false);
    const LookRegion again = looked(masculine, set, 3, true);
    useLookPortableBuild(false);
    EXPECT_FALSE(roi.empty());
    EXPECT_EQ(again.width, roi.width);
    return roi.empty() ? PictureBuffer{} : sideBySide(bold, masculine, roi);
}

TEST(TouchUpLookGolden, BoldAndBoldMasculineKeepTheirPicture) {
    // At a little over half the size (a region of 263 pixels), which keeps the golden small.
    const LandmarkSet set = sampleLandmarks(0.55f);
    if (std::getenv("QM_UPDATE_GOLDEN")) {
        const PictureBuffer both = bothLooks(set, true);
        ASSERT_TRUE(savePng(kGolden, both, 0, 0, both.width, both.height)) << kGolden;
        return;
    }
    PictureBuffer golden;
    std::string error;
    ASSERT_TRUE(readPictureFile(kGolden, golden, &error)) << error;
    for (bool portableOnly : {true, false}) {
        SCOPED_TRACE(portableOnly ? "portable build" : "the processor's build");
        const PictureBuffer both = bothLooks(set, portableOnly);
        ASSERT_EQ(golden.width, both.width);
        ASSERT_EQ(golden.height, both.height);
        double total = 0, worst = 0;
        long within = 0, bytes = 0;
        for (size_t i = 0; i < both.pixels.size(); ++i) {
            if (i % 4 == 3) continue;
            const double d = std::abs(int(both.pixels[i]) - int(golden.pixels[i]));
            total += d;
            worst = std::max(worst, d);
            within += d <= kWithin;
            ++bytes;
        }
        EXPECT_GE(static_cast<double>(within) / static_cast<double>(bytes), kShareWithin);
        EXPECT_LE(total / static_cast<double>(bytes), kMeanLimit);
        EXPECT_LE(worst, kWorstLimit);
    }

    if (const char* folder = std::getenv("QM_LOOK_PICTURES")) {
        const PictureBuffer sample = test::dataVideoFrame("sample.mp4", 40);
        ASSERT_FALSE(sample.pixels.empty()) << "data/sample.mp4 unreadable";
        const std::string to = std::string(folder) + "/";
        const LandmarkSet set = sampleLandmarks();
        PictureBuffer probe = sample;  // the region of the full-size face
        const LookRegion roi = looked(probe, set, 1, false);
        ASSERT_TRUE(savePng(to + "before.png", sample, roi.x, roi.y, roi.width, roi.height));
        const char* names[] = {"natural", "glam", "bold", "bold_masculine"};
        for (int i = 0; i < 4; ++i) {
            PictureBuffer after = sample;
            looked(after, set, std::min(i + 1, 3), i == 3);
            ASSERT_TRUE(savePng(to + names[i] + ".png", after, roi.x, roi.y, roi.width, roi.height));
        }
    }
}

}  // namespace
}  // namespace qm
