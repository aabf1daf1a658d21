#include "render/affine_blit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A premultiplied pixel times w / 256 (w 0..256).
inline uint32_t scaled(uint32_t s, uint32_t w) {
    const uint32_t rb = (((s & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t ag = (((s >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
    return rb | ag;
}

#if defined(__SSE2__)
// The bilinear sample of the 2 × 2 taps (top: p00 p01, bottom: p10 p11, each pair in the low 8 bytes) with
// weights wx, wy (0..255), times w / 256, over d; the same arithmetic as mix and over, in 16-bit lanes.
inline uint32_t sampleOver(__m128i top, __m128i bottom, uint32_t wx, uint32_t wy, uint32_t w, uint32_t d) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i t = _mm_unpacklo_epi8(top, zero), b = _mm_unpacklo_epi8(bottom, zero);
    const __m128i v = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(t, _mm_set1_epi16(short(256 - wy))),
                                                   _mm_mullo_epi16(b, _mm_set1_epi16(short(wy)))),
                                     8);
    const short l = short(256 - wx), r = short(wx);
    __m128i h = _mm_mullo_epi16(v, _mm_set_epi16(r, r, r, r, l, l, l, l));
    h = _mm_srli_epi16(_mm_add_epi16(h, _mm_srli_si128(h, 8)), 8);
    if (w < 256) h = _mm_srli_epi16(_mm_mullo_epi16(h, _mm_set1_epi16(short(w))), 8);
    const uint32_t sa = static_cast<uint32_t>(_mm_extract_epi16(h, 3));
    if (sa == 0) return d;
    if (sa < 255) {
        __m128i x = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(d)), zero),
                                    _mm_set1_epi16(short(255 - sa)));
        x = _mm_add_epi16(x, _mm_set1_epi16(128));
        x = _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
        h = _mm_add_epi16(h, x);
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(h, h)));
}
#endif

// Narrows [*from, *to) to the columns c where v0 + dv · (c − x) lies in [lo, hi), with a column to
// spare on each side (the per-pixel test is exact). False when nothing is left.
bool narrowSpan(double v0, double dv, double lo, double hi, int x, int* from, int* to) {
    if (std::fabs(dv) < 1e-12) return v0 >= lo - 1 && v0 < hi + 1;
    double a = x + (lo - v0) / dv, b = x + (hi - v0) / dv;
    if (a > b) std::swap(a, b);
    if (!(a < 1e9)) a = 1e9;
    if (!(b > -1e9)) b = -1e9;
    *from = std::max(*from, static_cast<int>(std::max(std::floor(a), -1e9)) - 1);
    *to = std::min(*to, static_cast<int>(std::min(std::ceil(b), 1e9)) + 1);
    return *from < *to;
}

// Narrows [*from, *to) to the columns whose centre has a · (x + ½) + rest ≥ 0.
bool keepSpan(double a, double rest, int* from, int* to) {
    if (a == 0) return rest >= 0;
    const double edge = -rest / a - 0.5;  // a · (edge + ½) + rest = 0
    if (!(std::fabs(edge) < 1e9)) return (a > 0) == (edge < 0);
    if (a > 0)
        *from = std::max(*from, static_cast<int>(std::ceil(edge)));
    else
        *to = std::min(*to, static_cast<int>(std::floor(edge)) + 1);
    return *from < *to;
}

// Blits one run of target pixels [from, to) of row y.
struct RowBlit {
    const uint8_t* src;
    int srcStride, pw, ph;
    uint32_t* out;
    int32_t du, dv;
    const BlitShape* shape;
    const cairo_matrix_t* inverse;
    double cy, u, v;  // the sample of the row's first pixel (x0), picture pixel-index space
    int x0;
    double stepU, stepV;

    uint32_t fetch(int x, int y) const {
        if (x < 0 || y < 0 || x >= pw || y >= ph) return 0;
        return reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y) * srcStride)[x];
    }

    template <bool Shaped>
    void run(int from, int to) const {
        constexpr double kOne = 65536.0;
        int32_t uf = static_cast<int32_t>(std::lround((u + (from - x0) * stepU) * kOne));
        int32_t vf = static_cast<int32_t>(std::lround((v + (from - x0) * stepV) * kOne));
        // The shape's measures at the first pixel, stepped along the row.
        float fade = 0, fadeStep = 0, hu = 0, huStep = 0, hv = 0, hvStep = 0, inner = 0, ringScale = 0,
              depth = 0;
        bool holed = false;
        if constexpr (Shaped) {
            const double cx = from + 0.5;
            fade = static_cast<float>(shape->fade[0] * cx + shape->fade[1] * cy + shape->fade[2]);
            fadeStep = static_cast<float>(shape->fade[0]);
            depth = static_cast<float>(shape->fadeDepth);
            holed = shape->hole;
            hu = static_cast<float>(shape->holeU[0] * cx + shape->holeU[1] * cy + shape->holeU[2]);
            huStep = static_cast<float>(shape->holeU[0]);
            hv = static_cast<float>(shape->holeV[0] * cx + shape->holeV[1] * cy + shape->holeV[2]);
            hvStep = static_cast<float>(shape->holeV[0]);
            inner = static_cast<float>(std::clamp(shape->holeInner, 0.0, 0.999));
            ringScale = 1 / (1 - inner);
        }
        for (int x = from; x < to; ++x, uf += du, vf += dv) {
            if constexpr (Shaped) {
                if (x > from) fade += fadeStep, hu += huStep, hv += hvStep;
            }
            const int sx = uf >> 16, sy = vf >> 16;  // floor, also below zero
            if (sx < -1 || sy < -1 || sx >= pw || sy >= ph) continue;
            const uint32_t wx = (static_cast<uint32_t>(uf) >> 8) & 0xFF,
                           wy = (static_cast<uint32_t>(vf) >> 8) & 0xFF;
            uint32_t w = 256;
            if constexpr (Shaped) {
                float opacity = 1 - depth * std::clamp(fade, 0.0f, 1.0f);
                if (holed) {
                    const float r2 = hu * hu + hv * hv;
                    if (r2 < 1) opacity *= std::max(0.0f, (std::sqrt(r2) - inner) * ringScale);
                }
                w = static_cast<uint32_t>(opacity * 256 + 0.5f);
                if (w == 0) continue;
            }
            const bool inside = sx >= 0 && sy >= 0 && sx + 1 < pw && sy + 1 < ph;
            const uint32_t* row =
                inside ? reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(sy) * srcStride) + sx
                       : nullptr;
            const uint32_t* next =
                inside ? reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(row) + srcStride)
                       : nullptr;
#if defined(__SSE2__)
            __m128i top, bottom;
            if (inside) {
                top = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row));
                bottom = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(next));
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(top, bottom), _mm_setzero_si128())) ==
                    0xFFFF)
                    continue;  // clear: nothing to draw
            } else {
                top =
                    _mm_set_epi32(0, 0, static_cast<int>(fetch(sx + 1, sy)), static_cast<int>(fetch(sx, sy)));
                bottom = _mm_set_epi32(0, 0, static_cast<int>(fetch(sx + 1, sy + 1)),
                                       static_cast<int>(fetch(sx, sy + 1)));
            }
            out[x] = sampleOver(top, bottom, wx, wy, w, out[x]) | 0xFF000000u;
#else
            uint32_t p00, p01, p10, p11;
            if (inside) {
                p00 = row[0], p01 = row[1], p10 = next[0], p11 = next[1];
                if ((p00 | p01 | p10 | p11) == 0) continue;  // clear: nothing to draw
            } else {
                p00 = fetch(sx, sy), p01 = fetch(sx + 1, sy), p10 = fetch(sx, sy + 1),
                p11 = fetch(sx + 1, sy + 1);
            }
            uint32_t s = mix(mix(p00, p01, wx), mix(p10, p11, wx), wy);
            if (w < 256) s = scaled(s, w);
            out[x] = over(s, out[x]) | 0xFF000000u;
#endif
        }
    }
    void operator()(int from, int to) const {
        if (from >= to) return;
        if (shape)
            run<true>(from, to);
        else
            run<false>(from, to);
    }
};

}  // namespace

void measureRowSpans(cairo_surface_t* picture, int firstRow, int rowCount, RowSpan* spans) {
    cairo_surface_flush(picture);
    const uint8_t* data = cairo_image_surface_get_data(picture);
    const int w = cairo_image_surface_get_width(picture), stride = cairo_image_surface_get_stride(picture);
    for (int y = firstRow; y < firstRow + rowCount; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        RowSpan span;
        int x = 0;
        while (x < w && row[x] == 0)
            ++x;
        span.left = static_cast<int16_t>(x);
        int right = w;
        while (right > x && row[right - 1] == 0)
            --right;
        span.right = static_cast<int16_t>(right);
        // The widest clear run inside.
        int best = 0;
        for (int i = x; i < right;) {
            if (row[i] != 0) {
                ++i;
                continue;
            }
            int j = i;
            while (j < right && row[j] == 0)
                ++j;
            if (j - i > best)
                best = j - i, span.gapLeft = static_cast<int16_t>(i), span.gapRight = static_cast<int16_t>(j);
            i = j;
        }
        spans[y] = span;
    }
}

bool drawPictureAffine(cairo_surface_t* target, cairo_surface_t* picture,
                       const cairo_matrix_t& pictureToTarget, const BlitShape* shape, const RowSpan* spans) {
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
    int x0 = std::max(0, static_cast<int>(std::floor(std::max(minX, -1.0))) - 1);
    int x1 = std::min(tw, static_cast<int>(std::ceil(std::min(maxX, double(tw)))) + 1);
    int y0 = std::max(0, static_cast<int>(std::floor(std::max(minY, -1.0))) - 1);
    int y1 = std::min(th, static_cast<int>(std::ceil(std::min(maxY, double(th)))) + 1);
    if (shape) {
        x0 = std::max(x0, shape->clipLeft), x1 = std::min(x1, shape->clipRight);
        y0 = std::max(y0, shape->clipTop), y1 = std::min(y1, shape->clipBottom);
    }
    if (x0 >= x1 || y0 >= y1) return true;

    cairo_surface_flush(picture);
    cairo_surface_flush(target);
    uint8_t* dst = cairo_image_surface_get_data(target);
    const int dstStride = cairo_image_surface_get_stride(target);
    constexpr double kOne = 65536.0;
    RowBlit blit{};
    blit.src = cairo_image_surface_get_data(picture);
    blit.srcStride = cairo_image_surface_get_stride(picture);
    blit.pw = pw, blit.ph = ph;
    blit.du = static_cast<int32_t>(std::lround(inverse.xx * kOne));
    blit.dv = static_cast<int32_t>(std::lround(inverse.yx * kOne));
    blit.shape = shape;
    blit.x0 = x0;
    blit.stepU = inverse.xx, blit.stepV = inverse.yx;
    for (int y = y0; y < y1; ++y) {
        const double cy = y + 0.5;
        int from = x0, to = x1;
        // Sample point of the row's first pixel centre, in picture pixel-index space (centres at integers);
        // only the columns whose sample falls on the picture are visited.
        double u = x0 + 0.5, v = cy;
        cairo_matrix_transform_point(&inverse, &u, &v);
        u -= 0.5, v -= 0.5;
        if (!narrowSpan(u, inverse.xx, -1, pw, x0, &from, &to) ||
            !narrowSpan(v, inverse.yx, -1, ph, x0, &from, &to))
            continue;
        if (shape && !keepSpan(shape->keep[0], shape->keep[1] * cy + shape->keep[2], &from, &to)) continue;
        from = std::max(from, x0), to = std::min(to, x1);
        if (from >= to) continue;
        int gapFrom = to, gapTo = to;  // columns known to sample only the clear run inside the rows
        if (spans) {
            // The picture rows this run of the target row samples: their opaque extent, and the clear run
            // they all share.
            const double va = v + (from - x0) * inverse.yx, vb = v + (to - 1 - x0) * inverse.yx;
            const int r0 = std::clamp(static_cast<int>(std::floor(std::min(va, vb))), 0, ph - 1);
            const int r1 = std::clamp(static_cast<int>(std::floor(std::max(va, vb))) + 1, 0, ph - 1);
            int left = pw, right = 0, g0 = 0, g1 = pw;
            for (int r = r0; r <= r1; ++r) {
                left = std::min<int>(left, spans[r].left), right = std::max<int>(right, spans[r].right);
                g0 = std::max<int>(g0, spans[r].gapLeft), g1 = std::min<int>(g1, spans[r].gapRight);
            }
            if (left >= right) continue;
            if (!narrowSpan(u, inverse.xx, left - 1, right, x0, &from, &to)) continue;
            from = std::max(from, x0), to = std::min(to, x1);
            // Both taps inside the clear run: u in [g0, g1 − 1); a column kept on each side.
            if (g1 - 1 - g0 > 4 && std::fabs(inverse.xx) > 1e-9) {
                double a = x0 + (g0 - u) / inverse.xx, b = x0 + (g1 - 1 - u) / inverse.xx;
                if (a > b) std::swap(a, b);
                gapFrom = std::max(from, static_cast<int>(std::ceil(a)) + 1);
                gapTo = std::min(to, static_cast<int>(std::floor(b)) - 1);
                if (gapFrom >= gapTo) gapFrom = gapTo = to;
            }
        }
        blit.out = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride);
        blit.cy = cy, blit.u = u, blit.v = v;
        blit(from, gapFrom);
        blit(gapTo, to);
    }
    cairo_surface_mark_dirty(target);
    return true;
}

}  // namespace qm
