#include "render/effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace qm {

BoxWidths boxWidthsForGaussian(float sigma) {
    // Three boxes of widths wl or wl + 2 whose variances add up to sigma²: m of them of width wl.
    constexpr int n = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int wl = static_cast<int>(std::floor(ideal));
    if (wl % 2 == 0) wl -= 1;
    if (wl < 1) wl = 1;
    const int wu = wl + 2;
    const double mIdeal = (12.0 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4.0);
    const int m = static_cast<int>(std::lround(mIdeal));
    BoxWidths widths{};
    for (int i = 0; i < n; ++i)
        widths.width[i] = i < m ? wl : wu;
    return widths;
}

namespace {

// Writes the transpose of src (pixel (x, y) → (y, x)) into dst, in cache-sized tiles.
void transpose(const PixelView& src, const PixelView& dst) {
    constexpr int kTile = 16;
    for (int y0 = 0; y0 < src.height; y0 += kTile)
        for (int x0 = 0; x0 < src.width; x0 += kTile) {
            const int y1 = std::min(src.height, y0 + kTile), x1 = std::min(src.width, x0 + kTile);
            for (int y = y0; y < y1; ++y) {
                const uint32_t* in = reinterpret_cast<const uint32_t*>(src.row(y));
                for (int x = x0; x < x1; ++x)
                    reinterpret_cast<uint32_t*>(dst.row(x))[y] = in[x];
            }
        }
}

// One box pass down the columns of a whole picture (src and dst distinct), zero outside. With sums of
// at most 16 bits (boxes up to 257 wide) the mean is a 16-bit multiply-high, which vectorises everywhere.
template <typename Sum>
void boxColumnsWith(const PixelView& src, const PixelView& dst, int width, Sum* sums) {
    const int radius = width / 2;
    const int n = src.width * 4;
    constexpr int kShift = sizeof(Sum) == 2 ? 16 : 24;
    using Wide = std::conditional_t<sizeof(Sum) == 2, uint32_t, uint64_t>;
    // Rounded up, so that a full box of 255 still gives 255 after the truncating shift; the sums start at
    // half a box so that the shift rounds to nearest.
    const Sum scale = static_cast<Sum>(((Wide{1} << kShift) + width - 1) / width);
    std::fill(sums, sums + n, static_cast<Sum>(width / 2));
    for (int y = 0; y <= radius && y < src.height; ++y) {
        const uint8_t* row = src.row(y);
        for (int i = 0; i < n; ++i)
            sums[i] += row[i];
    }
    for (int y = 0; y < src.height; ++y) {
        uint8_t* out = dst.row(y);
        for (int i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>((Wide{sums[i]} * scale) >> kShift);
        const int enter = y + radius + 1;
        const int leave = y - radius;
        if (enter < src.height) {
            const uint8_t* row = src.row(enter);
            for (int i = 0; i < n; ++i)
                sums[i] += row[i];
        }
        if (leave >= 0) {
            const uint8_t* row = src.row(leave);
            for (int i = 0; i < n; ++i)
                sums[i] -= row[i];
        }
    }
}

void boxColumns(const PixelView& src, const PixelView& dst, int width, uint32_t* sums) {
    if (width == 1) {
        for (int y = 0; y < src.height; ++y)
            std::memcpy(dst.row(y), src.row(y), static_cast<size_t>(src.width) * 4);
    } else if (width <= 257)
        boxColumnsWith(src, dst, width, reinterpret_cast<uint16_t*>(sums));
    else
        boxColumnsWith(src, dst, width, sums);
}

}  // namespace

void GaussianBlur::apply(const PixelView& src, const PixelView& dst, float sigma) {
    if (src.width <= 0 || src.height <= 0) return;
    const size_t rowBytes = static_cast<size_t>(src.width) * 4;
    if (!(sigma >= 0.3f)) {
        if (src.data != dst.data)
            for (int y = 0; y < src.height; ++y)
                std::memcpy(dst.row(y), src.row(y), rowBytes);
        return;
    }
    // The passes run over a domain widened by the sum of their radii, so what the first pass spreads
    // beyond the border comes back in the later ones exactly as in one true convolution. Every pass runs
    // down columns, where it works on whole rows at once; the horizontal ones on the transposed picture.
    const BoxWidths boxes = boxWidthsForGaussian(sigma);
    const int margin = boxes.width[0] / 2 + boxes.width[1] / 2 + boxes.width[2] / 2;
    const size_t transposedBytes = static_cast<size_t>(src.height) * 4 * (src.width + 2 * margin);
    const size_t tallBytes = rowBytes * (src.height + 2 * margin);
    const size_t half = std::max(transposedBytes, tallBytes);
    if (passBuffer_.size() < 2 * half) passBuffer_.resize(2 * half);
    if (columnSums_.size() < static_cast<size_t>(std::max(src.width, src.height)) * 4)
        columnSums_.resize(static_cast<size_t>(std::max(src.width, src.height)) * 4);
    uint8_t* first = passBuffer_.data();
    uint8_t* second = passBuffer_.data() + half;

    // Horizontal: transpose into the middle of a widened buffer, three passes, transpose back.
    const int transposedStride = src.height * 4;
    PixelView t1{first, src.height, src.width + 2 * margin, transposedStride};
    PixelView t2{second, src.height, src.width + 2 * margin, transposedStride};
    std::memset(first, 0, static_cast<size_t>(margin) * transposedStride);
    std::memset(t1.row(margin + src.width), 0, static_cast<size_t>(margin) * transposedStride);
    transpose(src, PixelView{t1.row(margin), src.height, src.width, transposedStride});
    boxColumns(t1, t2, boxes.width[0], columnSums_.data());
    boxColumns(t2, t1, boxes.width[1], columnSums_.data());
    boxColumns(t1, t2, boxes.width[2], columnSums_.data());
    // Back into the middle of a tall buffer for the vertical passes.
    PixelView a{first, src.width, src.height + 2 * margin, static_cast<int>(rowBytes)};
    PixelView b{second, src.width, src.height + 2 * margin, static_cast<int>(rowBytes)};
    // t2 holds the horizontal result; it goes to `first` (t1 is no longer needed).
    transpose(PixelView{t2.row(margin), src.height, src.width, transposedStride},
              PixelView{a.row(margin), src.width, src.height, static_cast<int>(rowBytes)});
    std::memset(a.row(0), 0, static_cast<size_t>(margin) * rowBytes);
    std::memset(a.row(margin + src.height), 0, static_cast<size_t>(margin) * rowBytes);
    // Vertical: a → b → a → b, then the middle rows out.
    boxColumns(a, b, boxes.width[0], columnSums_.data());
    boxColumns(b, a, boxes.width[1], columnSums_.data());
    boxColumns(a, b, boxes.width[2], columnSums_.data());
    for (int y = 0; y < src.height; ++y)
        std::memcpy(dst.row(y), b.row(y + margin), rowBytes);
}

void applyColourMatrix(const ColourMatrix& matrix, const PixelView& src, const PixelView& dst) {
    const float* m = matrix.m;
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y);
        for (int x = 0; x < src.width; ++x, in += 4, out += 4) {
            const float a = in[3] / 255.0f;
            const float unpremultiply = a > 0 ? 1.0f / (a * 255.0f) : 0.0f;
            const float r = in[2] * unpremultiply, g = in[1] * unpremultiply, b = in[0] * unpremultiply;
            float o[4];
            for (int c = 0; c < 4; ++c)
                o[c] = std::clamp(r * m[c] + g * m[4 + c] + b * m[8 + c] + a * m[12 + c] + m[16 + c], 0.0f,
                                  1.0f);
            const float alpha = o[3] * 255.0f;
            out[0] = static_cast<uint8_t>(o[2] * alpha + 0.5f);
            out[1] = static_cast<uint8_t>(o[1] * alpha + 0.5f);
            out[2] = static_cast<uint8_t>(o[0] * alpha + 0.5f);
            out[3] = static_cast<uint8_t>(alpha + 0.5f);
        }
    }
}

int shadowMargin(float sigma) {
    return static_cast<int>(std::ceil(3.0f * std::max(sigma, 0.0f)));
}

void makeShadow(const PixelView& src, const PixelView& dst, float sigma, const float colour[4],
                GaussianBlur& blur) {
    const int margin = shadowMargin(sigma);
    for (int y = 0; y < dst.height; ++y)
        std::memset(dst.row(y), 0, static_cast<size_t>(dst.width) * 4);
    for (int y = 0; y < src.height && y + margin < dst.height; ++y) {
        const uint8_t* in = src.row(y);
        uint8_t* out = dst.row(y + margin) + static_cast<size_t>(margin) * 4;
        for (int x = 0; x < src.width && x + margin < dst.width; ++x)
            std::memset(out + x * 4, in[x * 4 + 3], 4);
    }
    blur.apply(dst, dst, sigma);
    const float alphaScale = std::clamp(colour[3], 0.0f, 1.0f);
    for (int y = 0; y < dst.height; ++y) {
        uint8_t* p = dst.row(y);
        for (int x = 0; x < dst.width; ++x, p += 4) {
            const float a = p[3] * alphaScale;
            p[0] = static_cast<uint8_t>(std::clamp(colour[2], 0.0f, 1.0f) * a + 0.5f);
            p[1] = static_cast<uint8_t>(std::clamp(colour[1], 0.0f, 1.0f) * a + 0.5f);
            p[2] = static_cast<uint8_t>(std::clamp(colour[0], 0.0f, 1.0f) * a + 0.5f);
            p[3] = static_cast<uint8_t>(a + 0.5f);
        }
    }
}

}  // namespace qm
