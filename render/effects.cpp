#include "render/effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// One box pass along a row of `count` pixels of 4 channels, zero outside.
void boxRow(const uint8_t* in, uint8_t* out, int count, int width) {
    const int radius = width / 2;
    const uint32_t scale = (1u << 24) / static_cast<uint32_t>(width);
    uint32_t sum[4] = {0, 0, 0, 0};
    // Window for output 0 covers inputs [-radius, radius].
    for (int i = 0; i <= radius && i < count; ++i)
        for (int c = 0; c < 4; ++c)
            sum[c] += in[i * 4 + c];
    for (int i = 0; i < count; ++i) {
        for (int c = 0; c < 4; ++c)
            out[i * 4 + c] = static_cast<uint8_t>((sum[c] * scale + (1u << 23)) >> 24);
        const int enter = i + radius + 1;
        const int leave = i - radius;
        if (enter < count)
            for (int c = 0; c < 4; ++c)
                sum[c] += in[enter * 4 + c];
        if (leave >= 0)
            for (int c = 0; c < 4; ++c)
                sum[c] -= in[leave * 4 + c];
    }
}

// One box pass down the columns of a whole picture (src and dst distinct), zero outside.
void boxColumns(const PixelView& src, const PixelView& dst, int width, uint32_t* sums) {
    const int radius = width / 2;
    const int n = src.width * 4;
    const uint32_t scale = (1u << 24) / static_cast<uint32_t>(width);
    std::fill(sums, sums + n, 0u);
    for (int y = 0; y <= radius && y < src.height; ++y) {
        const uint8_t* row = src.row(y);
        for (int i = 0; i < n; ++i)
            sums[i] += row[i];
    }
    for (int y = 0; y < src.height; ++y) {
        uint8_t* out = dst.row(y);
        for (int i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>((sums[i] * scale + (1u << 23)) >> 24);
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
    // beyond the border comes back in the later ones exactly as in one true convolution.
    const BoxWidths boxes = boxWidthsForGaussian(sigma);
    const int margin = boxes.width[0] / 2 + boxes.width[1] / 2 + boxes.width[2] / 2;
    const int wideWidth = src.width + 2 * margin, tallHeight = src.height + 2 * margin;
    const size_t wideRowBytes = static_cast<size_t>(wideWidth) * 4;
    if (rowIn_.size() < wideRowBytes) {
        rowIn_.resize(wideRowBytes);
        rowOut_.resize(wideRowBytes);
    }
    if (columnSums_.size() < rowBytes) columnSums_.resize(rowBytes);
    const size_t tallBytes = rowBytes * tallHeight;
    if (passBuffer_.size() < 2 * tallBytes) passBuffer_.resize(2 * tallBytes);
    PixelView a{passBuffer_.data(), src.width, tallHeight, static_cast<int>(rowBytes)};
    PixelView b{passBuffer_.data() + tallBytes, src.width, tallHeight, static_cast<int>(rowBytes)};

    // Rows: three passes over the widened row, its middle kept in the tall buffer.
    std::memset(rowIn_.data(), 0, wideRowBytes);
    for (int y = 0; y < src.height; ++y) {
        std::memcpy(rowIn_.data() + static_cast<size_t>(margin) * 4, src.row(y), rowBytes);
        boxRow(rowIn_.data(), rowOut_.data(), wideWidth, boxes.width[0]);
        boxRow(rowOut_.data(), rowIn_.data(), wideWidth, boxes.width[1]);
        boxRow(rowIn_.data(), rowOut_.data(), wideWidth, boxes.width[2]);
        std::memcpy(a.row(y + margin), rowOut_.data() + static_cast<size_t>(margin) * 4, rowBytes);
        std::memset(rowIn_.data(), 0, wideRowBytes);
    }
    for (int y = 0; y < margin; ++y) {
        std::memset(a.row(y), 0, rowBytes);
        std::memset(a.row(tallHeight - 1 - y), 0, rowBytes);
    }
    // Columns over the tall buffer: a → b → a → b, then the middle rows out.
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
