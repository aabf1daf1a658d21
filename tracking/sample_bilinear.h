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

// R, G, B in 0..255 at (x, y), pixel centres at whole numbers. Outside [0, W-1] × [0, H-1] (and for a NaN
// position) the result is black; at the last row or column the missing neighbour is the edge pixel.
inline Rgb sampleBilinearScalar(const SourcePicture& picture, float x, float y) {
    // Written as a negated "inside" test so that NaN positions land outside.
    if (!(x >= 0 && y >= 0 && x <= static_cast<float>(picture.width - 1) &&
          y <= static_cast<float>(picture.height - 1)))
        return {};
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = x0 + 1 < picture.width ? x0 + 1 : picture.width - 1;
    const int y1 = y0 + 1 < picture.height ? y0 + 1 : picture.height - 1;
    const float fx = x - static_cast<float>(x0);
    const float fy = y - static_cast<float>(y0);
    const uint8_t* top = picture.pixels + static_cast<ptrdiff_t>(y0) * picture.stride;
    const uint8_t* bottom = picture.pixels + static_cast<ptrdiff_t>(y1) * picture.stride;
    const uint8_t* a = top + x0 * 4;
    const uint8_t* b = top + x1 * 4;
    const uint8_t* c = bottom + x0 * 4;
    const uint8_t* d = bottom + x1 * 4;
    // Mixed along x on both rows, then along y: the same bilinear weights in six multiplications.
    auto mix = [&](int channel) {
        const float upper = a[channel] + fx * static_cast<float>(b[channel] - a[channel]);
        const float lower = c[channel] + fx * static_cast<float>(d[channel] - c[channel]);
        return upper + fy * (lower - upper);
    };
    return {mix(2), mix(1), mix(0)};
}

// The same samples, the three channels in one vector: the same operations in the same order on each
// lane, so the values are identical to the scalar ones (the models' inputs do not change), about twice
// as fast. The model input fills read every pixel of their input through it.
inline Rgb sampleBilinear(const SourcePicture& picture, float x, float y) {
#if defined(__SSE2__)
    if (!(x >= 0 && y >= 0 && x <= static_cast<float>(picture.width - 1) &&
          y <= static_cast<float>(picture.height - 1)))
        return {};
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = x0 + 1 < picture.width ? x0 + 1 : picture.width - 1;
    const int y1 = y0 + 1 < picture.height ? y0 + 1 : picture.height - 1;
    const __m128 fx = _mm_set1_ps(x - static_cast<float>(x0));
    const __m128 fy = _mm_set1_ps(y - static_cast<float>(y0));
    const uint8_t* top = picture.pixels + static_cast<ptrdiff_t>(y0) * picture.stride;
    const uint8_t* bottom = picture.pixels + static_cast<ptrdiff_t>(y1) * picture.stride;
    const __m128i zero = _mm_setzero_si128();
    auto pixel = [&](const uint8_t* p) {
        int32_t bytes;
        std::memcpy(&bytes, p, 4);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
    };
    const __m128i a = pixel(top + x0 * 4), b = pixel(top + x1 * 4);
    const __m128i c = pixel(bottom + x0 * 4), d = pixel(bottom + x1 * 4);
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
