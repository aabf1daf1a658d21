#include "render/wear_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/row_helper.h"

namespace qm {

namespace {

float smoothstep(float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return (3 - 2 * t) * t * t;
}

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator*(Vec3 a, float k) {
    return {a.x * k, a.y * k, a.z * k};
}
float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
float length(Vec3 a) {
    return std::sqrt(dot(a, a));
}
Vec3 normalised(Vec3 a) {
    return a * (1 / std::max(length(a), 0.001f));
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Landmark i as (x, y, z) with y counted upward.
Vec3 point(const LandmarkSet& set, int i) {
    return {set.landmarks[i].x, -set.landmarks[i].y, set.depths[i]};
}

Point2 toFaceFrame(float x, float y, Point2 centre, float roll) {
    const float c = std::cos(roll), s = std::sin(roll), dx = x - centre.x, dy = y - centre.y;
    return {c * dx + s * dy, -s * dx + c * dy};
}

// Mean straight colour of a square of the given side centred at (cx, cy), turned by angle; false when it
// touches the frame's edge.
bool squareColour(const uint8_t* bgra, int width, int height, float cx, float cy, float side, float angle,
                  float rgb[3]) {
    if (!(side >= 1)) return false;
    const float c = std::cos(angle), s = std::sin(angle), half = side / 2;
    // The turned square's corners must lie inside the frame.
    for (int corner = 0; corner < 4; ++corner) {
        const float ox = (corner & 1 ? half : -half), oy = (corner & 2 ? half : -half);
        const float x = cx + c * ox - s * oy, y = cy + s * ox + c * oy;
        if (x < 0 || y < 0 || x > width - 1 || y > height - 1) return false;
    }
    const float step = std::max(1.0f, side / 8);
    double r = 0, g = 0, b = 0;
    int count = 0;
    for (float v = -half; v < half; v += step)
        for (float u = -half; u < half; u += step) {
            const int x = static_cast<int>(cx + c * u - s * v), y = static_cast<int>(cy + s * u + c * v);
            const uint8_t* p = bgra + (static_cast<size_t>(y) * width + x) * 4;
            b += p[0], g += p[1], r += p[2];
            ++count;
        }
    if (count == 0) return false;
    rgb[0] = static_cast<float>(r / count / 255);
    rgb[1] = static_cast<float>(g / count / 255);
    rgb[2] = static_cast<float>(b / count / 255);
    return true;
}

float brightness(const float rgb[3]) {
    return 0.3f * rgb[0] + 0.6f * rgb[1] + 0.1f * rgb[2];
}

// Two premultiplied pixels mixed with weight w of b (0..256), two channels at a time.
inline uint32_t mix(uint32_t a, uint32_t b, uint32_t w) {
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t ag = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
    return rb | ag;
}

}  // namespace

Affine placementMatrix(int pw, int ph, const WearPlacement& place, const Fit& fit) {
    const double k = static_cast<double>(place.targetWidth) * fit.scale / std::max(pw, 1);
    const double angle = static_cast<double>(fit.fourth) + place.rotation;
    const double c = std::cos(angle) * k, s = std::sin(angle) * k;
    const double hx = pw / 2.0, hy = ph / 2.0;
    Affine m;
    m.xx = c, m.yx = s, m.xy = -s, m.yy = c;
    m.x0 = place.centreX + place.unit * fit.x - (c * hx - s * hy);
    m.y0 = place.centreY - place.unit * fit.y - (s * hx + c * hy);
    return m;
}

float holeFraction(const uint8_t* pixels, int w, int h) {
    if (!pixels || w <= 0 || h <= 0) return 0;
    auto opaque = [&](int x, int y) { return pixels[(static_cast<size_t>(y) * w + x) * 4 + 3] > 128; };
    const int mid = w / 2;
    int row = 0;
    while (row < h && !opaque(mid, row))
        ++row;
    while (row < h && opaque(mid, row))
        ++row;
    int widest = 0;
    const int last = std::min(h, row + h / 5);
    for (int y = row; y < last; ++y) {
        int xl = mid, xr = mid;
        while (xl >= 0 && !opaque(xl, y))
            --xl;
        while (xr < w && !opaque(xr, y))
            ++xr;
        if (xl > 0 && xr < w - 1) widest = std::max(widest, xr - xl);
    }
    return static_cast<float>(widest) / w;
}

bool placeWig(const HeadFrame& head, const ReferenceHead& ref, float scale, float offset, float hole, int pw,
              int ph, const Fit& fit, WearPlacement* place, float* wigTop, float* wigWidth) {
    if (ref.foreheadWidth < 1 || pw <= 0) return false;
    const float fw = head.foreheadWidth;
    float tw = ref.width * scale / ref.foreheadWidth * fw;
    if (head.eyeLevelWidth > 0 && hole > 0) tw = std::min(tw, 0.92f * head.eyeLevelWidth / hole);
    const float mH = ref.height;
    // Lifted above the head top by the morvel's proportions, and never lower than they put it above the
    // eyes (on the morvel itself both are its head top + offset × its height).
    const float top =
        std::min(head.headTopY + fw * mH * offset / ref.foreheadWidth,
                 head.eyeLineY - fw * (mH * ref.eyeY - mH * offset - ref.headTop) / ref.foreheadWidth);
    place->centreX = head.headCentreX;
    place->centreY = top + 0.5f * tw * ph / pw;
    place->targetWidth = tw;
    place->unit = fw;
    place->rotation = 0;
    *wigTop = place->centreY - fw * fit.y - 0.5f * fit.scale * tw * ph / pw;
    *wigWidth = fit.scale * tw;
    return true;
}

WearPlacement placeHat(const HeadFrame& head, float scale, float offset, int pw, int ph, float wigTop,
                       float wigWidth) {
    float fw = head.foreheadWidth, top = head.headTopY;
    if (wigWidth > 0) {
        fw = std::max(fw, 0.8f * wigWidth);
        top = std::min(top, wigTop + 0.05f * fw);
    }
    WearPlacement place;
    place.targetWidth = fw * scale;
    place.centreX = head.hatCentreX;
    place.centreY = top + offset * fw - 0.5f * place.targetWidth * ph / std::max(pw, 1);
    place.unit = fw;
    return place;
}

WearPlacement placeGlasses(const HeadFrame& head, float scale, float offset, int pw, int ph) {
    const float dx = head.rightEye.x - head.leftEye.x, dy = head.rightEye.y - head.leftEye.y;
    const float d = std::hypot(dx, dy);
    WearPlacement place;
    place.targetWidth = d * scale;
    place.rotation = std::atan2(dy, dx);
    place.centreX = (head.leftEye.x + head.rightEye.x) / 2;
    place.centreY =
        (head.leftEye.y + head.rightEye.y) / 2 + (0.5f - offset) * place.targetWidth * ph / std::max(pw, 1);
    place.unit = d;
    return place;
}

WearPlacement placeBeard(const HeadFrame& head, float unit, float scale, float offset, int pw, int ph) {
    WearPlacement place;
    place.targetWidth = unit * scale;
    place.centreX = head.mouth.x;
    place.centreY = head.mouth.y + (0.5f - offset) * place.targetWidth * ph / std::max(pw, 1);
    place.unit = unit;
    return place;
}

JawWarp jawWarpFor(float band, float offset, float m, float drawnWidth, int pw, int ph, bool realFace) {
    JawWarp warp;
    if (!(band > 0) || !(m > 0.5f) || pw <= 0 || ph <= 0) return warp;
    warp.opening = std::min(0.8f * ph, m / std::max(drawnWidth / pw, 0.001f));
    warp.band = std::max((band - offset) * ph * 1.6f, 0.12f * ph);
    if (realFace) warp.band = std::max(warp.band, 1.7f * warp.opening);
    return warp;
}

int warpBitmapRows(int ph) {
    return ph + static_cast<int>(std::floor(0.8 * ph)) + 2;
}

int warpedRows(int ph, float opening) {
    return std::min(warpBitmapRows(ph), ph + static_cast<int>(std::ceil(opening)) + 1);
}

int warpBeard(const uint8_t* src, int srcStride, int pw, int ph, float offset, const JawWarp& warp,
              uint8_t* dst, int dstStride, float* weights, bool topRowsInPlace) {
    if (!src || !dst || pw <= 0 || ph <= 0) return 0;
    const int rows = warpedRows(ph, warp.opening);
    const float mr = offset * ph;
    const int r0 = static_cast<int>(std::clamp(mr, 0.0f, static_cast<float>(ph)));
    const size_t rowBytes = static_cast<size_t>(pw) * 4;
    auto srcRow = [&](int i) {
        return reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(i) * srcStride);
    };
    if (!topRowsInPlace)
        for (int i = 0; i < std::min(r0, rows); ++i)
            std::memcpy(dst + static_cast<size_t>(i) * dstStride, srcRow(i), rowBytes);
    const float half = pw / 2.0f;
    for (int j = 0; j < pw; ++j) {
        const float q = std::clamp(std::fabs(j + 0.5f - half) / half, 0.0f, 1.0f);
        weights[j] = (1 - smoothstep(q)) * warp.opening * 256;  // in 1/256 rows
    }
    const float band = std::max(warp.band, 1e-3f);
    forRows(r0, rows, pw, [&](int from, int to, int) {
        for (int i = from; i < to; ++i) {
            const float t = smoothstep((i - mr) / band);
            uint32_t* out = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(i) * dstStride);
            for (int j = 0; j < pw; ++j) {
                // The source row, in 1/256 rows; rows below the picture are clear.
                const int sy = std::max(0, static_cast<int>(i * 256 - t * weights[j] + 0.5f));
                const int y0 = sy >> 8;
                const uint32_t f = static_cast<uint32_t>(sy & 255);
                if (y0 >= ph) {
                    out[j] = 0;
                    continue;
                }
                const uint32_t a = srcRow(y0)[j];
                const uint32_t b = y0 + 1 < ph ? srcRow(y0 + 1)[j] : 0;
                out[j] = f == 0 ? a : mix(a, b, f);
            }
        }
    });
    return rows;
}

HeadPose measureHeadPose(const LandmarkSet& set, Point2 faceCentre, float roll) {
    HeadPose pose;
    Vec3 X = point(set, 454) - point(set, 234);
    if (X.x < 0) X = X * -1;
    X = normalised(X);
    Vec3 U = point(set, 10) - point(set, 152);
    U = normalised(U - X * dot(U, X));
    pose.yawSine = X.z;
    pose.pitchSine = -U.z;
    const Vec3 rightEye = (point(set, 263) + point(set, 362)) * 0.5f;
    const Vec3 leftEye = (point(set, 33) + point(set, 133)) * 0.5f;
    const float E = length(rightEye - leftEye);
    const Vec3 crown = point(set, 10) + cross(X, U) * E + U * (0.52f * E);
    pose.crown = toFaceFrame(crown.x, -crown.y, faceCentre, roll);

    const float x13 = toFaceFrame(set.landmarks[13].x, set.landmarks[13].y, faceCentre, roll).x;
    const float x132 = toFaceFrame(set.landmarks[132].x, set.landmarks[132].y, faceCentre, roll).x;
    const float x361 = toFaceFrame(set.landmarks[361].x, set.landmarks[361].y, faceCentre, roll).x;
    const float Z = std::max(1.0f, length(point(set, 132) - point(set, 361)) / 2);
    pose.leftExtent = std::clamp((x13 - std::min(x132, x361)) / Z, 0.2f, 1.5f);
    pose.rightExtent = std::clamp((std::max(x132, x361) - x13) / Z, 0.2f, 1.5f);
    return pose;
}

bool sampleCapSkin(const uint8_t* bgra, int width, int height, Point2 leftEye, Point2 rightEye, float roll,
                   float rgb[3]) {
    if (!bgra || width <= 0 || height <= 0) return false;
    const float d = std::hypot(rightEye.x - leftEye.x, rightEye.y - leftEye.y);
    const float mx = (leftEye.x + rightEye.x) / 2, my = (leftEye.y + rightEye.y) / 2;
    const float c = std::cos(roll), s = std::sin(roll);
    // Offsets in the face's frame (x along the eye line, y down), turned onto the frame.
    auto at = [&](float ox, float oy, float* x, float* y) {
        *x = mx + c * ox - s * oy;
        *y = my + s * ox + c * oy;
    };
    float cheeks[3] = {0, 0, 0};
    int cheekCount = 0;
    for (int j = -1; j <= 1; j += 2) {
        float x = 0, y = 0, colour[3];
        at(j * 0.62f * d, 0.62f * d, &x, &y);
        if (!squareColour(bgra, width, height, x, y, 0.3f * d, roll, colour)) continue;
        for (int k = 0; k < 3; ++k)
            cheeks[k] += colour[k];
        ++cheekCount;
    }
    float forehead[3];
    float fx = 0, fy = 0;
    at(0, -0.5f * d, &fx, &fy);
    const bool haveForehead = squareColour(bgra, width, height, fx, fy, 0.28f * d, roll, forehead);
    if (cheekCount == 0) {
        if (!haveForehead) return false;
        std::copy(forehead, forehead + 3, rgb);
        return true;
    }
    for (float& v : cheeks)
        v /= cheekCount;
    std::copy(cheeks, cheeks + 3, rgb);
    if (haveForehead) {
        // The forehead is nearer the scalp's colour, unless a fringe or a shadow falls on it.
        const float bc = std::max(brightness(cheeks), 1e-3f), bf = std::max(brightness(forehead), 1e-3f);
        float distance = 0;
        for (int k = 0; k < 3; ++k)
            distance = std::max(distance, std::fabs(forehead[k] / bf - cheeks[k] / bc));
        const float ratio = bf / bc;
        if (distance <= 0.22f && ratio >= 0.6f && ratio <= 1.7f) std::copy(forehead, forehead + 3, rgb);
    }
    return true;
}

}  // namespace qm
