#include "vcam/pixel_formats.h"

namespace qm {
namespace {

// Fixed-point BT.601 studio-swing coefficients (scaled by 256).
inline uint8_t lumaOf(int b, int g, int r) {
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
// `b`, `g`, `r` are sums of `1 << shift` pixels.
inline uint8_t blueDifference(int b, int g, int r, int shift) {
    return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + (128 << shift)) >> (8 + shift)) + 128);
}
inline uint8_t redDifference(int b, int g, int r, int shift) {
    return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + (128 << shift)) >> (8 + shift)) + 128);
}

void toYuyv(const uint8_t* bgra, size_t stride, int width, int height, uint8_t* out) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bgra + stride * y;
        uint8_t* row = out + size_t(width) * 2 * y;
        for (int x = 0; x < width; x += 2, in += 8, row += 4) {
            const int b = in[0] + in[4], g = in[1] + in[5], r = in[2] + in[6];
            row[0] = lumaOf(in[0], in[1], in[2]);
            row[1] = blueDifference(b, g, r, 1);
            row[2] = lumaOf(in[4], in[5], in[6]);
            row[3] = redDifference(b, g, r, 1);
        }
    }
}

// 4:2:0: luma for every pixel, one chroma pair per 2 × 2 block; `interleaved` writes the pairs side by
// side (NV12), otherwise into two planes (I420).
void to420(const uint8_t* bgra, size_t stride, int width, int height, bool interleaved, uint8_t* out) {
    uint8_t* luma = out;
    uint8_t* chromaU = out + size_t(width) * height;
    uint8_t* chromaV = chromaU + size_t(width / 2) * (height / 2);
    for (int y = 0; y < height; y += 2) {
        const uint8_t* top = bgra + stride * y;
        const uint8_t* bottom = top + stride;
        uint8_t* lumaTop = luma + size_t(width) * y;
        uint8_t* lumaBottom = lumaTop + width;
        uint8_t* pairs = chromaU + size_t(width) * (y / 2);  // NV12: one row of pairs per two rows
        uint8_t* u = chromaU + size_t(width / 2) * (y / 2);
        uint8_t* v = chromaV + size_t(width / 2) * (y / 2);
        for (int x = 0; x < width; x += 2, top += 8, bottom += 8) {
            lumaTop[x] = lumaOf(top[0], top[1], top[2]);
            lumaTop[x + 1] = lumaOf(top[4], top[5], top[6]);
            lumaBottom[x] = lumaOf(bottom[0], bottom[1], bottom[2]);
            lumaBottom[x + 1] = lumaOf(bottom[4], bottom[5], bottom[6]);
            const int b = top[0] + top[4] + bottom[0] + bottom[4];
            const int g = top[1] + top[5] + bottom[1] + bottom[5];
            const int r = top[2] + top[6] + bottom[2] + bottom[6];
            if (interleaved) {
                pairs[x] = blueDifference(b, g, r, 2);
                pairs[x + 1] = redDifference(b, g, r, 2);
            } else {
                u[x / 2] = blueDifference(b, g, r, 2);
                v[x / 2] = redDifference(b, g, r, 2);
            }
        }
    }
}

}  // namespace

size_t pixelFormatBytes(PixelFormat format, int width, int height) {
    return format == PixelFormat::Yuyv ? size_t(width) * height * 2 : size_t(width) * height * 3 / 2;
}

int pixelFormatStride(PixelFormat format, int width) {
    return format == PixelFormat::Yuyv ? width * 2 : width;
}

void convertFromBgra(const uint8_t* bgra, size_t bgraStride, int width, int height, PixelFormat format,
                     uint8_t* out) {
    if (format == PixelFormat::Yuyv)
        toYuyv(bgra, bgraStride, width, height, out);
    else
        to420(bgra, bgraStride, width, height, format == PixelFormat::Nv12, out);
}

}  // namespace qm
