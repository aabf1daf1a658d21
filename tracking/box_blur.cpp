#include "tracking/box_blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace qm {
namespace {

// Four floats: one pixel of four channels, or one value of four rows.
typedef float F4 __attribute__((vector_size(16)));

F4 load(const float* p) {
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void store(float* p, F4 v) {
    std::memcpy(p, &v, sizeof v);
}

// The horizontal running sum of one row of F4 items (pixels of four channels, or four rows' values side
// by side): `get(i)` reads item i, `put(i, v)` writes it. The sum starts as (r + 1) copies of the first
// item, the next r items and the last one repeated beyond the end.
template <class Get, class Put>
void runningSum(int width, int r, float scale, Get&& get, Put&& put) {
    const int inside = std::min(r, width - 1);
    F4 sum = get(0) * static_cast<float>(r + 1) + get(width - 1) * static_cast<float>(r - inside);
    for (int i = 1; i <= inside; ++i)
        sum += get(i);
    // Three stretches, so that the middle one needs no clamping.
    const int left = std::min(r + 1, width), right = std::max(width - r - 1, left);
    int x = 0;
    for (; x < left; ++x) {
        put(x, sum * scale);
        sum += get(std::min(x + r + 1, width - 1)) - get(0);
    }
    for (; x < right; ++x) {
        put(x, sum * scale);
        sum += get(x + r + 1) - get(x - r);
    }
    for (; x < width; ++x) {
        put(x, sum * scale);
        sum += get(width - 1) - get(std::max(x - r, 0));
    }
}

// Horizontal pass into the packed scratch rows.
void horizontalPass(const float* buffer, int stride, int width, int height, int channels, int r,
                    float* rows) {
    const float scale = 1.0f / static_cast<float>(2 * r + 1);
    const ptrdiff_t packed = static_cast<ptrdiff_t>(width) * channels;
    if (channels == 4) {
        for (int y = 0; y < height; ++y) {
            const float* in = buffer + static_cast<ptrdiff_t>(y) * stride;
            float* out = rows + y * packed;
            runningSum(
                width, r, scale, [&](int i) { return load(in + i * 4); },
                [&](int i, F4 v) { store(out + i * 4, v); });
        }
        return;
    }
    // Other channel counts: each channel of four rows at once, one row per lane.
    int y = 0;
    for (; y + 4 <= height; y += 4)
        for (int c = 0; c < channels; ++c) {
            const float* in[4];
            float* out[4];
            for (int k = 0; k < 4; ++k) {
                in[k] = buffer + static_cast<ptrdiff_t>(y + k) * stride + c;
                out[k] = rows + (y + k) * packed + c;
            }
            runningSum(
                width, r, scale,
                [&](int i) {
                    const int at = i * channels;
                    return F4{in[0][at], in[1][at], in[2][at], in[3][at]};
                },
                [&](int i, F4 v) {
                    const int at = i * channels;
                    out[0][at] = v[0], out[1][at] = v[1], out[2][at] = v[2], out[3][at] = v[3];
                });
        }
    for (; y < height; ++y)
        for (int c = 0; c < channels; ++c) {
            const float* in = buffer + static_cast<ptrdiff_t>(y) * stride + c;
            float* out = rows + y * packed + c;
            runningSum(
                width, r, scale,
                [&](int i) {
                    return F4{in[i * channels], 0, 0, 0};
                },
                [&](int i, F4 v) { out[i * channels] = v[0]; });
        }
}

// The vertical running sums of whole rows at once, from the packed rows back into the buffer.
void verticalPass(const float* rows, int values, int height, int r, float* sums, float* buffer, int stride) {
    const float scale = 1.0f / static_cast<float>(2 * r + 1);
    auto row = [&](int y) { return rows + static_cast<ptrdiff_t>(std::clamp(y, 0, height - 1)) * values; };
    {
        const float* first = row(0);
        const float* last = row(height - 1);
        const int inside = std::min(r, height - 1);
        const float repeats = static_cast<float>(r - inside);
        for (int i = 0; i < values; ++i)
            sums[i] = static_cast<float>(r + 1) * first[i] + repeats * last[i];
        for (int k = 1; k <= inside; ++k) {
            const float* next = row(k);
            for (int i = 0; i < values; ++i)
                sums[i] += next[i];
        }
    }
    for (int y = 0; y < height; ++y) {
        float* __restrict out = buffer + static_cast<ptrdiff_t>(y) * stride;
        const float* __restrict add = row(y + r + 1);
        const float* __restrict drop = row(y - r);
        float* __restrict s = sums;
        for (int i = 0; i < values; ++i) {
            out[i] = s[i] * scale;
            s[i] += add[i] - drop[i];
        }
    }
}

}  // namespace

#if defined(QM_LOOK_AVX2_BUILD)
namespace avx2 {
#endif

int boxBlurRadius(float sigma, int passes) {
    const float k = passes > 1 ? 1.2f : 1.7f;
    const float r = std::floor(k * sigma + 0.5f);
    if (!(r >= 1)) return 1;  // also a NaN sigma
    return static_cast<int>(std::min(r, 1e6f));
}

void boxBlur(float* buffer, int width, int height, int channels, float sigma, int passes,
             BoxBlurScratch& scratch, int rowStride) {
    if (!buffer || width <= 0 || height <= 0 || channels <= 0 || passes <= 0) return;
    const int stride = rowStride > 0 ? rowStride : width * channels;
    const int values = width * channels;
    const int r = boxBlurRadius(sigma, passes);
    const size_t need = static_cast<size_t>(values) * static_cast<size_t>(height);
    if (scratch.rows.size() < need) scratch.rows.resize(need);
    if (scratch.sums.size() < static_cast<size_t>(values)) scratch.sums.resize(static_cast<size_t>(values));
    for (int pass = 0; pass < passes; ++pass) {
        horizontalPass(buffer, stride, width, height, channels, r, scratch.rows.data());
        verticalPass(scratch.rows.data(), values, height, r, scratch.sums.data(), buffer, stride);
    }
}

#if defined(QM_LOOK_AVX2_BUILD)
}  // namespace avx2
#endif

}  // namespace qm
