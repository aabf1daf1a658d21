// The camera's YUV conversions against FFmpeg's own (libswscale, BT.601 studio swing) on a real picture
// of the sample: every sample within 2 levels, and no sample more than 1 level off on average.
#include "vcam/pixel_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace qm {
namespace {

constexpr int kWidth = 320, kHeight = 180;

// A picture with smooth gradients, hard edges and saturated colours, so chroma averaging shows.
std::vector<uint8_t> testPicture() {
    std::vector<uint8_t> bgra(size_t(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &bgra[(size_t(y) * kWidth + x) * 4];
            p[0] = static_cast<uint8_t>(x * 255 / (kWidth - 1));
            p[1] = static_cast<uint8_t>(y * 255 / (kHeight - 1));
            p[2] = ((x / 16 + y / 16) % 2) ? 255 : 0;
            p[3] = 255;
        }
    return bgra;
}

std::vector<uint8_t> reference(const std::vector<uint8_t>& bgra, AVPixelFormat format) {
    // Exact arithmetic and no dithering, so the reference is the textbook conversion.
    SwsContext* sws =
        sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, format,
                       SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
    std::vector<uint8_t> out(size_t(kWidth) * kHeight * 2);
    uint8_t* planes[3] = {out.data(), nullptr, nullptr};
    int strides[3] = {kWidth * 2, 0, 0};
    if (format != AV_PIX_FMT_YUYV422) {
        planes[1] = out.data() + kWidth * kHeight;
        strides[0] = kWidth;
        strides[1] = format == AV_PIX_FMT_NV12 ? kWidth : kWidth / 2;
        planes[2] = planes[1] + (kWidth / 2) * (kHeight / 2);
        strides[2] = kWidth / 2;
    }
    const uint8_t* in[1] = {bgra.data()};
    const int inStride[1] = {kWidth * 4};
    sws_scale(sws, in, inStride, 0, kHeight, planes, strides);
    sws_freeContext(sws);
    return out;
}

TEST(PixelFormats, EachFormatMatchesFfmpegWithinTwoLevels) {
    const std::vector<uint8_t> bgra = testPicture();
    const struct {
        PixelFormat ours;
        AVPixelFormat theirs;
    } formats[] = {{PixelFormat::Yuyv, AV_PIX_FMT_YUYV422},
                   {PixelFormat::Nv12, AV_PIX_FMT_NV12},
                   {PixelFormat::I420, AV_PIX_FMT_YUV420P}};
    for (const auto& f : formats) {
        const size_t bytes = pixelFormatBytes(f.ours, kWidth, kHeight);
        std::vector<uint8_t> ours(bytes + 1, 0xEE);
        convertFromBgra(bgra.data(), kWidth * 4, kWidth, kHeight, f.ours, ours.data());
        EXPECT_EQ(ours[bytes], 0xEE) << "wrote past the frame";
        const std::vector<uint8_t> theirs = reference(bgra, f.theirs);
        int worst = 0;
        double sum = 0;
        for (size_t i = 0; i < bytes; ++i) {
            const int difference = std::abs(int(ours[i]) - int(theirs[i]));
            worst = std::max(worst, difference);
            sum += difference;
        }
        EXPECT_LE(worst, 2) << static_cast<int>(f.ours);
        EXPECT_LE(sum / bytes, 1.0) << static_cast<int>(f.ours);
    }
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The recorder's planes come with padded rows: the same samples as the packed I420 frame, and the padding
// left alone.
TEST(PixelFormats, I420IntoPaddedPlanesMatchesThePackedFrame) {
    const std::vector<uint8_t> bgra = testPicture();
    std::vector<uint8_t> packed(pixelFormatBytes(PixelFormat::I420, kWidth, kHeight));
    convertFromBgra(bgra.data(), size_t(kWidth) * 4, kWidth, kHeight, PixelFormat::I420, packed.data());
    const size_t yStride = kWidth + 64, cStride = kWidth / 2 + 32;
    std::vector<uint8_t> y(yStride * kHeight, 0xEE), u(cStride * kHeight / 2, 0xEE), v(u);
    convertToI420Planes(bgra.data(), size_t(kWidth) * 4, kWidth, kHeight,
                        {y.data(), yStride, u.data(), cStride, v.data(), cStride});
    const uint8_t* packedU = packed.data() + kWidth * kHeight;
    const uint8_t* packedV = packedU + (kWidth / 2) * (kHeight / 2);
    int differences = 0, paddingTouched = 0;
    for (int row = 0; row < kHeight; ++row)
        for (size_t x = 0; x < yStride; ++x) {
            const uint8_t got = y[row * yStride + x];
            if (x < size_t(kWidth))
                differences += got != packed[row * kWidth + x];
            else
                paddingTouched += got != 0xEE;
        }
    for (int row = 0; row < kHeight / 2; ++row)
        for (size_t x = 0; x < cStride; ++x) {
            const uint8_t gotU = u[row * cStride + x], gotV = v[row * cStride + x];
            if (x < size_t(kWidth / 2))
                differences +=
                    (gotU != packedU[row * kWidth / 2 + x]) + (gotV != packedV[row * kWidth / 2 + x]);
            else
                paddingTouched += (gotU != 0xEE) + (gotV != 0xEE);
        }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(paddingTouched, 0);
}

}  // namespace
}  // namespace qm
