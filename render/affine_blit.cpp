#include "render/affine_blit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qm {

namespace {

// Mixes two pixels with 8-bit weight w of b (0..256), two channels at a time.
inline uint32_t mix(uint32_t a, uint32_t b, uint32_t w) {
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t ag = ((((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w)) & 0xFF00FF00u;
    return rb | ag;
}

// Premultiplied source over destination.
inline uint32_t over(uint32_t s, uint32_t d) {
    const uint32_t sa = s >> 24;
    if (sa == 0) return d;
    if (sa == 255) return s;
    const uint32_t inv = 255 - sa;
    uint32_t rb = (d & 0x00FF00FFu) * inv;
    rb = ((rb + 0x00800080u + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t ag = ((d >> 8) & 0x00FF00FFu) * inv;
    ag = (ag + 0x00800080u + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return s + (rb | ag);
}

}  // namespace

bool drawPictureAffine(cairo_surface_t* target, cairo_surface_t* picture,
                       const cairo_matrix_t& pictureToTarget) {
    cairo_matrix_t inverse = pictureToTarget;
    if (cairo_matrix_invert(&inverse) != CAIRO_STATUS_SUCCESS) return false;
    const int pw = cairo_image_surface_get_width(picture), ph = cairo_image_surface_get_height(picture);
    const int tw = cairo_image_surface_get_width(target), th = cairo_image_surface_get_height(target);
    if (pw <= 0 || ph <= 0 || tw <= 0 || th <= 0) return true;
    // Fixed point 16.16 must hold the picture's coordinates.
    if (pw > 30000 || ph > 30000) return false;

    // The target rows and columns the picture can touch.
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    const double corners[4][2] = {{0, 0}, {double(pw), 0}, {0, double(ph)}, {double(pw), double(ph)}};
    for (const auto& c : corners) {
        double x = c[0], y = c[1];
        cairo_matrix_transform_point(&pictureToTarget, &x, &y);
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y),
        maxY = std::max(maxY, y);
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(std::max(minX, -1.0))) - 1);
    const int x1 = std::min(tw, static_cast<int>(std::ceil(std::min(maxX, double(tw)))) + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(std::max(minY, -1.0))) - 1);
    const int y1 = std::min(th, static_cast<int>(std::ceil(std::min(maxY, double(th)))) + 1);
    if (x0 >= x1 || y0 >= y1) return true;

    cairo_surface_flush(picture);
    cairo_surface_flush(target);
    const uint8_t* src = cairo_image_surface_get_data(picture);
    const int srcStride = cairo_image_surface_get_stride(picture);
    uint8_t* dst = cairo_image_surface_get_data(target);
    const int dstStride = cairo_image_surface_get_stride(target);
    auto fetch = [&](int x, int y) -> uint32_t {
        if (x < 0 || y < 0 || x >= pw || y >= ph) return 0;
        return reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y) * srcStride)[x];
    };

    constexpr double kOne = 65536.0;
    const int32_t du = static_cast<int32_t>(std::lround(inverse.xx * kOne));
    const int32_t dv = static_cast<int32_t>(std::lround(inverse.yx * kOne));
    for (int y = y0; y < y1; ++y) {
        // Sample point of the first pixel's centre, in picture pixel-index space (centres at integers).
        double u = x0 + 0.5, v = y + 0.5;
        cairo_matrix_transform_point(&inverse, &u, &v);
        int32_t uf = static_cast<int32_t>(std::lround((u - 0.5) * kOne));
        int32_t vf = static_cast<int32_t>(std::lround((v - 0.5) * kOne));
        uint32_t* out = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride);
        for (int x = x0; x < x1; ++x, uf += du, vf += dv) {
            const int sx = uf >> 16, sy = vf >> 16;  // floor, also below zero
            if (sx < -1 || sy < -1 || sx >= pw || sy >= ph) continue;
            const uint32_t wx = (static_cast<uint32_t>(uf) >> 8) & 0xFF,
                           wy = (static_cast<uint32_t>(vf) >> 8) & 0xFF;
            uint32_t p00, p01, p10, p11;
            if (sx >= 0 && sy >= 0 && sx + 1 < pw && sy + 1 < ph) {
                const uint32_t* row =
                    reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(sy) * srcStride) + sx;
                const uint32_t* next =
                    reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(row) + srcStride);
                p00 = row[0], p01 = row[1], p10 = next[0], p11 = next[1];
                if ((p00 | p01 | p10 | p11) == 0) continue;  // clear: nothing to draw
            } else {
                p00 = fetch(sx, sy), p01 = fetch(sx + 1, sy), p10 = fetch(sx, sy + 1),
                p11 = fetch(sx + 1, sy + 1);
            }
            const uint32_t s = mix(mix(p00, p01, wx), mix(p10, p11, wx), wy);
            out[x] = over(s, out[x]) | 0xFF000000u;
        }
    }
    cairo_surface_mark_dirty(target);
    return true;
}

}  // namespace qm
