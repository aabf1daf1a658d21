#include "render/effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "reference_gaussian.h"

namespace qm {
namespace {

struct Image {
    int width, height;
    std::vector<uint8_t> data;
    Image(int w, int h) : width(w), height(h), data(static_cast<size_t>(w) * h * 4, 0) {}
    PixelView view() { return {data.data(), width, height, width * 4}; }
    uint8_t* at(int x, int y) { return &data[(static_cast<size_t>(y) * width + x) * 4]; }
};

// A true Gaussian of one channel, with everything outside the picture transparent black.
std::vector<double> referenceBlur(Image& src, int channel, double sigma) {
    std::vector<double> plane(static_cast<size_t>(src.width) * src.height);
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x)
            plane[y * src.width + x] = src.at(x, y)[channel];
    return testing::referenceGaussian(plane, src.width, src.height, sigma);
}

TEST(GaussianBlurTest, BoxWidthsAddUpToTheDeviation) {
    for (float sigma : {1.0f, 2.5f, 7.68f, 15.36f, 30.0f}) {
        const BoxWidths boxes = boxWidthsForGaussian(sigma);
        double variance = 0;
        for (int w : boxes.width) {
            EXPECT_EQ(w % 2, 1);
            variance += (w * w - 1) / 12.0;
        }
        EXPECT_NEAR(std::sqrt(variance), sigma, 0.5) << sigma;
    }
}

TEST(GaussianBlurTest, StaysCloseToATrueGaussianWithAHardBorder) {
    // Hard edges, a lone bright dot and a picture border: the cases where box approximations go wrong.
    Image src(120, 90);
    for (int y = 0; y < src.height; ++y)
        for (int x = 0; x < src.width; ++x) {
            uint8_t* p = src.at(x, y);
            p[0] = (x / 20 + y / 15) % 2 ? 230 : 20;
            p[1] = static_cast<uint8_t>(x * 2);
            p[2] = (x == 60 && y == 45) ? 255 : 0;
            p[3] = 255;
        }
    for (float sigma : {2.0f, 6.0f, 15.0f}) {
        Image dst(src.width, src.height);
        GaussianBlur blur;
        blur.apply(src.view(), dst.view(), sigma);
        for (int channel : {0, 1, 3}) {
            const std::vector<double> expected = referenceBlur(src, channel, sigma);
            double worst = 0;
            for (int y = 0; y < src.height; ++y)
                for (int x = 0; x < src.width; ++x)
                    worst = std::max(worst, std::fabs(dst.at(x, y)[channel] - expected[y * src.width + x]));
            EXPECT_LE(worst, 9.0) << "sigma " << sigma << " channel " << channel;  // 3.5 % at hard edges
        }
        // The border fades toward transparent, most at the corners.
        EXPECT_LT(dst.at(0, 0)[3], dst.at(0, 45)[3]) << sigma;
        EXPECT_LT(dst.at(0, 45)[3], 255) << sigma;
        EXPECT_EQ(dst.at(60, 45)[3], 255) << sigma;
    }
}

TEST(GaussianBlurTest, WorksInPlaceAndCopiesForTinyDeviations) {
    Image a(30, 20);
    for (size_t i = 0; i < a.data.size(); ++i)
        a.data[i] = static_cast<uint8_t>(i * 7);
    Image copy = a;
    GaussianBlur blur;
    Image b(30, 20);
    blur.apply(a.view(), b.view(), 0.1f);
    EXPECT_EQ(a.data, b.data);
    Image separate(30, 20);
    blur.apply(a.view(), separate.view(), 3);
    blur.apply(copy.view(), copy.view(), 3);
    EXPECT_EQ(separate.data, copy.data);
}

TEST(ColourMatrixTest, WorksOnStraightColourAndPremultipliesAgain) {
    Image src(2, 1);
    uint8_t* half = src.at(0, 0);  // straight (200, 100, 50) at alpha 128, premultiplied
    half[2] = 100, half[1] = 50, half[0] = 25, half[3] = 128;
    uint8_t* clear = src.at(1, 0);
    clear[0] = clear[1] = clear[2] = clear[3] = 0;
    Image dst(2, 1);

    ColourMatrix identity;
    applyColourMatrix(identity, src.view(), dst.view());
    EXPECT_NEAR(dst.at(0, 0)[2], 100, 1);
    EXPECT_NEAR(dst.at(0, 0)[1], 50, 1);
    EXPECT_EQ(dst.at(0, 0)[3], 128);

    // Red doubled (clamped to 1), blue from the offset row, alpha unchanged.
    ColourMatrix m;
    m.m[0] = 2;
    m.m[10] = 0;
    m.m[18] = 0.5f;
    applyColourMatrix(m, src.view(), dst.view());
    EXPECT_NEAR(dst.at(0, 0)[2], 128, 1);  // 1.0 × alpha
    EXPECT_NEAR(dst.at(0, 0)[0], 64, 1);   // 0.5 × alpha
    EXPECT_EQ(dst.at(0, 0)[3], 128);
    // A clear pixel stays clear unless the matrix makes alpha.
    EXPECT_EQ(dst.at(1, 0)[3], 0);
    m.m[19] = 1;
    applyColourMatrix(m, src.view(), dst.view());
    EXPECT_EQ(dst.at(1, 0)[3], 255);
    EXPECT_EQ(dst.at(1, 0)[0], 128);
}

TEST(ShadowTest, IsTheBlurredAlphaInTheShadowColourAroundThePicture) {
    const float sigma = 3;
    const int margin = shadowMargin(sigma);
    EXPECT_EQ(margin, 9);
    Image src(40, 40);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x) {
            uint8_t* p = src.at(x, y);
            p[0] = 255, p[1] = 0, p[2] = 0, p[3] = 255;  // opaque blue square
        }
    Image dst(40 + 2 * margin, 40 + 2 * margin);
    const float colour[4] = {1, 0, 0, 0.4f};  // red at 40 %
    GaussianBlur blur;
    makeShadow(src.view(), dst.view(), sigma, colour, blur);
    const uint8_t* centre = dst.at(20 + margin, 20 + margin);
    EXPECT_NEAR(centre[3], 102, 3);
    EXPECT_EQ(centre[2], centre[3]);  // red, premultiplied
    EXPECT_EQ(centre[0], 0);          // none of the picture's own colour
    EXPECT_EQ(dst.at(0, 0)[3], 0);
    // Symmetric around the square, soft at its edge.
    EXPECT_EQ(dst.at(10 + margin - 2, 20 + margin)[3], dst.at(29 + margin + 2, 20 + margin)[3]);
    EXPECT_GT(dst.at(10 + margin - 2, 20 + margin)[3], 0);
    EXPECT_LT(dst.at(10 + margin - 2, 20 + margin)[3], centre[3] / 2);
}

}  // namespace
}  // namespace qm
