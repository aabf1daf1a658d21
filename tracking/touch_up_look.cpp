#include "tracking/touch_up_look.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/filter_types.h"
#include "tracking/face_geometry.h"
#include "tracking/sample_bilinear.h"

// The pixel work is built twice: for any x86-64 processor and, in touch_up_look_avx2.cpp, for those
// with AVX2 and FMA (QM_LOOK_AVX2_BUILD), in namespace avx2 with its own box blur; applyLookParameters
// picks one at run time. Both give the same picture but for rounding.
#if defined(QM_LOOK_AVX2_BUILD)
#define QM_LOOK_ISA avx2
#else
#define QM_LOOK_ISA portable
#endif

namespace qm {
#if defined(QM_LOOK_AVX2_BUILD)
namespace avx2 {
int boxBlurRadius(float sigma, int passes);
void boxBlur(float* buffer, int width, int height, int channels, float sigma, int passes,
             BoxBlurScratch& scratch, int rowStride = 0);
}  // namespace avx2
#endif

// The work on a region that has passed every check (see applyLookParameters), per build.
namespace portable {
LookRegion lookKernels(LookBuffers& buf, const LookPixels& frame, const LandmarkSet& set,
                       const FaceGeometry& face, const LookParameters& p, const LookRegion& roi);
}
namespace avx2 {
LookRegion lookKernels(LookBuffers& buf, const LookPixels& frame, const LandmarkSet& set,
                       const FaceGeometry& face, const LookParameters& p, const LookRegion& roi);
}

namespace QM_LOOK_ISA {
namespace {

// The box blur of this build (qualified: the scratch's namespace would bring in the other one too).
void blurBox(float* buffer, int width, int height, int channels, float sigma, int passes,
             BoxBlurScratch& scratch, int rowStride) {
#if defined(QM_LOOK_AVX2_BUILD)
    avx2::boxBlur(buffer, width, height, channels, sigma, passes, scratch, rowStride);
#else
    qm::boxBlur(buffer, width, height, channels, sigma, passes, scratch, rowStride);
#endif
}

// An effect runs only above this value.
constexpr float kRuns = 0.01f;

// The region image and the layers keep one pixel in four floats (R, G, B and a spare lane that nothing
// reads), so that a pixel is one vector.
typedef float F4 __attribute__((vector_size(16)));
typedef int I4 __attribute__((vector_size(16)));

F4 load(const float* p) {
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void store(float* p, F4 v) {
    std::memcpy(p, &v, sizeof v);
}
F4 splat(float v) {
    return F4{v, v, v, v};
}
F4 min4(F4 a, F4 b) {
    return a < b ? a : b;
}
F4 max4(F4 a, F4 b) {
    return a > b ? a : b;
}
F4 clamp4(F4 v) {
    return min4(max4(v, splat(0)), splat(1));
}

// Landmark lists of the make-up, per eye side: the side of landmark 33 first.
namespace look_points {
constexpr int kUpperLid[2][9] = {{133, 173, 157, 158, 159, 160, 161, 246, 33},
                                 {362, 398, 384, 385, 386, 387, 388, 466, 263}};
constexpr int kCrease[2][7] = {{189, 221, 222, 223, 224, 225, 113}, {413, 441, 442, 443, 444, 445, 342}};
constexpr int kLowerLid[2][9] = {{33, 7, 163, 144, 145, 153, 154, 155, 133},
                                 {263, 249, 390, 373, 374, 380, 381, 382, 362}};
constexpr int kUnderEye[2][6] = {{121, 120, 119, 118, 117, 111}, {350, 349, 348, 347, 346, 340}};
constexpr int kBrow[2][10] = {{70, 63, 105, 66, 107, 55, 65, 52, 53, 46},
                              {300, 293, 334, 296, 336, 285, 295, 282, 283, 276}};
constexpr int kCheek[2] = {50, 280};
constexpr int kJawChain[2][7] = {{152, 148, 176, 149, 150, 136, 172}, {397, 365, 379, 378, 400, 377, 152}};
constexpr int kOuterLips[20] = {61,  185, 40,  39,  37,  0,  267, 269, 270, 409,
                                291, 375, 321, 405, 314, 17, 84,  181, 91,  146};
constexpr int kInnerLips[20] = {78,  191, 80,  81,  82,  13, 312, 311, 310, 415,
                                308, 324, 318, 402, 317, 14, 87,  178, 88,  95};
constexpr int kFaceSideLeft = 234, kFaceSideRight = 454;
}  // namespace look_points

constexpr LookParameters kBase[3] = {
    {0.65f, 0.45f, 0.35f, 0.2f, 0.15f, 0.15f, 0.15f, 0.0f, 0.0f, 0.22f, 0.5f, 0.2f, 0.0f, 0.0f},
    {0.8f, 0.6f, 0.7f, 0.5f, 0.35f, 0.6f, 0.45f, 0.5f, 0.45f, 0.55f, 0.7f, 0.5f, 0.35f, 0.0f},
    {0.9f, 0.7f, 0.85f, 0.65f, 0.5f, 0.85f, 0.8f, 1.0f, 0.75f, 1.0f, 0.8f, 0.7f, 0.8f, 0.0f},
};

struct Colour {
    float r, g, b;
};

float clamp01(float v) {
    return std::min(std::max(v, 0.0f), 1.0f);
}

float lengthOf(Point2 d) {
    return std::sqrt(d.x * d.x + d.y * d.y);
}

Point2 minus(Point2 a, Point2 b) {
    return {a.x - b.x, a.y - b.y};
}

// A float pixel coordinate as a whole one, clamped into [lo, hi] before the conversion (no overflow).
int floorClamped(float v, int lo, int hi) {
    if (!(v >= static_cast<float>(lo))) return lo;
    if (v >= static_cast<float>(hi)) return hi;
    return static_cast<int>(std::floor(v));
}

// Pixel rectangle, inclusive bounds.
struct Box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
    bool empty() const { return x1 < x0 || y1 < y0; }
    void add(const Box& b) {
        if (b.empty()) return;
        if (empty()) {
            *this = b;
            return;
        }
        x0 = std::min(x0, b.x0), y0 = std::min(y0, b.y0);
        x1 = std::max(x1, b.x1), y1 = std::max(y1, b.y1);
    }
};

// The pixels whose centres may lie within [minX, maxX] × [minY, maxY], clipped to the region.
Box boxAround(float minX, float minY, float maxX, float maxY, int width, int height) {
    return {floorClamped(minX - 0.5f, 0, width), floorClamped(minY - 0.5f, 0, height),
            floorClamped(maxX + 0.5f, -1, width - 1), floorClamped(maxY + 0.5f, -1, height - 1)};
}

// The face's own frame and the region, for the positions the steps name.
struct Layout {
    int width = 0, height = 0;  // region
    float originX = 0, originY = 0;
    Point2 eyeMid;  // region-local
    float o = 0;    // eye distance
    float downDist = 0;
    float roll = 0, c = 1, s = 0;
    const LandmarkSet* set = nullptr;

    // A face offset (X along the eye line, Y down the face) as a region-local point.
    Point2 at(float x, float y) const { return {eyeMid.x + x * c - y * s, eyeMid.y + x * s + y * c}; }
    Point2 local(Point2 p) const { return {p.x - originX, p.y - originY}; }
    Point2 landmark(int i) const { return local(set->landmarks[i]); }
    size_t pixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

template <class T>
void grow(std::vector<T>& v, size_t n, T value = T()) {
    if (v.size() < n) v.resize(n, value);
}

// ---- spots ----------------------------------------------------------------------------------------------

struct Ellipse {
    Point2 centre;
    float a, b;
    float tilt;
    float hardness;
};

// The pixels that may have a weight: those of the ellipse's square (half-side max(a, b)) within `clip`,
// narrowed to the turned ellipse's own bounding box (outside it every weight is 0).
Box ellipseBox(const Layout& l, const Ellipse& e, const Box& clip) {
    const float a = std::max(e.a, 1.0f), b = std::max(e.b, 1.0f);
    const float half = std::max(a, b);
    const float cs = std::cos(l.roll - e.tilt), sn = std::sin(l.roll - e.tilt);
    const float hx = std::min(std::sqrt(a * a * cs * cs + b * b * sn * sn) + 1, half);
    const float hy = std::min(std::sqrt(a * a * sn * sn + b * b * cs * cs) + 1, half);
    Box box = boxAround(e.centre.x - hx, e.centre.y - hy, e.centre.x + hx, e.centre.y + hy, clip.x1 + 1,
                        clip.y1 + 1);
    box.x0 = std::max(box.x0, clip.x0), box.y0 = std::max(box.y0, clip.y0);
    return box;
}

// Calls row(y, x0, x1, weights) for each row of the ellipse's square within `clip`, with weights[x] for
// x0 <= x <= x1 (indexed by region x).
template <class RowFn>
void forEllipse(const Layout& l, const Ellipse& e, const Box& clip, float* weights, RowFn&& row) {
    const Box box = ellipseBox(l, e, clip);
    if (box.empty()) return;
    const float a = std::max(e.a, 1.0f), b = std::max(e.b, 1.0f);
    const float angle = l.roll - e.tilt;
    const float cs = std::cos(angle), sn = std::sin(angle);
    const float ia = 1 / a, ib = 1 / b;
    const float ih = 1 / std::max(1 - e.hardness, 0.01f);
    for (int y = box.y0; y <= box.y1; ++y) {
        const float dy = static_cast<float>(y) + 0.5f - e.centre.y;
        const float dyAlong = dy * sn, dyAcross = dy * cs;
        float* __restrict w = weights;
        for (int x = box.x0; x <= box.x1; ++x) {
            const float dx = static_cast<float>(x) + 0.5f - e.centre.x;
            const float u = (dx * cs + dyAlong) * ia;
            const float v = (dyAcross - dx * sn) * ib;
            const float d = std::sqrt(u * u + v * v);
            w[x] = std::min(std::max((1 - d) * ih, 0.0f), 1.0f);
        }
        row(y, box.x0, box.x1, static_cast<const float*>(weights));
    }
}

Box whole(const Layout& l) {
    return {0, 0, l.width - 1, l.height - 1};
}

F4 sqrt4(F4 a) {
#if defined(__SSE2__)
    return reinterpret_cast<F4>(_mm_sqrt_ps(reinterpret_cast<__m128>(a)));
#else
    return F4{std::sqrt(a[0]), std::sqrt(a[1]), std::sqrt(a[2]), std::sqrt(a[3])};
#endif
}

// softLight per lane.
F4 softLight4(F4 a, F4 b) {
    const F4 darken = a - (1 - 2 * b) * a * (1 - a);
    const F4 d = a <= 0.25f ? ((16 * a - 12) * a + 4) * a : sqrt4(max4(a, splat(0)));
    const F4 lighten = a + (2 * b - 1) * (d - a);
    return b <= 0.5f ? darken : lighten;
}

// Tints the region image inside the ellipse: multiply or soft light towards the colour.
void tintSpot(const Layout& l, const Ellipse& e, Colour colour, float opacity, bool soft, float* image,
              float* weights, Box& touched) {
    const F4 col{colour.r, colour.g, colour.b, soft ? 0.5f : 1.0f};
    touched.add(ellipseBox(l, e, whole(l)));
    forEllipse(l, e, whole(l), weights, [&](int y, int x0, int x1, const float* w) {
        float* v = image + static_cast<size_t>(y) * l.width * 4;
        for (int x = x0; x <= x1; ++x) {
            const float g = w[x] * opacity;
            if (g <= 0) continue;
            const F4 value = load(v + x * 4);
            store(v + x * 4, soft ? softLight4(value, (col - 0.5f) * g + 0.5f) : ((col - 1) * g + 1) * value);
        }
    });
}

// ---- polygons and strokes -------------------------------------------------------------------------------

constexpr int kMaxPolygon = 40;

// A region-local polygon of at most kMaxPolygon points.
struct Polygon {
    Point2 p[kMaxPolygon];
    int n = 0;
    void push(Point2 q) {
        if (n < kMaxPolygon) p[n++] = q;
    }
    Box box(int width, int height) const {
        float minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
        for (int i = 0; i < n; ++i) {
            minX = std::min(minX, p[i].x), maxX = std::max(maxX, p[i].x);
            minY = std::min(minY, p[i].y), maxY = std::max(maxY, p[i].y);
        }
        if (n == 0 || !(minX <= maxX && minY <= maxY)) return {};
        return boxAround(minX, minY, maxX, maxY, width, height);
    }
};

template <size_t N>
Polygon polygonOf(const Layout& l, const int (&indices)[N]) {
    Polygon poly;
    for (int i : indices)
        poly.push(l.landmark(i));
    return poly;
}

// The even–odd spans of the polygon on row y (tested at y + 0.5), as pixel ranges [start, end) clipped to
// the row; returns how many.
int spansOf(const Polygon& poly, int y, int width, int (*spans)[2]) {
    const float yc = static_cast<float>(y) + 0.5f;
    float xs[kMaxPolygon];
    int count = 0;
    for (int i = 0, j = poly.n - 1; i < poly.n; j = i++) {
        const Point2 a = poly.p[j], b = poly.p[i];
        if ((a.y <= yc) != (b.y <= yc)) xs[count++] = a.x + (yc - a.y) * (b.x - a.x) / (b.y - a.y);
    }
    std::sort(xs, xs + count);
    int made = 0;
    for (int k = 0; k + 1 < count; k += 2) {
        // Pixel centres within [x0, x1]: from ⌈x0 − 0.5⌉ to ⌊x1 − 0.5⌋.
        const float start = std::ceil(std::min(std::max(xs[k] - 0.5f, -1.0f), static_cast<float>(width)));
        const float end = std::floor(std::min(std::max(xs[k + 1] - 0.5f, -1.0f), static_cast<float>(width)));
        const int s = std::max(static_cast<int>(start), 0);
        const int e = std::min(static_cast<int>(end), width - 1) + 1;
        if (s < e) {
            spans[made][0] = s;
            spans[made][1] = e;
            ++made;
        }
    }
    return made;
}

// Calls span(y, x0, x1) for each run [x0, x1) of pixels inside `poly` and outside `hole` (may be null).
template <class SpanFn>
void fillPolygon(const Layout& l, const Polygon& poly, const Polygon* hole, SpanFn&& span) {
    const Box box = poly.box(l.width, l.height);
    if (box.empty()) return;
    int spans[kMaxPolygon / 2][2], holes[kMaxPolygon / 2][2];
    for (int y = box.y0; y <= box.y1; ++y) {
        const int n = spansOf(poly, y, l.width, spans);
        const int m = hole ? spansOf(*hole, y, l.width, holes) : 0;
        for (int i = 0; i < n; ++i) {
            int start = spans[i][0];
            const int end = spans[i][1];
            for (int k = 0; k < m && start < end; ++k) {
                if (holes[k][1] <= start || holes[k][0] >= end) continue;
                if (holes[k][0] > start) span(y, start, holes[k][0]);
                start = std::max(start, holes[k][1]);
            }
            if (start < end) span(y, start, end);
        }
    }
}

// One make-up layer of the region, with the rectangle its painting touched.
struct Layer {
    float* data = nullptr;
    int width = 0;
    Box dirty;
    float* at(int x, int y) const { return data + (static_cast<size_t>(y) * width + x) * 4; }
    static void mix(float* p, F4 colour, float w) {
        const F4 v = load(p);
        store(p, v + (colour - v) * w);
    }
};

F4 colourOf(Colour c) {
    return F4{c.r, c.g, c.b, 0};
}

void fillLayer(const Layout& l, const Polygon& poly, const Polygon* hole, Layer& layer, Colour colour,
               float amount) {
    if (amount <= 0) return;
    const F4 c = colourOf(colour);
    fillPolygon(l, poly, hole, [&](int y, int x0, int x1) {
        layer.dirty.add({x0, y, x1 - 1, y});
        for (int x = x0; x < x1; ++x)
            Layer::mix(layer.at(x, y), c, amount);
    });
}

void gradientFill(const Layout& l, const Polygon& poly, Point2 p0, Point2 p1, float peak, Colour colour,
                  const uint8_t* oval, Layer& layer) {
    const Point2 d = minus(p1, p0);
    const float len2 = d.x * d.x + d.y * d.y;
    if (!(len2 > 1e-6f)) return;
    const float dx = d.x / len2, dy = d.y / len2;
    const F4 c = colourOf(colour);
    fillPolygon(l, poly, nullptr, [&](int y, int x0, int x1) {
        layer.dirty.add({x0, y, x1 - 1, y});
        const float py = static_cast<float>(y) + 0.5f - p0.y;
        const uint8_t* ovalRow = oval ? oval + static_cast<size_t>(y) * l.width : nullptr;
        for (int x = x0; x < x1; ++x) {
            if (ovalRow && !ovalRow[x]) continue;
            const float t = clamp01((static_cast<float>(x) + 0.5f - p0.x) * dx + py * dy);
            Layer::mix(layer.at(x, y), c, clamp01((1 - t) * peak));
        }
    });
}

// Strokes a polyline once per width in `widths`: each stroke mixes the layer towards the colour by its
// coverage times `weight`. The distance to the line is measured once per pixel for all the strokes,
// which gives the same result as stroking them one after another.
void strokePolyline(const Layout& l, const Point2* points, int n, std::span<const float> widths,
                    Colour colour, float weight, const uint8_t* outsideOval, Layer& layer) {
    if (n < 1 || widths.empty()) return;
    float widest = 0;
    for (float w : widths)
        widest = std::max(widest, w);
    float minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int i = 0; i < n; ++i) {
        minX = std::min(minX, points[i].x), maxX = std::max(maxX, points[i].x);
        minY = std::min(minY, points[i].y), maxY = std::max(maxY, points[i].y);
    }
    const float grow = widest / 2 + 1;
    if (!(minX <= maxX && minY <= maxY && grow > 0)) return;
    // The bounding box grown by w/2 + 1, clipped; pixels whose centres lie in it.
    const Box box = boxAround(minX - grow + 0.5f, minY - grow + 0.5f, maxX + grow - 0.5f, maxY + grow - 0.5f,
                              l.width, l.height);
    if (box.empty()) return;
    layer.dirty.add(box);
    const F4 c = colourOf(colour);
    const int segments = std::max(n - 1, 1);
    const F4 lanes{0.5f, 1.5f, 2.5f, 3.5f};
    for (int y = box.y0; y <= box.y1; ++y) {
        const float py = static_cast<float>(y) + 0.5f;
        const uint8_t* ovalRow = outsideOval ? outsideOval + static_cast<size_t>(y) * l.width : nullptr;
        // Four pixels at a time: the distance to the nearest segment, then each pixel's strokes.
        for (int x = box.x0; x <= box.x1; x += 4) {
            const F4 px = static_cast<float>(x) + lanes;
            F4 best = splat(INFINITY);
            for (int i = 0; i < segments; ++i) {
                const Point2 a = points[i], b = points[std::min(i + 1, n - 1)];
                const float ex = b.x - a.x, ey = b.y - a.y;
                const float len2 = std::max(ex * ex + ey * ey, 1e-6f);
                const F4 t = clamp4(((px - a.x) * ex + (py - a.y) * ey) / len2);
                const F4 qx = a.x + t * ex - px, qy = a.y + t * ey - py;
                best = min4(best, qx * qx + qy * qy);
            }
            const F4 d = sqrt4(best);
            for (int k = 0; k < 4 && x + k <= box.x1; ++k) {
                if (ovalRow && ovalRow[x + k]) continue;
                float* v = layer.at(x + k, y);
                for (float w : widths) {
                    const float coverage = clamp01(w / 2 - d[k] + 0.5f);
                    if (coverage > 0) Layer::mix(v, c, clamp01(coverage * weight));
                }
            }
        }
    }
}

// ---- warps ----------------------------------------------------------------------------------------------

// The warp's box of half-sides `halfX` × `halfY` about the centre, within 1..width−2 × 1..height−2, and
// what it may read: the box with two pixels of margin, within the region.
Box warpBox(const Layout& l, Point2 centre, float halfX, float halfY, Box& source) {
    Box box =
        boxAround(centre.x - halfX, centre.y - halfY, centre.x + halfX, centre.y + halfY, l.width, l.height);
    box.x0 = std::max(box.x0, 1), box.y0 = std::max(box.y0, 1);
    box.x1 = std::min(box.x1, l.width - 2), box.y1 = std::min(box.y1, l.height - 2);
    source = {std::max(box.x0 - 2, 0), std::max(box.y0 - 2, 0), std::min(box.x1 + 2, l.width - 1),
              std::min(box.y1 + 2, l.height - 1)};
    return box;
}

// Resamples the warp's box of the region image in place. For four pixels of a row at a time,
// `offsets(dx, dy)` turns the offsets from the centre into those to sample at and returns which of the
// four move. Samples are bilinear in the unwarped image within `source`, clamped to it (the −0.5 turns a
// pixel centre into an index). No sample lies more than `reach` rows from its pixel: a finished row
// waits in buffers.warpCopy until no later row can read the original under it, and only then is written
// over it (only the pixels that moved).
template <class Offsets>
void resample(const Layout& l, LookBuffers& buffers, Point2 centre, const Box& box, const Box& source,
              int reach, Offsets&& offsets) {
    const int held = std::min(reach, box.y1 - box.y0) + 1;
    const int blocks = (box.x1 - box.x0) / 4 + 1;
    const size_t heldValues = static_cast<size_t>(blocks) * 16;
    // Sized for the whole box, as if every row were held: a stronger warp on a face of the same size then
    // needs nothing more.
    const int rows = box.y1 - box.y0 + 1;
    grow(buffers.warpCopy, static_cast<size_t>(rows) * heldValues);
    grow(buffers.warpSpans, static_cast<size_t>(rows) * 2);
    float* image = buffers.roiImage.data();
    const size_t rowValues = static_cast<size_t>(l.width) * 4;
    // Row `y` of the box, once finished: its moved pixels go back into the image.
    auto flush = [&](int y) {
        const int slot = (y - box.y0) % held;
        const int x0 = buffers.warpSpans[2 * slot], x1 = buffers.warpSpans[2 * slot + 1];
        if (x0 <= x1)
            std::memcpy(image + y * rowValues + x0 * 4,
                        buffers.warpCopy.data() + slot * heldValues + (x0 - box.x0) * 4,
                        static_cast<size_t>(x1 - x0 + 1) * 4 * sizeof(float));
    };
    const F4 lanes{0.5f, 1.5f, 2.5f, 3.5f};
    const float minX = static_cast<float>(source.x0), minY = static_cast<float>(source.y0);
    const float maxX = static_cast<float>(source.x1), maxY = static_cast<float>(source.y1);
    for (int y = box.y0; y <= box.y1; ++y) {
        if (y - held >= box.y0) flush(y - held);
        const int slot = (y - box.y0) % held;
        float* out = buffers.warpCopy.data() + slot * heldValues - static_cast<size_t>(box.x0) * 4;
        int first = box.x1 + 1, last = box.x0 - 1;
        const F4 dy = splat(static_cast<float>(y) + 0.5f - centre.y);
        const float* row = image + y * rowValues;
        for (int x = box.x0; x <= box.x1; x += 4) {
            const F4 dx = static_cast<float>(x) - centre.x + lanes;
            F4 sx = dx, sy = dy;
            I4 move = offsets(sx, sy);
            move &= (F4{0, 1, 2, 3} + static_cast<float>(x)) <= static_cast<float>(box.x1);
            if (!(move[0] | move[1] | move[2] | move[3])) {
                // Between moved pixels (the moving part of a row is one run, but whatever happens the
                // kept row must hold every pixel from its first moved one on).
                if (first <= box.x1)
                    for (int k = 0; k < 4; ++k)
                        store(out + (x + k) * 4, load(row + std::min(x + k, box.x1) * 4));
                continue;
            }
            first = std::min(first, x), last = std::min(x + 3, box.x1);
            sx = min4(max4(sx + (centre.x - 0.5f), splat(minX)), splat(maxX));
            sy = min4(max4(sy + (centre.y - 0.5f), splat(minY)), splat(maxY));
            // The top-left neighbour at most one before the last column and row (the source is at least
            // three wide and high), with a weight of up to 1 for the next: no edge cases below.
            const F4 left =
                min4(__builtin_convertvector(__builtin_convertvector(sx, I4), F4), splat(maxX - 1));
            const F4 top =
                min4(__builtin_convertvector(__builtin_convertvector(sy, I4), F4), splat(maxY - 1));
            const F4 fx = sx - left, fy = sy - top;
            // In whole numbers: a float would lose pixels in a region of over 2²⁴ values.
            const I4 offset = __builtin_convertvector(top, I4) * static_cast<int>(rowValues) +
                              __builtin_convertvector(left, I4) * 4;
            for (int k = 0; k < 4; ++k) {
                if (!move[k]) {
                    store(out + (x + k) * 4, load(row + std::min(x + k, box.x1) * 4));
                    continue;
                }
                const float* a = image + offset[k];
                const F4 pa = load(a), pb = load(a + 4), pc = load(a + rowValues),
                         pd = load(a + rowValues + 4);
                const F4 upper = pa + (pb - pa) * fx[k];
                const F4 lower = pc + (pd - pc) * fx[k];
                store(out + (x + k) * 4, upper + (lower - upper) * fy[k]);
            }
        }
        buffers.warpSpans[2 * slot] = first;
        buffers.warpSpans[2 * slot + 1] = last;
    }
    for (int y = std::max(box.y1 - held + 1, box.y0); y <= box.y1; ++y)
        flush(y);
}

// How many rows a warp that moves points by up to `moves` pixels may read away from a pixel (the
// bilinear neighbour and rounding included).
int reachOf(float moves) {
    return static_cast<int>(std::min(std::abs(moves), 1e6f)) + 3;
}

// Samples the unwarped image at centre + (1 + s·e²)·D·axis + E·axis⊥ with e = max(0, 1 − D²/A² − E²/B²):
// s > 0 pulls from farther out along the axis (narrows), s < 0 widens.
void axisWarp(const Layout& l, LookBuffers& buffers, Point2 centre, Point2 axis, float a, float b, float s,
              Box& touched) {
    a = std::max(a, 1.0f), b = std::max(b, 1.0f);
    // Only the ellipse moves (e > 0): the box is the tilted ellipse's bounds, not the square about it.
    const float halfX = std::sqrt(a * a * axis.x * axis.x + b * b * axis.y * axis.y) + 1;
    const float halfY = std::sqrt(a * a * axis.y * axis.y + b * b * axis.x * axis.x) + 1;
    Box source;
    const Box box = warpBox(l, centre, halfX, halfY, source);
    if (box.empty()) return;
    touched.add(box);
    const float ia2 = 1 / (a * a), ib2 = 1 / (b * b);
    // A point moves along the axis by s·e²·D, at most max t(1 − t²)² ≈ 0.286 times |s|·A (t = D/A).
    resample(l, buffers, centre, box, source, reachOf(0.29f * s * a), [&](F4& dx, F4& dy) {
        const F4 along = dx * axis.x + dy * axis.y;
        const F4 across = dy * axis.x - dx * axis.y;
        const F4 e = 1 - along * along * ia2 - across * across * ib2;
        const F4 pulled = (1 + s * e * e) * along;
        dx = pulled * axis.x - across * axis.y;
        dy = pulled * axis.y + across * axis.x;
        return e > 0;
    });
}

// Samples the unwarped image at centre + (1 − (1 − t²)²·s)·δ, t = min(|δ|/R, 1): s > 0 magnifies.
void bulgeWarp(const Layout& l, LookBuffers& buffers, Point2 centre, float radius, float s, Box& touched) {
    radius = std::max(radius, 1.0f);
    Box source;
    const Box box = warpBox(l, centre, radius, radius, source);
    if (box.empty()) return;
    touched.add(box);
    const float ir2 = 1 / (radius * radius);
    // A point moves by (1 − t²)²·s·|δ|, at most max t(1 − t²)² ≈ 0.286 times |s|·R.
    resample(l, buffers, centre, box, source, reachOf(0.29f * s * radius), [&](F4& dx, F4& dy) {
        const F4 t2 = (dx * dx + dy * dy) * ir2;
        const F4 k = 1 - t2;
        const F4 f = 1 - k * k * s;
        dx *= f;
        dy *= f;
        return t2 < 1;
    });
}

// ---- frame in and out -----------------------------------------------------------------------------------

[[maybe_unused]] bool finite(Point2 p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

const uint8_t* frameRow(const LookPixels& frame, const LookRegion& roi, int y) {
    return frame.pixels + static_cast<ptrdiff_t>(roi.y + y) * frame.stride +
           static_cast<ptrdiff_t>(roi.x) * 4;
}

// Bytes 2, 1, 0 of each pixel as R, G, B in 0..1.
void copyIn(const LookPixels& frame, const LookRegion& roi, float* image) {
    for (int y = 0; y < roi.height; ++y) {
        const uint8_t* src = frameRow(frame, roi, y);
        float* dst = image + static_cast<size_t>(y) * roi.width * 4;
        int x = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128 scale = _mm_set_ps(0, kByteScale, kByteScale, kByteScale);
        for (; x + 4 <= roi.width; x += 4) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4));
            const __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
            const __m128i px[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                   _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
            for (int k = 0; k < 4; ++k) {
                const __m128 bgra = _mm_cvtepi32_ps(px[k]);
                const __m128 rgba = _mm_shuffle_ps(bgra, bgra, _MM_SHUFFLE(3, 0, 1, 2));
                _mm_storeu_ps(dst + (x + k) * 4, _mm_mul_ps(rgba, scale));
            }
        }
#endif
        for (; x < roi.width; ++x)
            store(dst + x * 4, F4{static_cast<float>(src[x * 4 + 2]), static_cast<float>(src[x * 4 + 1]),
                                  static_cast<float>(src[x * 4 + 0]), 0} *
                                   kByteScale);
    }
}

// Each colour byte ⌊clamp(v, 0, 1)·255 + 0.5⌋ (R to byte 2, G to 1, B to 0), within `box`; alpha stays.
void copyOut(const float* image, const LookRegion& roi, const Box& box, const LookPixels& frame) {
    for (int y = box.y0; y <= box.y1; ++y) {
        uint8_t* dst = const_cast<uint8_t*>(frameRow(frame, roi, y));
        const float* src = image + static_cast<size_t>(y) * roi.width * 4;
        int x = box.x0;
#if defined(__SSE2__)
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), full = _mm_set1_ps(255),
                     half = _mm_set1_ps(0.5f);
        const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xff000000u));
        for (; x + 4 <= box.x1 + 1; x += 4) {
            __m128i px[4];
            for (int k = 0; k < 4; ++k) {
                const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(src + (x + k) * 4), zero), one);
                const __m128i rgb = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, full), half));
                px[k] = _mm_shuffle_epi32(rgb, _MM_SHUFFLE(3, 0, 1, 2));  // to B, G, R
            }
            const __m128i bytes =
                _mm_packus_epi16(_mm_packs_epi32(px[0], px[1]), _mm_packs_epi32(px[2], px[3]));
            uint8_t* out = dst + x * 4;
            const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_or_si128(_mm_and_si128(old, alpha), _mm_andnot_si128(alpha, bytes)));
        }
#endif
        for (; x <= box.x1; ++x) {
            const F4 v = clamp4(load(src + x * 4)) * 255 + 0.5f;
            dst[x * 4 + 2] = static_cast<uint8_t>(v[0]);
            dst[x * 4 + 1] = static_cast<uint8_t>(v[1]);
            dst[x * 4 + 0] = static_cast<uint8_t>(v[2]);
        }
    }
}

// ---- the steps ------------------------------------------------------------------------------------------

// Skin and protect masks. The skin ellipse's square bounds everything that reads the masks, so the
// protect mask is cleared and painted only there.
Box masks(const Layout& l, const FaceGeometry& face, LookBuffers& buf) {
    const float o = l.o, dd = l.downDist, ew = face.eyeWidth;
    const Ellipse skin{l.at(0, (dd - 0.75f) / 2 * o), face.faceWidth / 2, (0.75f + dd) / 2 * o, 0, 0.72f};
    const Box square = ellipseBox(l, skin, whole(l));
    std::fill_n(buf.skinSpans.data(), static_cast<size_t>(l.height) * 2, 0);
    if (square.empty()) return square;
    for (int y = square.y0; y <= square.y1; ++y)
        std::fill_n(buf.protectMask.data() + static_cast<size_t>(y) * l.width + square.x0,
                    square.x1 - square.x0 + 1, 0.0f);
    forEllipse(l, skin, square, buf.weights.data(), [&](int y, int x0, int x1, const float* w) {
        // Written over the whole square (zero outside the ellipse): the same as painting a cleared mask.
        std::copy(w + x0, w + x1 + 1, buf.skinMask.data() + static_cast<size_t>(y) * l.width + x0);
        int first = x0, last = x1;
        while (first <= x1 && w[first] <= 0)
            ++first;
        while (last >= first && w[last] <= 0)
            --last;
        if (first <= last) {
            buf.skinSpans[2 * y] = first;
            buf.skinSpans[2 * y + 1] = last + 1;
        }
    });
    const Ellipse protect[5] = {
        {l.local(face.leftEye), 0.8f * ew, 0.5f * ew, 0, 0.6f},
        {l.local(face.leftBrow), 0.85f * ew, 0.28f * ew, 0, 0.5f},
        {l.local(face.rightEye), 0.8f * ew, 0.5f * ew, 0, 0.6f},
        {l.local(face.rightBrow), 0.85f * ew, 0.28f * ew, 0, 0.5f},
        {l.local(face.mouthCentre), 0.6f * std::max(face.mouthWidth, 0.5f * o),
         0.75f * std::max(face.mouthHeight, 0.2f * o), 0, 0.6f},
    };
    for (const Ellipse& e : protect)
        forEllipse(l, e, square, buf.weights.data(), [&](int y, int x0, int x1, const float* w) {
            float* __restrict m = buf.protectMask.data() + static_cast<size_t>(y) * l.width;
            for (int x = x0; x <= x1; ++x)
                m[x] = 1 - (1 - m[x]) * (1 - w[x]);
        });
    return square;
}

// Skin smoothing at half resolution and the glow, in one pass over the skin: a pixel's smoothing reads
// only itself, the original neighbourhood and the half-size buffers, so the glow can follow at once.
void smoothAndGlow(const Layout& l, const LookParameters& p, LookBuffers& buf, const Box& skinBox,
                   Box& touched) {
    const bool smoothing = p.smooth > kRuns, glowing = p.glow > kRuns;
    if ((!smoothing && !glowing) || skinBox.empty()) return;
    touched.add(skinBox);
    const int w = l.width, h = l.height, hw = w / 2, hh = h / 2;
    const float o = l.o;
    float* image = buf.roiImage.data();

    if (smoothing) {
        const size_t half = static_cast<size_t>(hw) * hh;
        grow(buf.halfColour, half * 4);
        grow(buf.halfLuminance, half);
        grow(buf.halfBlurred, half);
        grow(buf.halfDark, half);
        // The half-size buffers are made and blurred only over the skin box's half-size pixels and as far
        // again as the blurs reach (the luminance blur and then the dark-detail blur, or the colour blur):
        // within the skin box that gives what blurring the whole region gives.
        const int reach = std::max(2 * boxBlurRadius(0.03f * o, 2) + boxBlurRadius(0.0125f * o, 1),
                                   2 * boxBlurRadius(0.025f * o, 2)) +
                          2;
        const int hx0 = std::max(skinBox.x0 / 2 - reach, 0), hx1 = std::min(skinBox.x1 / 2 + reach, hw - 1);
        const int hy0 = std::max(skinBox.y0 / 2 - reach, 0), hy1 = std::min(skinBox.y1 / 2 + reach, hh - 1);
        const int hbw = hx1 - hx0 + 1, hbh = hy1 - hy0 + 1;
        if (hbw > 0 && hbh > 0) {
            for (int y = hy0; y <= hy1; ++y) {
                const float* top = image + static_cast<size_t>(2 * y) * w * 4;
                const float* bottom = top + static_cast<size_t>(w) * 4;
                float* colour = buf.halfColour.data() + static_cast<size_t>(y) * hw * 4;
                float* __restrict lum = buf.halfLuminance.data() + static_cast<size_t>(y) * hw;
                float* __restrict copy = buf.halfBlurred.data() + static_cast<size_t>(y) * hw;
                for (int x = hx0; x <= hx1; ++x) {
                    const F4 mean = (load(top + 8 * x) + load(top + 8 * x + 4) + load(bottom + 8 * x) +
                                     load(bottom + 8 * x + 4)) *
                                    0.25f;
                    store(colour + 4 * x, mean);
                    lum[x] = copy[x] = 0.3f * mean[0] + 0.59f * mean[1] + 0.11f * mean[2];
                }
            }
            const size_t corner = static_cast<size_t>(hy0) * hw + hx0;
            blurBox(buf.halfBlurred.data() + corner, hbw, hbh, 1, 0.03f * o, 2, buf.blur, hw);
            for (int y = hy0; y <= hy1; ++y) {
                const size_t row = static_cast<size_t>(y) * hw;
                const float* __restrict blurred = buf.halfBlurred.data() + row;
                const float* __restrict lum = buf.halfLuminance.data() + row;
                float* __restrict dark = buf.halfDark.data() + row;
                for (int x = hx0; x <= hx1; ++x)
                    dark[x] = std::min(std::max((blurred[x] - lum[x]) * 25 - 0.5f, 0.0f), 1.0f);
            }
            blurBox(buf.halfDark.data() + corner, hbw, hbh, 1, 0.0125f * o, 1, buf.blur, hw);
            blurBox(buf.halfColour.data() + corner * 4, hbw, hbh, 4, 0.025f * o, 2, buf.blur, hw * 4);
        }
        grow(buf.upsampledRow, static_cast<size_t>(hw) * 4);
        grow(buf.neighbourSums, static_cast<size_t>(w) * 4);
        grow(buf.originalRows, static_cast<size_t>(w) * 8);
    }

    const float amount = std::min(0.9f * p.smooth, 1.0f);
    const float gain = std::exp2(0.24f * p.glow), keep = 1 - 0.1f * p.glow;
    const float glowMix = std::min(p.glow, 1.0f);
    // Smoothing reaches pixels 1 ≤ x < 2·⌊w/2⌋ − 2, likewise for y.
    const int smoothEndX = 2 * hw - 2, smoothEndY = 2 * hh - 2;
    // The original of the row above (smoothing has changed it by now), over the skin box's columns and
    // one more on each side.
    const int cx0 = std::max(skinBox.x0 - 1, 0), cx1 = std::min(skinBox.x1 + 1, w - 1);
    const size_t rowValues = static_cast<size_t>(cx1 - cx0 + 1) * 4;
    float* __restrict above = smoothing ? buf.originalRows.data() : nullptr;
    float* __restrict current = smoothing ? buf.originalRows.data() + static_cast<size_t>(w) * 4 : nullptr;
    if (smoothing && skinBox.y0 >= 1)
        std::memcpy(above + cx0 * 4, image + (static_cast<size_t>(skinBox.y0 - 1) * w + cx0) * 4,
                    rowValues * sizeof(float));
    for (int y = skinBox.y0; y <= skinBox.y1; ++y) {
        float* v = image + static_cast<size_t>(y) * w * 4;
        if (smoothing) std::memcpy(current + cx0 * 4, v + cx0 * 4, rowValues * sizeof(float));
        const int x0 = buf.skinSpans[2 * y], x1 = buf.skinSpans[2 * y + 1];
        const float* __restrict skin = buf.skinMask.data() + static_cast<size_t>(y) * w;
        const float* __restrict protect = buf.protectMask.data() + static_cast<size_t>(y) * w;
        const int sx0 = std::max(x0, 1), sx1 = std::min(x1, smoothEndX);
        if (smoothing && y >= 1 && y < smoothEndY && sx0 < sx1) {
            // The blurred half-size colour between its two rows at this row's sample position.
            const float fy = (static_cast<float>(y) + 0.5f) * 0.5f - 0.5f;
            const int r0 = static_cast<int>(fy), r1 = std::min(r0 + 1, hh - 1);
            const float ty = fy - static_cast<float>(r0);
            const float* __restrict c0 = buf.halfColour.data() + static_cast<size_t>(r0) * hw * 4;
            const float* __restrict c1 = buf.halfColour.data() + static_cast<size_t>(r1) * hw * 4;
            float* __restrict up = buf.upsampledRow.data();
            const int k0 = (sx0 - 1) / 2, k1 = std::min(sx1 / 2 + 1, hw - 1);
            for (int k = k0; k <= k1; ++k) {
                const F4 a = load(c0 + k * 4);
                store(up + k * 4, a + (load(c1 + k * 4) - a) * ty);
            }
            // Column sums of the original three rows around this one.
            const float* __restrict below = v + static_cast<size_t>(w) * 4;
            float* __restrict sums = buf.neighbourSums.data();
            for (int x = sx0 - 1; x <= sx1; ++x)
                store(sums + x * 4, load(above + x * 4) + load(current + x * 4) + load(below + x * 4));
            // This row's smoothing weights: skin, not protected, and not dark detail (whose mask is at
            // half size, one value for each pair of pixels).
            const float* __restrict dark = buf.halfDark.data() + static_cast<size_t>(y / 2) * hw;
            float* __restrict weights = buf.weights.data();
            for (int x = sx0; x < sx1; ++x)
                weights[x] = (1 - protect[x]) * skin[x] * amount;
            for (int k = sx0 / 2; k <= (sx1 - 1) / 2; ++k) {
                const float keepDetail = 1 - clamp01(3 * dark[k] - 0.35f);
                weights[2 * k] *= keepDetail;
                weights[2 * k + 1] *= keepDetail;
            }
            for (int x = sx0; x < sx1; ++x) {
                const float wgt = weights[x];
                if (wgt == 0) continue;
                // The half-size sample at (x + 0.5)/2 − 0.5: between neighbours k − 1 and k at 3/4 for
                // x = 2k, between k and k + 1 at 1/4 for x = 2k + 1.
                const int j0 = (x - 1) >> 1;
                const float tx = (x & 1) ? 0.25f : 0.75f;
                const F4 a = load(up + j0 * 4);
                const F4 base = a + (load(up + j0 * 4 + 4) - a) * tx;
                const F4 mean =
                    (load(sums + (x - 1) * 4) + load(sums + x * 4) + load(sums + (x + 1) * 4)) * (1.0f / 9);
                const F4 target = clamp4(base + 0.7f * (load(current + x * 4) - mean));
                const F4 value = load(v + x * 4);
                store(v + x * 4, value + (target - value) * wgt);
            }
        }
        if (glowing) {
            for (int x = x0; x < x1; ++x) {
                const float wgt = glowMix * skin[x];
                if (wgt <= 0) continue;
                const F4 value = load(v + x * 4);
                const F4 lit = value * gain;
                const float lum = 0.2126f * lit[0] + 0.7152f * lit[1] + 0.0722f * lit[2];
                const F4 toned = min4((lit - lum) * keep + lum, splat(1));
                store(v + x * 4, value + (toned - value) * wgt);
            }
        }
        std::swap(above, current);
    }
}

void contour(const Layout& l, const LookParameters& p, LookBuffers& buf, Box& touched) {
    if (p.contour <= kRuns) return;
    const float o = l.o, dd = l.downDist;
    float* image = buf.roiImage.data();
    float* weights = buf.weights.data();
    auto spot = [&](Colour colour, float opacity, bool soft, Point2 centre, float a, float b, float tilt,
                    float hardness) {
        opacity = std::min(opacity, 1.0f);
        if (opacity <= 0.005f) return;
        tintSpot(l, {centre, a, b, tilt, hardness}, colour, opacity, soft, image, weights, touched);
    };
    for (float k : {-1.0f, 1.0f}) {
        spot({0.86f, 0.72f, 0.62f}, 0.32f * p.contour, false, l.at(0.95f * k * o, 0.66f * o), 0.5f * o,
             0.2f * o, 0.35f * k, 0);
        spot({1.0f, 0.98f, 0.95f}, 0.55f * p.contour, true, l.at(0.7f * k * o, 0.3f * o), 0.34f * o,
             0.14f * o, 0.25f * k, 0);
    }
    spot({1.0f, 0.97f, 0.93f}, 0.35f * p.contour, true, l.at(0, 0.2f * dd * o), 0.07f * o, 0.3f * o, 0, 0.2f);
    for (float k : {-1.0f, 1.0f})
        spot({0.86f, 0.74f, 0.65f}, 0.3f * p.contour, false, l.at(0.17f * k * o, 0.22f * dd * o), 0.07f * o,
             0.3f * o, 0, 0);
}

// Brows, eye shadow, lash line, under-eye lift, blush, lip colour and the stubble shade, painted into
// the multiply and soft-light layers, which are then blurred a little and laid over the region.
void makeUp(const Layout& l, const LookParameters& p, const LandmarkSet& set, float ovalSide,
            LookBuffers& buf, Box& touched) {
    using namespace look_points;
    const bool useMultiply = p.browFill + p.lashLine + p.eyeShadow + p.jaw > kRuns || p.lipColour > 0.6f;
    const bool useSoft = p.underEye + p.blush + p.lipColour > kRuns;
    if (!useMultiply && !useSoft) return;
    const size_t n = l.pixels();
    grow(buf.multiplyLayer, n * 4, 1.0f);
    grow(buf.softLightLayer, n * 4, 0.5f);
    grow(buf.ovalMask, n);
    Layer multiply{buf.multiplyLayer.data(), l.width, {}};
    Layer soft{buf.softLightLayer.data(), l.width, {}};

    uint8_t* oval = buf.ovalMask.data();
    std::memset(oval, 0, n);
    fillPolygon(l, polygonOf(l, face_points::kFaceOval), nullptr, [&](int y, int x0, int x1) {
        std::memset(oval + static_cast<size_t>(y) * l.width + x0, 1, static_cast<size_t>(x1 - x0));
    });

    const float faceSpan = lengthOf(minus(set.landmarks[kFaceSideRight], set.landmarks[kFaceSideLeft]));  // F
    for (int side = 0; side < 2; ++side) {
        Point2 upper[9], crease[7], lower[9], under[6];
        for (int i = 0; i < 9; ++i) {
            upper[i] = l.landmark(kUpperLid[side][i]);
            lower[i] = l.landmark(kLowerLid[side][i]);
        }
        for (int i = 0; i < 7; ++i)
            crease[i] = l.landmark(kCrease[side][i]);
        for (int i = 0; i < 6; ++i)
            under[i] = l.landmark(kUnderEye[side][i]);

        if (useMultiply && p.browFill > kRuns)
            fillLayer(l, polygonOf(l, kBrow[side]), nullptr, multiply, {0.45f, 0.34f, 0.28f},
                      std::min(0.5f * p.browFill, 1.0f));
        if (useMultiply && p.eyeShadow > kRuns) {
            Polygon lid;
            for (const Point2& q : upper)
                lid.push(q);
            for (int i = 6; i >= 0; --i)
                lid.push(crease[i]);
            const Point2 p0 = upper[4], q = crease[3];
            const Point2 p1{q.x + 0.2f * (q.x - p0.x), q.y + 0.2f * (q.y - p0.y)};
            gradientFill(l, lid, p0, p1, 0.6f * p.eyeShadow, {0.62f, 0.47f, 0.45f}, nullptr, multiply);
        }
        if (useMultiply && p.lashLine > kRuns) {
            const Colour ink{0.1f, 0.08f, 0.08f};
            const Point2 span = minus(upper[8], upper[0]);
            const float lidLength = std::max(lengthOf(span), 1.0f);
            const float thickness = 0.5f * std::min(p.lashLine, 1.0f) + 0.7f;
            for (int i = 1; i < 9; ++i) {
                const float width = (0.035f * static_cast<float>(i) / 8 + 0.025f) * lidLength * thickness;
                strokePolyline(l, &upper[i - 1], 2, {&width, 1}, ink, 0.85f * p.lashLine, nullptr, multiply);
            }
            if (p.lashLine > 0.75f) {
                // The wing: from the outer corner along the lid and a little up towards the crease.
                const float wing = 0.16f * lidLength * std::min((p.lashLine - 0.75f) * 4, 1.0f);
                const Point2 alongLid{span.x / lidLength, span.y / lidLength};
                const Point2 upward = minus(crease[3], upper[4]);
                const float upLength = std::max(lengthOf(upward), 0.001f);
                const Point2 up{upward.x / upLength, upward.y / upLength};
                const Point2 line[2] = {upper[8],
                                        {upper[8].x + wing * alongLid.x + 0.45f * wing * up.x,
                                         upper[8].y + wing * alongLid.y + 0.45f * wing * up.y}};
                const float width = 0.045f * lidLength;
                strokePolyline(l, line, 2, {&width, 1}, ink, 0.85f * p.lashLine, nullptr, multiply);
            }
        }
        if (useSoft && p.underEye > kRuns) {
            Polygon bag;
            for (const Point2& q : lower)
                bag.push(q);
            for (int i = 5; i >= 0; --i)
                bag.push(under[i]);
            const Point2 p0 = lower[4], u = under[2];
            const Point2 p1{u.x + 0.35f * (u.x - p0.x), u.y + 0.35f * (u.y - p0.y)};
            gradientFill(l, bag, p0, p1, 0.85f * p.underEye, {0.86f, 0.8f, 0.74f}, oval, soft);
        }
        if (useSoft && p.blush > kRuns) {
            const Point2 cheek = l.landmark(kCheek[side]);
            const float inner = 0.03f * faceSpan, outer = 0.19f * faceSpan;
            const float range = std::max(outer - inner, 1e-6f);
            const Box box = boxAround(cheek.x - outer, cheek.y - outer, cheek.x + outer, cheek.y + outer,
                                      l.width, l.height);
            const F4 rose = colourOf({0.93f, 0.42f, 0.5f});
            soft.dirty.add(box);
            for (int y = box.y0; y <= box.y1; ++y) {
                const float dy = static_cast<float>(y) + 0.5f - cheek.y;
                const uint8_t* ovalRow = oval + static_cast<size_t>(y) * l.width;
                for (int x = box.x0; x <= box.x1; ++x) {
                    if (!ovalRow[x]) continue;
                    const float dx = static_cast<float>(x) + 0.5f - cheek.x;
                    const float t = clamp01((std::sqrt(dx * dx + dy * dy) - inner) / range);
                    if (t >= 1) continue;
                    Layer::mix(soft.at(x, y), rose, std::min(0.55f * p.blush * (1 - t), 1.0f));
                }
            }
        }
    }

    const Polygon outerLips = polygonOf(l, kOuterLips), innerLips = polygonOf(l, kInnerLips);
    if (useMultiply && p.lipColour > 0.6f)
        fillLayer(l, outerLips, &innerLips, multiply, {0.78f, 0.42f, 0.5f},
                  std::min((p.lipColour - 0.6f) * 1.125f, 1.0f));
    if (useSoft && p.lipColour > kRuns)
        fillLayer(l, outerLips, &innerLips, soft, {0.88f, 0.32f, 0.44f}, std::min(0.6f * p.lipColour, 1.0f));

    if (useMultiply && p.jaw > kRuns) {
        Point2 chains[2][7];
        float lengths[2] = {0, 0};
        for (int side = 0; side < 2; ++side) {
            for (int i = 0; i < 7; ++i)
                chains[side][i] = l.landmark(kJawChain[side][i]);
            for (int i = 1; i < 7; ++i)
                lengths[side] += lengthOf(minus(chains[side][i], chains[side][i - 1]));
        }
        const float longer = std::max(std::max(lengths[0], lengths[1]), 1.0f);
        const float widths[4] = {0.2f * faceSpan, 0.14f * faceSpan, 0.09f * faceSpan, 0.05f * faceSpan};
        for (int side = 0; side < 2; ++side) {
            // A jaw side turned away from the camera is short on screen: less shade, or none.
            const float sideWeight = clamp01((lengths[side] / longer - 0.55f) / 0.3f);
            if (sideWeight <= kRuns) continue;
            strokePolyline(l, chains[side], 7, widths, {0.55f, 0.45f, 0.4f}, 0.08f * p.jaw * sideWeight, oval,
                           multiply);
        }
    }

    // Each used layer is blurred once over what its painting touched and as far again as the blur
    // reaches (the rest is neutral and blurs to itself), laid over the image there, and set back to
    // neutral for the next frame.
    const float sigma = ovalSide * 1.82f / 384;
    const int r = boxBlurRadius(sigma, 1);
    float* image = buf.roiImage.data();
    for (Layer* layer : {&multiply, &soft}) {
        if (layer->dirty.empty()) continue;
        const bool isMultiply = layer == &multiply;
        Box b = layer->dirty;
        b.x0 = std::max(b.x0 - r, 0), b.y0 = std::max(b.y0 - r, 0);
        b.x1 = std::min(b.x1 + r, l.width - 1), b.y1 = std::min(b.y1 + r, l.height - 1);
        touched.add(b);
        const int bw = b.x1 - b.x0 + 1, bh = b.y1 - b.y0 + 1;
        blurBox(layer->at(b.x0, b.y0), bw, bh, 4, sigma, 1, buf.blur, l.width * 4);
        const F4 neutral = splat(isMultiply ? 1.0f : 0.5f);
        for (int y = b.y0; y <= b.y1; ++y) {
            float* lay = layer->at(b.x0, y);
            float* v = image + (static_cast<size_t>(y) * l.width + b.x0) * 4;
            if (isMultiply) {
                for (int x = 0; x < bw; ++x) {
                    const F4 m = load(lay + x * 4), value = load(v + x * 4);
                    store(v + x * 4, m < 0.999f ? value * m : value);
                    store(lay + x * 4, neutral);
                }
            } else {
                for (int x = 0; x < bw; ++x) {
                    const F4 s = load(lay + x * 4), value = load(v + x * 4);
                    const F4 off = s - 0.5f;
                    const I4 visible = (off > 0.002f) | (off < -0.002f);
                    if (visible[0] | visible[1] | visible[2])
                        store(v + x * 4, visible ? softLight4(value, s) : value);
                    store(lay + x * 4, neutral);
                }
            }
        }
    }
}

void shapeChanges(const Layout& l, const LookParameters& p, const FaceGeometry& face, LookBuffers& buf,
                  Box& touched) {
    const float o = l.o, dd = l.downDist;
    const Point2 xAxis{l.c, l.s};
    if (p.slim > kRuns)
        axisWarp(l, buf, l.at(0, 0.62f * dd * o), xAxis, 0.62f * face.faceWidth, 0.62f * face.faceWidth,
                 0.11f * p.slim, touched);
    if (p.noseSlim > kRuns)
        axisWarp(l, buf, l.at(0, 0.3f * dd * o), xAxis, 0.42f * o, 0.7f * o, 0.16f * p.noseSlim, touched);
    if (p.jaw > kRuns)
        axisWarp(l, buf, l.at(0, 0.72f * dd * o), xAxis, 0.66f * face.faceWidth, 0.3f * face.faceWidth,
                 -0.07f * p.jaw, touched);
    if (p.eyeEnlarge > kRuns)
        for (Point2 eye : {face.leftEye, face.rightEye})
            bulgeWarp(l, buf, l.local(eye), face.eyeWidth, 0.18f * p.eyeEnlarge, touched);
    if (p.lipPlump > kRuns)
        bulgeWarp(l, buf, l.local(face.mouthCentre), 0.55f * std::max(face.mouthWidth, 0.5f * o),
                  0.07f * p.lipPlump, touched);
}

struct OvalBox {
    float minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
};

OvalBox ovalBox(const LandmarkSet& set) {
    OvalBox b;
    for (int i : face_points::kFaceOval) {
        const Point2 q = set.landmarks[i];
        b.minX = std::min(b.minX, q.x), b.maxX = std::max(b.maxX, q.x);
        b.minY = std::min(b.minY, q.y), b.maxY = std::max(b.maxY, q.y);
    }
    return b;
}

}  // namespace

LookRegion lookKernels(LookBuffers& buf, const LookPixels& frame, const LandmarkSet& set,
                       const FaceGeometry& face, const LookParameters& p, const LookRegion& roi) {
    Layout l;
    l.set = &set;
    l.width = roi.width;
    l.height = roi.height;
    l.originX = static_cast<float>(roi.x);
    l.originY = static_cast<float>(roi.y);
    const Point2 mid{(face.leftEye.x + face.rightEye.x) / 2, (face.leftEye.y + face.rightEye.y) / 2};
    l.eyeMid = l.local(mid);
    l.o = lengthOf(minus(face.rightEye, face.leftEye));
    l.roll = face.roll;
    l.c = std::cos(face.roll);
    l.s = std::sin(face.roll);
    const Point2 chin = minus(set.landmarks[face_points::kChin], mid);
    l.downDist = std::max(1.2f, (-chin.x * l.s + chin.y * l.c) / l.o);

    const size_t n = l.pixels();
    grow(buf.roiImage, n * 4);
    grow(buf.skinMask, n);
    grow(buf.protectMask, n);
    grow(buf.skinSpans, static_cast<size_t>(l.height) * 2);
    grow(buf.weights, static_cast<size_t>(l.width));
    copyIn(frame, roi, buf.roiImage.data());

    // What the steps change; only that is written back (the rest would give the same bytes again).
    Box touched;
    const Box skinBox = masks(l, face, buf);
    smoothAndGlow(l, p, buf, skinBox, touched);
    contour(l, p, buf, touched);
    const OvalBox ob = ovalBox(set);
    makeUp(l, p, set, std::max(ob.maxX - ob.minX, ob.maxY - ob.minY), buf, touched);
    shapeChanges(l, p, face, buf, touched);
    if (!touched.empty()) copyOut(buf.roiImage.data(), roi, touched, frame);
    return roi;
}

}  // namespace QM_LOOK_ISA

#if !defined(QM_LOOK_AVX2_BUILD)

using namespace portable;

namespace {
std::atomic<bool> portableOnly{false};
}

void useLookPortableBuild(bool only) {
    portableOnly.store(only, std::memory_order_relaxed);
}

LookParameters lookParameters(int look, bool masculine, float strength) {
    if (look < kLookNatural || look > kLookBold) return {};
    const float s = strength > 0 ? strength : 0;  // a NaN strength counts as 0 too
    LookParameters p = kBase[look - 1];
    for (float* v : {&p.smooth, &p.glow, &p.slim, &p.noseSlim, &p.eyeEnlarge, &p.lipPlump, &p.browFill,
                     &p.lashLine, &p.contour, &p.lipColour, &p.underEye, &p.blush, &p.eyeShadow})
        *v = std::min(*v * s, 1.5f);
    if (masculine) {
        p.jaw = std::min(p.slim * 1.15f, 1.0f);
        p.blush = p.eyeShadow = p.lashLine = p.lipColour = p.eyeEnlarge = p.lipPlump = 0;
        p.smooth *= 0.6f;
        p.slim *= 0.3f;
        p.browFill *= 0.6f;
    }
    return p;
}

LookRegion lookRegion(const LandmarkSet& set, const FaceGeometry& face, int frameWidth, int frameHeight) {
    if (!finite(face.leftEye) || !finite(face.rightEye)) return {};
    const float o = lengthOf(minus(face.rightEye, face.leftEye));
    if (!(o >= 12)) return {};
    const OvalBox b = ovalBox(set);
    const float side = 1.35f * std::max(b.maxX - b.minX, b.maxY - b.minY);
    if (!std::isfinite(side) || !std::isfinite(b.minX + b.minY)) return {};
    const float cx = (b.minX + b.maxX) / 2, cy = (b.minY + b.maxY) / 2;
    // Truncated, then clamped to the frame (clamped as floats first so that the conversion cannot overflow).
    auto origin = [](float v, int limit) {
        const float clamped = std::min(std::max(v, -1.0f), static_cast<float>(limit));
        return std::clamp(static_cast<int>(clamped), 0, limit);
    };
    LookRegion roi;
    roi.x = origin(cx - side / 2, frameWidth);
    roi.y = origin(cy - side / 2, frameHeight);
    const int whole = static_cast<int>(std::min(side, 1e6f));
    roi.width = std::min(whole, frameWidth - roi.x);
    roi.height = std::min(whole, frameHeight - roi.y);
    if (roi.width < 32 || roi.height < 32) return {};
    return roi;
}

LookRegion applyLook(LookBuffers& buf, const LookPixels& frame, const LandmarkSet& set,
                     const FaceGeometry& face, int look, bool masculine, float strength) {
    if (look < kLookNatural || look > kLookBold) return {};
    return applyLookParameters(buf, frame, set, face, lookParameters(look, masculine, strength));
}

LookRegion applyLookParameters(LookBuffers& buf, const LookPixels& frame, const LandmarkSet& set,
                               const FaceGeometry& face, const LookParameters& p) {
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) return {};
    for (float v : {face.faceWidth, face.eyeWidth, face.mouthWidth, face.mouthHeight, face.roll})
        if (!std::isfinite(v)) return {};
    for (Point2 q : {face.leftBrow, face.rightBrow, face.mouthCentre})
        if (!finite(q)) return {};
    for (const Point2& q : set.landmarks)
        if (!finite(q)) return {};
    const LookRegion roi = lookRegion(set, face, frame.width, frame.height);
    if (roi.empty()) return roi;
#if defined(QM_LOOK_HAS_AVX2_BUILD)
    static const bool avx2Fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2Fma && !portableOnly.load(std::memory_order_relaxed))
        return avx2::lookKernels(buf, frame, set, face, p, roi);
#endif
    return portable::lookKernels(buf, frame, set, face, p, roi);
}

#endif

}  // namespace qm
