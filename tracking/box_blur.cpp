#include "tracking/box_blur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace qm {
namespace {

// One horizontal running sum over `Rows` rows at once: their sums are independent, so the additions of
// one row do not wait for the previous pixel's of another.
template <int C, int Rows>
void horizontalRows(const float* const* in, float* const* out, int width, int r, float scale) {
    float sum[Rows][C];
    for (int k = 0; k < Rows; ++k)
        for (int c = 0; c < C; ++c) {
            // (r + 1) copies of the first value, the next r values, the last one repeated beyond the end.
            const int inside = std::min(r, width - 1);
            float s = static_cast<float>(r + 1) * in[k][c] +
                      static_cast<float>(r - inside) * in[k][(width - 1) * C + c];
            for (int i = 1; i <= inside; ++i)
                s += in[k][i * C + c];
            sum[k][c] = s;
        }
    for (int x = 0; x < width; ++x) {
        const int add = std::min(x + r + 1, width - 1) * C;
        const int drop = std::max(x - r, 0) * C;
        for (int k = 0; k < Rows; ++k)
            for (int c = 0; c < C; ++c) {
                out[k][x * C + c] = sum[k][c] * scale;
                sum[k][c] += in[k][add + c] - in[k][drop + c];
            }
    }
}

template <int C>
void horizontalPass(const float* buffer, int stride, int width, int height, int r, float* rows) {
    const float scale = 1.0f / static_cast<float>(2 * r + 1);
    const ptrdiff_t packed = static_cast<ptrdiff_t>(width) * C;
    int y = 0;
    for (; y + 4 <= height; y += 4) {
        const float* in[4];
        float* out[4];
        for (int k = 0; k < 4; ++k) {
            in[k] = buffer + static_cast<ptrdiff_t>(y + k) * stride;
            out[k] = rows + (y + k) * packed;
        }
        horizontalRows<C, 4>(in, out, width, r, scale);
    }
    for (; y < height; ++y) {
        const float* in[1] = {buffer + static_cast<ptrdiff_t>(y) * stride};
        float* out[1] = {rows + y * packed};
        horizontalRows<C, 1>(in, out, width, r, scale);
    }
}

// The vertical running sums of a whole row at once, from the packed rows back into the buffer.
void verticalPass(const float* rows, int values, int height, int r, float* sums, float* buffer, int stride) {
    const float scale = 1.0f / static_cast<float>(2 * r + 1);
    auto row = [&](int y) { return rows + static_cast<ptrdiff_t>(std::clamp(y, 0, height - 1)) * values; };
    {
        const float* first = row(0);
        for (int i = 0; i < values; ++i)
            sums[i] = static_cast<float>(r + 1) * first[i];
        const int inside = std::min(r, height - 1);
        const float* last = row(height - 1);
        const float repeats = static_cast<float>(r - inside);
        for (int i = 0; i < values; ++i)
            sums[i] += repeats * last[i];
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
        switch (channels) {
            case 1:
                horizontalPass<1>(buffer, stride, width, height, r, scratch.rows.data());
                break;
            case 3:
                horizontalPass<3>(buffer, stride, width, height, r, scratch.rows.data());
                break;
            default:
                // Any other count: each channel as its own interleaved plane, one at a time.
                for (int y = 0; y < height; ++y)
                    for (int c = 0; c < channels; ++c) {
                        const float* in = buffer + static_cast<ptrdiff_t>(y) * stride + c;
                        float* out = scratch.rows.data() + static_cast<ptrdiff_t>(y) * values + c;
                        const int inside = std::min(r, width - 1);
                        float sum = static_cast<float>(r + 1) * in[0] +
                                    static_cast<float>(r - inside) * in[(width - 1) * channels];
                        for (int i = 1; i <= inside; ++i)
                            sum += in[i * channels];
                        const float scale = 1.0f / static_cast<float>(2 * r + 1);
                        for (int x = 0; x < width; ++x) {
                            out[x * channels] = sum * scale;
                            sum += in[std::min(x + r + 1, width - 1) * channels] -
                                   in[std::max(x - r, 0) * channels];
                        }
                    }
                break;
        }
        verticalPass(scratch.rows.data(), values, height, r, scratch.sums.data(), buffer, stride);
    }
}

}  // namespace qm
