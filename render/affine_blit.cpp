#include "render/affine_blit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/row_helper.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
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

bool gVectorBlit = true;

#if defined(__x86_64__)
#define QM_HAS_BLIT4 1
bool processorHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Two pixels' bilinear samples, one per 128-bit lane (its taps unpacked to 16-bit lanes, p00 p01 of the
// row and of the row below), with each pixel's vertical weight y and horizontal weights l l l l r r r r:
// the four channels land in the low 64 bits of each lane.
__attribute__((target("avx2"), always_inline)) inline __m256i sampleTwo(__m256i t, __m256i b, __m256i y,
                                                                        __m256i lr) {
    const __m256i vertical =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(t, _mm256_sub_epi16(_mm256_set1_epi16(256), y)),
                                           _mm256_mullo_epi16(b, y)),
                          8);
    const __m256i h = _mm256_mullo_epi16(vertical, lr);
    return _mm256_srli_epi16(_mm256_add_epi16(h, _mm256_srli_si256(h, 8)), 8);
}

// Four target pixels at once, all four with every tap inside the picture (the caller checks): the
// arithmetic of sampleOver with w = 256, lane for lane, so the pixels come out identical.
__attribute__((target("avx2"))) void blit4(const uint8_t* src, int srcStride, int32_t uf, int32_t vf,
                                           int32_t du, int32_t dv, uint32_t* out) {
    const __m128i steps = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i u = _mm_add_epi32(_mm_set1_epi32(uf), _mm_mullo_epi32(steps, _mm_set1_epi32(du)));
    const __m128i v = _mm_add_epi32(_mm_set1_epi32(vf), _mm_mullo_epi32(steps, _mm_set1_epi32(dv)));
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128i wx = _mm_and_si128(_mm_srli_epi32(u, 8), byte),
                  wy = _mm_and_si128(_mm_srli_epi32(v, 8), byte);
    // Each pixel's two taps of the row and of the row below, one 64-bit lane per pixel. Plain loads:
    // the gather instruction is slower than four of them on some processors.
    auto taps = [&](int i) {
        const int32_t pu = uf + i * du, pv = vf + i * dv;
        return src + static_cast<ptrdiff_t>(pv >> 16) * srcStride + (pu >> 16) * 4;
    };
    const uint8_t* p0 = taps(0);
    const uint8_t* p1 = taps(1);
    const uint8_t* p2 = taps(2);
    const uint8_t* p3 = taps(3);
    auto pair = [](const uint8_t* a, const uint8_t* b) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    };
    const __m256i top = _mm256_inserti128_si256(_mm256_castsi128_si256(pair(p0, p1)), pair(p2, p3), 1);
    const __m256i bottom =
        _mm256_inserti128_si256(_mm256_castsi128_si256(pair(p0 + srcStride, p1 + srcStride)),
                                pair(p2 + srcStride, p3 + srcStride), 1);
    const __m256i zero = _mm256_setzero_si256();

    // Weights in 16-bit lanes. Pixels 0 and 2 sit in the low halves of the 128-bit lanes after unpacking,
    // 1 and 3 in the high ones.
    const __m256i wy16 = _mm256_broadcastsi128_si256(_mm_packus_epi32(wy, wy));  // y0..y3 twice
    const __m256i lr16 = _mm256_broadcastsi128_si256(
        _mm_packus_epi32(_mm_sub_epi32(_mm_set1_epi32(256), wx), wx));  // l0..l3 r0..r3
    const __m256i pickY02 = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5,
                                             4, 5, 4, 5, 4, 5, 4, 5, 4, 5);
    const __m256i pickY13 = _mm256_setr_epi8(2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 6, 7, 6, 7, 6, 7,
                                             6, 7, 6, 7, 6, 7, 6, 7, 6, 7);
    const __m256i pickX02 = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 4, 5, 4, 5, 4, 5,
                                             4, 5, 12, 13, 12, 13, 12, 13, 12, 13);
    const __m256i pickX13 = _mm256_setr_epi8(2, 3, 2, 3, 2, 3, 2, 3, 10, 11, 10, 11, 10, 11, 10, 11, 6, 7, 6,
                                             7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15);
    const __m256i h02 = sampleTwo(_mm256_unpacklo_epi8(top, zero), _mm256_unpacklo_epi8(bottom, zero),
                                  _mm256_shuffle_epi8(wy16, pickY02), _mm256_shuffle_epi8(lr16, pickX02));
    const __m256i h13 = sampleTwo(_mm256_unpackhi_epi8(top, zero), _mm256_unpackhi_epi8(bottom, zero),
                                  _mm256_shuffle_epi8(wy16, pickY13), _mm256_shuffle_epi8(lr16, pickX13));
    const __m256i h = _mm256_unpacklo_epi64(h02, h13);  // pixels 0 1 | 2 3, four 16-bit channels each

    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    const __m256i d = _mm256_cvtepu8_epi16(before);  // pixels 0 1 | 2 3
    const __m256i alpha =
        _mm256_shuffle_epi8(h, _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7,
                                                6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15));
    __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(d, _mm256_sub_epi16(_mm256_set1_epi16(255), alpha)),
                                 _mm256_set1_epi16(128));
    x = _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_add_epi16(h, x), zero), 0x08);
    const __m256i noAlpha =
        _mm256_permute4x64_epi64(_mm256_packs_epi16(_mm256_cmpeq_epi16(alpha, zero), zero), 0x08);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    __m128i result = _mm_or_si128(_mm256_castsi256_si128(packed), opaque);
    // A sample with no alpha leaves the pixel as it was (made opaque); clear taps leave it untouched.
    result = _mm_blendv_epi8(result, _mm_or_si128(before, opaque), _mm256_castsi256_si128(noAlpha));
    const __m256i clear64 = _mm256_cmpeq_epi64(_mm256_or_si256(top, bottom), zero);
    const __m128i clear = _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(clear64, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
    result = _mm_blendv_epi8(result, before, clear);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), result);
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
#if defined(QM_HAS_BLIT4)
        const bool four = !Shaped && gVectorBlit && processorHasAvx2();
#endif
        for (int x = from; x < to; ++x, uf += du, vf += dv) {
#if defined(QM_HAS_BLIT4)
            // Groups of four whose taps all lie inside the picture go through the vector path; the
            // picture's edges and the rest of the row go one by one.
            while (four && to - x >= 4) {
                const int32_t lastU = uf + 3 * du, lastV = vf + 3 * dv;
                const int sx0 = uf >> 16, sy0 = vf >> 16, sx3 = lastU >> 16, sy3 = lastV >> 16;
                if (std::min(sx0, sx3) < 0 || std::min(sy0, sy3) < 0 || std::max(sx0, sx3) + 1 >= pw ||
                    std::max(sy0, sy3) + 1 >= ph)
                    break;
                blit4(src, srcStride, uf, vf, du, dv, out + x);
                x += 4, uf += 4 * du, vf += 4 * dv;
            }
            if (x >= to) break;
#endif
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
        // A shape that neither fades nor has a hole only limits where the blit draws (done before the
        // run): its pixels are drawn whole, like the plain path's.
        if (shape && (shape->fadeDepth != 0 || shape->hole))
            run<true>(from, to);
        else
            run<false>(from, to);
    }
};

}  // namespace

void useVectorBlit(bool on) {
    gVectorBlit = on;
}

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
    auto drawRows = [&](int firstRow, int endRow, int) {
        RowBlit rows = blit;  // each part steps its own copy along its rows
        for (int y = firstRow; y < endRow; ++y) {
            const double cy = y + 0.5;
            int from = x0, to = x1;
            // Sample point of the row's first pixel centre, in picture pixel-index space (centres at
            // integers); only the columns whose sample falls on the picture are visited.
            double u = x0 + 0.5, v = cy;
            cairo_matrix_transform_point(&inverse, &u, &v);
            u -= 0.5, v -= 0.5;
            if (!narrowSpan(u, inverse.xx, -1, pw, x0, &from, &to) ||
                !narrowSpan(v, inverse.yx, -1, ph, x0, &from, &to))
                continue;
            if (shape && !keepSpan(shape->keep[0], shape->keep[1] * cy + shape->keep[2], &from, &to))
                continue;
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
            rows.out = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride);
            rows.cy = cy, rows.u = u, rows.v = v;
            rows(from, gapFrom);
            rows(gapTo, to);
        }
    };
    forRows(y0, y1, x1 - x0, drawRows);  // the rows are independent: a large blit shares them
    cairo_surface_mark_dirty(target);
    return true;
}

}  // namespace qm
