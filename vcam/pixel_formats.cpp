#include "vcam/pixel_formats.h"

#include <cstring>

namespace qm {
namespace {

constexpr int kMaxRowPixels = 8192;

// Fixed-point BT.601 studio-swing coefficients, scaled by 256: luma 66 r + 129 g + 25 b, blue difference
// 112 b - 74 g - 38 r, red difference 112 r - 94 g - 18 b; chroma is the mean over the pixels it covers.

// The row loops are built twice, for AVX2 and for any x86-64, and the loader picks one for this processor.
#if defined(__x86_64__) && !defined(__clang__)
#define QM_ROW_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define QM_ROW_LOOP
#endif

// One row's luma, every pixel: a plain loop over interleaved BGRA that the compiler vectorises.
QM_ROW_LOOP void lumaRow(const uint8_t* __restrict in, int width, uint8_t* __restrict out, int step) {
    for (int x = 0; x < width; ++x) {
        const int b = in[4 * x], g = in[4 * x + 1], r = in[4 * x + 2];
        out[x * step] = static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
    }
}

// Each pixel's share of the two colour differences (before the scale): a plain per-pixel loop that
// vectorises like the luma one; the pairs' sums below then need no strided reads.
QM_ROW_LOOP void chromaShares(const uint8_t* __restrict in, int width, int16_t* __restrict blue,
                              int16_t* __restrict red) {
    for (int x = 0; x < width; ++x) {
        const int b = in[4 * x], g = in[4 * x + 1], r = in[4 * x + 2];
        blue[x] = static_cast<int16_t>(112 * b - 74 * g - 38 * r);
        red[x] = static_cast<int16_t>(112 * r - 94 * g - 18 * b);
    }
}

// Chroma for pixel pairs of one row, or (with `blueBelow`/`redBelow`) of 2 × 2 blocks, written `step`
// bytes apart.
QM_ROW_LOOP void chromaFromShares(const int16_t* __restrict blue, const int16_t* __restrict red,
                                  const int16_t* __restrict blueBelow, const int16_t* __restrict redBelow,
                                  int pairs, uint8_t* __restrict u, uint8_t* __restrict v, int step) {
    if (!blueBelow) {
        for (int k = 0; k < pairs; ++k) {
            u[k * step] = static_cast<uint8_t>(((blue[2 * k] + blue[2 * k + 1] + 256) >> 9) + 128);
            v[k * step] = static_cast<uint8_t>(((red[2 * k] + red[2 * k + 1] + 256) >> 9) + 128);
        }
        return;
    }
    for (int k = 0; k < pairs; ++k) {
        const int b = blue[2 * k] + blue[2 * k + 1] + blueBelow[2 * k] + blueBelow[2 * k + 1];
        const int r = red[2 * k] + red[2 * k + 1] + redBelow[2 * k] + redBelow[2 * k + 1];
        u[k * step] = static_cast<uint8_t>(((b + 512) >> 10) + 128);
        v[k * step] = static_cast<uint8_t>(((r + 512) >> 10) + 128);
    }
}

QM_ROW_LOOP void interleaveYuyv(const uint8_t* __restrict luma, const uint8_t* __restrict u,
                                const uint8_t* __restrict v, int pairs, uint8_t* __restrict out) {
    for (int k = 0; k < pairs; ++k) {
        out[4 * k] = luma[2 * k];
        out[4 * k + 1] = u[k];
        out[4 * k + 2] = luma[2 * k + 1];
        out[4 * k + 3] = v[k];
    }
}

// Planes first, then interleaved: loops with contiguous stores vectorise far better than one loop
// writing every other byte.
void toYuyv(const uint8_t* bgra, size_t stride, int width, int height, uint8_t* out) {
    uint8_t luma[kMaxRowPixels], u[kMaxRowPixels / 2], v[kMaxRowPixels / 2];
    int16_t blue[kMaxRowPixels], red[kMaxRowPixels];
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bgra + stride * y;
        lumaRow(in, width, luma, 1);
        chromaShares(in, width, blue, red);
        chromaFromShares(blue, red, nullptr, nullptr, width / 2, u, v, 1);
        interleaveYuyv(luma, u, v, width / 2, out + size_t(width) * 2 * y);
    }
}

// 4:2:0: luma for every pixel, one chroma pair per 2 × 2 block; with `interleavedUv` the pairs go side by
// side into one plane (NV12), otherwise into the U and V planes (I420).
void to420(const uint8_t* bgra, size_t stride, int width, int height, const PlaneTargets& to,
           bool interleavedUv) {
    int16_t blue[kMaxRowPixels], red[kMaxRowPixels], blueBelow[kMaxRowPixels], redBelow[kMaxRowPixels];
    for (int y = 0; y < height; y += 2) {
        const uint8_t* top = bgra + stride * y;
        const uint8_t* bottom = top + stride;
        lumaRow(top, width, to.y + to.yStride * y, 1);
        lumaRow(bottom, width, to.y + to.yStride * (y + 1), 1);
        chromaShares(top, width, blue, red);
        chromaShares(bottom, width, blueBelow, redBelow);
        if (interleavedUv) {
            uint8_t* pairs = to.u + to.uStride * (y / 2);
            chromaFromShares(blue, red, blueBelow, redBelow, width / 2, pairs, pairs + 1, 2);
        } else {
            chromaFromShares(blue, red, blueBelow, redBelow, width / 2, to.u + to.uStride * (y / 2),
                             to.v + to.vStride * (y / 2), 1);
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

void fillPlaceholder(PixelFormat format, int width, int height, uint8_t* out) {
    constexpr uint8_t kDarkLuma = 24, kNoColour = 128;
    const size_t pixels = size_t(width) * height;
    if (format == PixelFormat::Yuyv) {
        for (size_t i = 0; i < pixels; ++i) {
            out[2 * i] = kDarkLuma;
            out[2 * i + 1] = kNoColour;
        }
        return;
    }
    std::memset(out, kDarkLuma, pixels);
    std::memset(out + pixels, kNoColour, pixels / 2);
}

void convertFromBgra(const uint8_t* bgra, size_t bgraStride, int width, int height, PixelFormat format,
                     uint8_t* out) {
    if (format == PixelFormat::Yuyv)
        toYuyv(bgra, bgraStride, width, height, out);
    else {
        uint8_t* u = out + size_t(width) * height;
        const bool nv12 = format == PixelFormat::Nv12;
        to420(bgra, bgraStride, width, height,
              {out, size_t(width), u, size_t(nv12 ? width : width / 2), u + size_t(width / 2) * (height / 2),
               size_t(width / 2)},
              nv12);
    }
}

void convertToI420Planes(const uint8_t* bgra, size_t bgraStride, int width, int height,
                         const PlaneTargets& planes) {
    to420(bgra, bgraStride, width, height, planes, false);
}

}  // namespace qm
