// The source picture the tracker reads and the bilinear sampler that the detector, the face mesh, the
// person mask and the looks use to read it. Pure, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

// A picture in memory: 4 bytes per pixel in the order blue, green, red, alpha, top row first. The
// tracker only reads it; the caller keeps it alive during the call.
struct SourcePicture {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row; 4 * width for packed rows
};

inline SourcePicture packedPicture(const uint8_t* pixels, int width, int height) {
    return {pixels, width, height, width * 4};
}

// Byte values to the models' ranges: v / 255 and v / 127.5, as multiplications (a division per channel
// is a measurable share of filling an input).
constexpr float kByteScale = 1.0f / 255;
constexpr float kHalfByteScale = 1.0f / 127.5f;

struct Rgb {
    float r = 0;
    float g = 0;
    float b = 0;
};

// The four neighbours of a sample and its weights toward the right and lower ones.
struct BilinearTaps {
    const uint8_t *a, *b, *c, *d;  // top left, top right, bottom left, bottom right
    float fx, fy;
};

// False outside [0, W-1] × [0, H-1] (and for a NaN position); at the last row or column the missing
// neighbour is the edge pixel.
inline bool bilinearTaps(const SourcePicture& picture, float x, float y, BilinearTaps* taps) {
    // Written as a negated "inside" test so that NaN positions land outside.
    if (!(x >= 0 && y >= 0 && x <= static_cast<float>(picture.width - 1) &&
          y <= static_cast<float>(picture.height - 1)))
        return false;
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = x0 + 1 < picture.width ? x0 + 1 : picture.width - 1;
    const int y1 = y0 + 1 < picture.height ? y0 + 1 : picture.height - 1;
    const uint8_t* top = picture.pixels + static_cast<ptrdiff_t>(y0) * picture.stride;
    const uint8_t* bottom = picture.pixels + static_cast<ptrdiff_t>(y1) * picture.stride;
    *taps = {top + x0 * 4,
             top + x1 * 4,
             bottom + x0 * 4,
             bottom + x1 * 4,
             x - static_cast<float>(x0),
             y - static_cast<float>(y0)};
    return true;
}

// R, G, B in 0..255 at (x, y), pixel centres at whole numbers; black outside the picture.
inline Rgb sampleBilinearScalar(const SourcePicture& picture, float x, float y) {
    BilinearTaps t;
    if (!bilinearTaps(picture, x, y, &t)) return {};
    // Mixed along x on both rows, then along y: the same bilinear weights in six multiplications.
    auto mix = [&](int channel) {
        const float upper = t.a[channel] + t.fx * static_cast<float>(t.b[channel] - t.a[channel]);
        const float lower = t.c[channel] + t.fx * static_cast<float>(t.d[channel] - t.c[channel]);
        return upper + t.fy * (lower - upper);
    };
    return {mix(2), mix(1), mix(0)};
}

// The same samples, the three channels in one vector: the same operations in the same order on each
// lane, so the values are identical to the scalar ones (the models' inputs do not change), about twice
// as fast. The model input fills read every pixel of their input through it.
inline Rgb sampleBilinear(const SourcePicture& picture, float x, float y) {
#if defined(__SSE2__)
    BilinearTaps t;
    if (!bilinearTaps(picture, x, y, &t)) return {};
    const __m128i zero = _mm_setzero_si128();
    auto pixel = [&](const uint8_t* p) {
        int32_t bytes;
        std::memcpy(&bytes, p, 4);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
    };
    const __m128i a = pixel(t.a), b = pixel(t.b), c = pixel(t.c), d = pixel(t.d);
    const __m128 fx = _mm_set1_ps(t.fx), fy = _mm_set1_ps(t.fy);
    const __m128 upper = _mm_add_ps(_mm_cvtepi32_ps(a), _mm_mul_ps(fx, _mm_cvtepi32_ps(_mm_sub_epi32(b, a))));
    const __m128 lower = _mm_add_ps(_mm_cvtepi32_ps(c), _mm_mul_ps(fx, _mm_cvtepi32_ps(_mm_sub_epi32(d, c))));
    alignas(16) float mixed[4];
    _mm_store_ps(mixed, _mm_add_ps(upper, _mm_mul_ps(fy, _mm_sub_ps(lower, upper))));
    return {mixed[2], mixed[1], mixed[0]};
#else
    return sampleBilinearScalar(picture, x, y);
#endif
}

}  // namespace qm
