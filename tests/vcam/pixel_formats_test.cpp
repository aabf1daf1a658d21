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
