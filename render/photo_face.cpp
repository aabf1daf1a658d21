#include "render/photo_face.h"

#include "base/failure.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/affine_blit.h"
#include "render/matrices.h"
#include "render/replacement_faces.h"

namespace qm {

HResult PhotoFace::load() {
    softEllipse45_ = makeSoftEllipse(0.45);
    softEllipse55_ = makeSoftEllipse(0.55);
    softEllipse70_ = makeSoftEllipse(0.7);
    softEllipse80_ = makeSoftEllipse(0.8);
    mouthCavity_ = makeRadialBrush({{0, 0.3, 0.07, 0.08, 1}, {1, 0.09, 0.02, 0.03, 1}});
    lips_ =
        makeRadialBrush({{0, 0.62, 0.26, 0.27, 1}, {0.88, 0.44, 0.14, 0.15, 1}, {1, 0.42, 0.12, 0.13, 0}});
    mouthRimShade_ =
        makeRadialBrush({{0, 0.05, 0.01, 0.01, 0}, {0.6, 0.05, 0.01, 0.01, 0}, {1, 0.05, 0.01, 0.01, 0.8}});
    teeth_ = makeRadialBrush({{0, 0.9, 0.87, 0.8, 1}, {1, 0.45, 0.38, 0.34, 1}});
    darkDot_ =
        makeRadialBrush({{0, 0.18, 0.13, 0.12, 1}, {0.4, 0.18, 0.13, 0.12, 1}, {1, 0.18, 0.13, 0.12, 0}});
    whiteFadeIn_ = makeLinearBrush(0, 0, 0, 1, {whiteStop(0, 0), whiteStop(1, 1)});
    blackFadeOut_ = makeLinearBrush(0, 0, 0, 1, {blackStop(0, 0.3), blackStop(1, 0)});
    for (auto* p : {&softEllipse45_, &softEllipse55_, &softEllipse70_, &softEllipse80_, &mouthCavity_, &lips_,
                    &mouthRimShade_, &teeth_, &darkDot_, &whiteFadeIn_, &blackFadeOut_})
        if (HResult hr = checkPattern(p->get()); hr != kOk) return reportFailure("Engine", __LINE__, hr);
    return kOk;
}

namespace {

float smoothstep(float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return (3 - 2 * t) * t * t;
}

// The brush's unit circle as an ellipse of radii (rx, ry) turned by angle at (cx, cy).
void placeBrush(cairo_pattern_t* brush, float cx, float cy, float rx, float ry, float angle) {
    setBrushTransform(brush, then(then(scaling(rx, ry), rotation(angle)), translation(cx, cy)));
}

}  // namespace

namespace {

// The photo as it is animated: at half size when it is large, since it is drawn smaller than its size on a
// 1280 × 720 frame anyway (a quarter of the pixels to animate and draw every frame).
void makeWorkingCopy(const FacePhoto& full, FacePhoto& work) {
    const int factor = std::max(full.pixelWidth, full.pixelHeight) > 600 ? 2 : 1;
    const float f = 1.0f / factor;
    const int w = static_cast<int>(full.pixelWidth) / factor, h = static_cast<int>(full.pixelHeight) / factor;
    work.anchors = full.anchors;
    work.jawY = full.jawY;
    work.faceFound = full.faceFound;
    work.restEyeOpen = full.restEyeOpen;
    work.skinColour = full.skinColour;
    work.skinColourFound = full.skinColourFound;
    work.neck = full.neck;
    work.pixelWidth = static_cast<uint32_t>(w), work.pixelHeight = static_cast<uint32_t>(h);
    work.width = static_cast<float>(w), work.height = static_cast<float>(h);
    work.box = {full.box.foreheadX * f, full.box.headTop * f, full.box.foreheadWidth * f,
                full.box.eyeLevelWidth * f};
    auto scale = [f](Point2 p) { return Point2{p.x * f, p.y * f}; };
    FaceGeometry g = full.geometry;
    for (Point2* p : {&g.leftEye, &g.rightEye, &g.leftBrow, &g.rightBrow, &g.mouthCentre, &g.faceCentre,
                      &g.innerMouth, &g.nose, &g.chin})
        *p = scale(*p);
    g.eyeWidth *= f, g.mouthWidth *= f, g.mouthHeight *= f, g.faceWidth *= f;
    work.geometry = g;
    for (int i = 0; i < 21; ++i)
        work.jawPoints[i] = scale(full.jawPoints[i]);
    work.mouthLeft = scale(full.mouthLeft), work.mouthRight = scale(full.mouthRight);
    work.bitmap = makePaddedSurface(w, h);
    if (w <= 0 || h <= 0 || checkSurface(work.bitmap.get()) != kOk ||
        full.trimmedPixels.size() < static_cast<size_t>(full.pixelWidth) * full.pixelHeight * 4) {
        work.bitmap.reset();
        return;
    }
    cairo_surface_flush(work.bitmap.get());
    uint8_t* dst = cairo_image_surface_get_data(work.bitmap.get());
    const int stride = cairo_image_surface_get_stride(work.bitmap.get());
    const uint8_t* src = full.trimmedPixels.data();
    const size_t srcRow = static_cast<size_t>(full.pixelWidth) * 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 4; ++k) {
                int sum = 0;
                for (int j = 0; j < factor; ++j)
                    for (int i = 0; i < factor; ++i)
                        sum += src[(static_cast<size_t>(y) * factor + j) * srcRow + (x * factor + i) * 4 + k];
                dst[static_cast<size_t>(y) * stride + x * 4 + k] =
                    static_cast<uint8_t>((sum + factor * factor / 2) / (factor * factor));
            }
    cairo_surface_mark_dirty(work.bitmap.get());
}

// Pastes the camera's pixels about (sx, sy), an ellipse of radii (rx, ry) upright in the face's frame, at
// picture point (qx, qy), scaled by (kx, ky) and turned by angle, through T then P, seen through `brush`.
void pasteScaled(Graphics& g, const FaceGeometry& face, float sx, float sy, float rx, float ry, float qx,
                 float qy, float angle, float kx, float ky, cairo_pattern_t* brush, const cairo_matrix_t& T,
                 const cairo_matrix_t& placement) {
    if (!(rx >= 0.5f && ry >= 0.5f && rx <= 1e4f && ry <= 1e4f && kx > 0 && ky > 0)) return;
    cairo_t* cr = g.cr.get();
    setBrushTransform(g.sourceBrush.get(), then(translation(-sx, -sy), rotation(-face.roll)));
    double tx = qx, ty = qy;
    mapPoint(T, &tx, &ty);
    const cairo_matrix_t drawing =
        then(then(then(scaling(kx, ky), rotation(angle)), translation(tx, ty)), placement);
    if (!usable(drawing)) return;
    setBrushTransform(brush, scaling(rx, ry));
    cairo_save(cr);
    cairo_set_matrix(cr, &drawing);
    cairo_set_source(cr, g.sourceBrush.get());
    cairo_mask(cr, brush);
    cairo_restore(cr);
}

}  // namespace

void PhotoFace::setPhoto(std::unique_ptr<FacePhoto> photo) {
    photo_ = std::move(photo);
    work_ = FacePhoto{};
    live_.reset();
    liveCr_.reset();
    toned_.reset();
    tonedFrom_ = nullptr;
    base_ = nullptr;
    if (!photo_) return;
    makeWorkingCopy(*photo_, work_);
    shell_ = FacePicture{};
    shell_.box = work_.box;
    shell_.width = work_.width;
    shell_.height = work_.height;
    shell_.anchors = work_.anchors;
    const int w = static_cast<int>(work_.pixelWidth), h = static_cast<int>(work_.pixelHeight);
    SurfacePtr live = makePaddedSurface(w, h + h / 8);
    if (checkSurface(live.get()) != kOk) return;
    ContextPtr cr{cairo_create(live.get())};
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return;
    live_ = std::move(live);
    liveCr_ = std::move(cr);
}

void PhotoFace::tone(const FrameFilters& filters) {
    // Exposure and warmth tint a copy of the photo, made again only when they or the neck change; the
    // animation works from it. Within ±0.01 the photo is used as it is.
    const float exposure = std::clamp(filters.photo.exposure, -1.0f, 1.0f);
    const float warmth = std::clamp(filters.photo.warmth, -1.0f, 1.0f);
    base_ = work_.bitmap.get();
    if (!work_.faceFound || (std::fabs(exposure) <= 0.01f && std::fabs(warmth) <= 0.01f)) return;
    const int w = static_cast<int>(work_.pixelWidth), h = static_cast<int>(work_.pixelHeight);
    if (!toned_ || tonedFrom_ != work_.bitmap.get() || tonedExposure_ != exposure || tonedWarmth_ != warmth) {
        if (!toned_) toned_ = makePaddedSurface(w, h);
        if (checkSurface(toned_.get()) != kOk) {
            toned_.reset();
            return;
        }
        const float gain = std::exp2(exposure);
        ColourMatrix m;
        m.m[0] = gain * (1 + 0.1f * warmth);
        m.m[5] = gain;
        m.m[10] = gain * (1 - 0.14f * warmth);
        cairo_surface_flush(base_);
        cairo_surface_flush(toned_.get());
        applyColourMatrix(
            m, {cairo_image_surface_get_data(base_), w, h, cairo_image_surface_get_stride(base_)},
            {cairo_image_surface_get_data(toned_.get()), w, h, cairo_image_surface_get_stride(toned_.get())});
        cairo_surface_mark_dirty(toned_.get());
        tonedFrom_ = work_.bitmap.get();
        tonedExposure_ = exposure;
        tonedWarmth_ = warmth;
    }
    base_ = toned_.get();
}

void PhotoFace::featheredPhoto(cairo_t* cr, cairo_pattern_t* brush, float cx, float cy, float rx, float ry,
                               float angle, double dx, double dy) {
    // The photo moved by (dx, dy), seen through a soft ellipse; only the square about it is touched.
    const double side = 2 * std::max(rx, ry) + 4;
    placeBrush(brush, cx, cy, rx, ry, angle);
    cairo_save(cr);
    cairo_rectangle(cr, cx - side / 2, cy - side / 2, side, side);
    cairo_clip(cr);
    cairo_set_source_surface(cr, base_, dx, dy);
    cairo_mask(cr, brush);
    cairo_restore(cr);
}

void PhotoFace::updateLive(const FaceGeometry& face, const FaceBaselines& baselines,
                           const FrameFilters& filters) {
    if (!photo_) return;
    if (std::fabs(photo_->neck - filters.photo.neck) > 1e-4f) {
        applyNeck(*photo_, std::clamp(filters.photo.neck, 0.0f, 1.0f));
        makeWorkingCopy(*photo_, work_);
        tonedFrom_ = nullptr;
    }
    if (!ready()) return;
    tone(filters);
    cairo_t* cr = liveCr_.get();
    open_ = smoothstep((face.mouthOpen - 0.05f) / 0.3f);
    closedMouthWidth_ = baselines.closedMouthWidth;
    smile_ =
        baselines.closedMouthWidth > 0
            ? (1 - open_) *
                  smoothstep((face.mouthWidth / std::max(baselines.closedMouthWidth, 1.0f) - 1.15f) / 0.3f)
            : 0;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, base_, 0, 0);
    cairo_paint(cr);  // clears the rows below the photo too
    cairo_restore(cr);
    if (work_.faceFound) {
        if (filters.photo.photoMouth) openMouth(cr, face);
        const FaceGeometry& p = work_.geometry;
        if (smile_ > 0.02f) {
            // The cheeks lift under a smile.
            const float d = std::hypot(p.rightEye.x - p.leftEye.x, p.rightEye.y - p.leftEye.y);
            const float lift = 1 + 0.1f * smile_;
            const Point2 eyes[2] = {p.leftEye, p.rightEye};
            for (int i = 0; i < 2; ++i) {
                const float cx = eyes[i].x + (i == 0 ? -0.1f : 0.1f) * d, cy = eyes[i].y + 0.5f * d;
                cairo_save(cr);
                const double side = 0.9 * d + 4;
                cairo_rectangle(cr, cx - side / 2, cy - side / 2, side, side);
                cairo_clip(cr);
                cairo_translate(cr, cx, cy);
                cairo_scale(cr, lift, lift);
                cairo_translate(cr, -cx, -cy);
                cairo_set_source_surface(cr, base_, 0, 0);
                cairo_identity_matrix(cr);
                placeBrush(softEllipse45_.get(), cx, cy, 0.45f * d, 0.45f * d, 0);
                cairo_mask(cr, softEllipse45_.get());
                cairo_restore(cr);
            }
        }
        if (filters.photo.photoEyes) animateEyes(cr, face, baselines, smile_);
    }
    cairo_surface_flush(live_.get());
}

void PhotoFace::animateEyes(cairo_t* cr, const FaceGeometry& face, const FaceBaselines& b, float smile) {
    const FaceGeometry& p = work_.geometry;
    const float ew = p.eyeWidth, h = ew * work_.restEyeOpen * 0.5f;
    if (!(ew > 1)) return;
    const float upX = std::sin(p.roll), upY = -std::cos(p.roll);
    const Point2 eyes[2] = {p.leftEye, p.rightEye};
    const Point2 brows[2] = {p.leftBrow, p.rightBrow};

    // Brows rise with the user's.
    float raise = b.browBaseline > 0 ? face.browRaise / b.browBaseline - 1 : 0;
    raise = std::clamp(std::max(raise, 0.12f * open_), -0.1f, 0.3f);
    if (std::fabs(raise) > 0.01f)
        for (int i = 0; i < 2; ++i) {
            const float bd = std::hypot(brows[i].x - eyes[i].x, brows[i].y - eyes[i].y);
            const float ox = bd * raise * upX, oy = bd * raise * upY;
            featheredPhoto(cr, softEllipse45_.get(), brows[i].x + ox / 2, brows[i].y + oy / 2, 0.85f * ew,
                           std::max(0.55f * bd, 0.3f * ew), p.roll, ox, oy);
        }

    // The eyes look where the user's do.
    const float gx = std::clamp(1.2f * (b.gazeFastX - b.gazeSlowX), -0.12f, 0.12f) * ew;
    const float gy = std::clamp(-1.2f * (b.gazeFastY - b.gazeSlowY), -0.05f, 0.05f) * ew;
    if (std::fabs(gx) + std::fabs(gy) > 0.3f) {
        const float c = std::cos(p.roll), s = std::sin(p.roll);
        for (const Point2& e : eyes)
            featheredPhoto(cr, softEllipse70_.get(), e.x, e.y, 0.46f * ew, 0.95f * h, p.roll, c * gx - s * gy,
                           s * gx + c * gy);
    }

    // Blink: the skin above each eye slides down over it.
    float closed = 1 - smoothstep((face.eyeOpen / std::max(b.eyeOpenReference, 0.05f) - 0.35f) / 0.4f);
    closed = std::max(closed, 0.3f * smile);
    if (closed <= 0.02f) return;
    for (const Point2& e : eyes) {
        const float lid = 1.3f * h - 2.6f * h * closed;
        const float lx = e.x + lid * upX, ly = e.y + lid * upY;
        // The lid's edge fades in across it: a vertical gradient along "up".
        cairo_pattern_t* fade = whiteFadeIn_.get();
        const float x0 = e.x + (lid - 0.25f * h) * upX, y0 = e.y + (lid - 0.25f * h) * upY;
        const float len = 0.4f * h;
        // Brush (0, 0) → (0, 1) onto the segment from e − 0.25 h to e + 0.15 h along up.
        const cairo_matrix_t along = {-upY * len, upX * len, upX * len, upY * len, x0, y0};
        setBrushTransform(fade, along);
        const float rx = 0.6f * ew, ry = 1.9f * h;
        const double side = 2 * std::max(rx, ry) + 4;
        cairo_save(cr);
        cairo_rectangle(cr, e.x - side / 2, e.y - side / 2, side, side);
        cairo_clip(cr);
        cairo_push_group(cr);
        cairo_set_source_surface(cr, base_, -2.6 * h * upX, -2.6 * h * upY);
        placeBrush(softEllipse70_.get(), e.x, e.y, rx, ry, p.roll);
        cairo_mask(cr, softEllipse70_.get());
        cairo_pop_group_to_source(cr);
        cairo_mask(cr, fade);
        if (closed > 0.35f) {
            const float lrx = 0.475f * ew, lry = std::max(1.2f, 0.14f * h);
            placeBrush(darkDot_.get(), lx, ly, lrx, lry, p.roll);
            cairo_set_source(cr, darkDot_.get());
            cairo_save(cr);
            cairo_translate(cr, lx, ly);
            cairo_rotate(cr, p.roll);
            cairo_scale(cr, lrx, lry);
            cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
            cairo_restore(cr);
            cairo_clip(cr);
            cairo_paint_with_alpha(cr, std::min((closed - 0.35f) * 1.5f, 0.85f));
        }
        cairo_restore(cr);
    }
}

void PhotoFace::openMouth(cairo_t* cr, const FaceGeometry& face) {
    const Point2 a = work_.mouthLeft, b = work_.mouthRight;
    const float mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
    const float theta = std::atan2(b.y - a.y, b.x - a.x);
    const float mw = std::hypot(b.x - a.x, b.y - a.y) / 0.98f, hw = 0.49f * mw;
    if (!(mw > 2)) return;
    const float o = std::max(0.75f, 0.6f * std::max(0.0f, face.mouthOpen) * mw);
    const float amount = smoothstep((o - 0.02f * mw) / (0.06f * mw));
    if (amount <= 0.01f) return;
    const float q0 = (hw * hw - o * o) / (2 * o), R = q0 + o;
    auto arc = [&](float u) {
        return std::fabs(u) < hw ? std::sqrt(std::max(0.0f, R * R - u * u)) - q0 : 0.0f;
    };
    const float t = std::max(1.5f, 0.12f * o);
    const float c = std::cos(theta), s = std::sin(theta), as = std::fabs(s);

    // 1. The lower lip drops to the arc and the chin follows: a warp of the rectangle about the mouth.
    const int W = static_cast<int>(work_.pixelWidth), H = static_cast<int>(work_.pixelHeight);
    const int targetH = cairo_image_surface_get_height(live_.get());
    const int x0 = std::max(0, static_cast<int>(std::floor(mx - 1.1f * mw - as * (targetH - my) - 2)));
    const int x1 = std::min(W, static_cast<int>(std::ceil(mx + 1.1f * mw + as * (targetH - my) + 2)));
    const int y0 = std::max(0, static_cast<int>(std::floor(my - as * 1.1f * mw - 2)));
    const int y1 = targetH;
    if (x1 <= x0 || y1 <= y0) return;
    const int rw = x1 - x0, rh = y1 - y0;
    if (!mouth_ || cairo_image_surface_get_width(mouth_.get()) != rw ||
        cairo_image_surface_get_height(mouth_.get()) != rh) {
        mouth_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, rw, rh));
        if (checkSurface(mouth_.get()) != kOk) {
            mouth_.reset();
            return;
        }
    }
    cairo_surface_flush(mouth_.get());
    uint8_t* out = cairo_image_surface_get_data(mouth_.get());
    const int outStride = cairo_image_surface_get_stride(mouth_.get());
    const uint8_t* src = cairo_image_surface_get_data(base_);
    const int srcStride = cairo_image_surface_get_stride(base_);
    auto pixel = [&](int x, int y, int k) -> float {
        return x < 0 || y < 0 || x >= W || y >= H ? 0.0f
                                                  : src[static_cast<size_t>(y) * srcStride + x * 4 + k];
    };
    const float reach = 1.1f * mw, fall = std::max(1.2f * o, 0.22f * mw);
    for (int y = y0; y < y1; ++y) {
        uint8_t* row = out + static_cast<size_t>(y - y0) * outStride;
        for (int x = x0; x < x1; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float along = (px - mx) * c + (py - my) * s, down = (py - my) * c - (px - mx) * s;
            const float lip = arc(along);
            float d = 0;
            if (down > lip) {
                const float hx = std::min(1.0f, std::fabs(along) / reach);
                const float vy = std::min(1.0f, (down - lip) / fall);
                d = std::min(down, (((1 - smoothstep(hx)) * o - lip) * smoothstep(vy) + lip) * amount);
            }
            uint8_t* o4 = row + (x - x0) * 4;
            if (d <= 0.001f) {
                if (y < H)
                    std::memcpy(o4, src + static_cast<size_t>(y) * srcStride + x * 4, 4);
                else
                    std::memset(o4, 0, 4);
                continue;
            }
            // Sampled from d higher along the mouth's downward direction.
            const float sx = px + d * s - 0.5f, sy = py - d * c - 0.5f;
            const int ix = static_cast<int>(std::floor(sx)), iy = static_cast<int>(std::floor(sy));
            const float fx = sx - ix, fy = sy - iy;
            if (ix >= 0 && iy >= 0 && ix + 1 < W && iy + 1 < H) {
                const uint8_t* p0 = src + static_cast<size_t>(iy) * srcStride + ix * 4;
                const uint8_t* p1 = p0 + srcStride;
                const float w00 = (1 - fx) * (1 - fy), w01 = fx * (1 - fy), w10 = (1 - fx) * fy,
                            w11 = fx * fy;
                for (int k = 0; k < 4; ++k)
                    o4[k] = static_cast<uint8_t>(p0[k] * w00 + p0[k + 4] * w01 + p1[k] * w10 +
                                                 p1[k + 4] * w11 + 0.5f);
                continue;
            }
            for (int k = 0; k < 4; ++k) {
                const float v = (pixel(ix, iy, k) * (1 - fx) + pixel(ix + 1, iy, k) * fx) * (1 - fy) +
                                (pixel(ix, iy + 1, k) * (1 - fx) + pixel(ix + 1, iy + 1, k) * fx) * fy;
                o4[k] = static_cast<uint8_t>(std::min(255.0f, v + 0.5f));
            }
        }
    }
    cairo_surface_mark_dirty(mouth_.get());
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, x0, y0, rw, rh);
    cairo_clip(cr);
    cairo_set_source_surface(cr, mouth_.get(), x0, y0);
    cairo_paint(cr);
    cairo_restore(cr);

    // 2. The inside of the mouth, in the mouth's own frame.
    cairo_save(cr);
    cairo_translate(cr, mx, my);
    cairo_rotate(cr, theta);
    cairo_translate(cr, -mx, -my);
    // The opening: the lower arc from corner to corner, back along the upper arc of sagitta t.
    cairo_new_path(cr);
    const double lowerCy = my - q0;
    const double a0 = std::atan2(my - lowerCy, -hw), a1 = std::atan2(my - lowerCy, hw);
    cairo_arc_negative(cr, mx, lowerCy, R, a0, a1);
    const double qu = (hw * hw - t * t) / (2 * t), Ru = qu + t, upperCy = my + qu;
    cairo_arc_negative(cr, mx, upperCy, Ru, std::atan2(my - upperCy, hw), std::atan2(my - upperCy, -hw));
    cairo_close_path(cr);
    cairo_clip(cr);
    cairo_push_group(cr);
    cairo_rectangle(cr, mx - hw, my - t, 2 * hw, t + o);
    cairo_clip(cr);
    placeBrush(mouthCavity_.get(), mx, my + 0.45f * o, 0.8f * hw, 0.8f * o, 0);
    cairo_set_source(cr, mouthCavity_.get());
    cairo_paint(cr);
    const float tongue = smoothstep((o - 0.08f * mw) / (0.14f * mw));
    if (tongue > 0.01f) {
        placeBrush(lips_.get(), mx, my + 0.95f * o, 0.8f * hw, 0.5f * o, 0);
        cairo_set_source(cr, lips_.get());
        cairo_paint_with_alpha(cr, tongue);
    }
    placeBrush(mouthRimShade_.get(), mx, my + 0.4f * o, hw, 1.2f * o, 0);
    cairo_set_source(cr, mouthRimShade_.get());
    cairo_paint(cr);
    const float th = std::min(0.36f * o, 0.14f * mw);
    if (th > 1) {
        // Upper teeth under the upper lip, with dark gaps between them.
        const float c2 = (hw * hw - th * th) / (2 * th);
        cairo_save(cr);
        cairo_new_path(cr);
        cairo_arc(cr, mx, my - t - c2, th + c2, 0, 2 * M_PI);
        cairo_clip(cr);
        cairo_rectangle(cr, mx - hw, my - 2 * t, 2 * hw, 2 * t + 2 * th);
        cairo_clip(cr);
        placeBrush(teeth_.get(), mx, my - t, 1.05f * hw, 2.2f * th, 0);
        cairo_set_source(cr, teeth_.get());
        cairo_paint(cr);
        for (float k : {0.0f, 1.0f, -1.0f, 1.9f, -1.9f, 2.7f, -2.7f}) {
            const float gx = mx + 0.105f * mw * k;
            if (std::fabs(gx - mx) >= 0.95f * hw) continue;
            cairo_set_source_rgba(cr, 0.35, 0.25, 0.22, 0.45 * (1 - 0.5 * std::fabs(gx - mx) / hw));
            cairo_rectangle(cr, gx - 0.6, my - 2 * t, 1.2, 2 * t + 2 * th);
            cairo_fill(cr);
        }
        cairo_restore(cr);
    }
    setBrushTransform(blackFadeOut_.get(),
                      then(scaling(1, 0.5f * std::max(th, 1.0f) + t), translation(0, my - t)));
    cairo_set_source(cr, blackFadeOut_.get());
    cairo_paint(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, amount);
    cairo_restore(cr);
}

DrawnFacePicture PhotoFace::draw(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                                 const SmoothedAnchors& s, const cairo_matrix_t& placement) {
    DrawnFacePicture drawn;
    if (!ready()) return drawn;
    const FacePhoto& photo = work_;
    const FaceAnchors& a = photo.anchors;
    const float W = photo.width, H = photo.height;
    const Fit& fit = filters.faceFit;
    const float w = s.faceWidth * fit.scale;
    const float ox = fit.x * w, oy = -fit.y * w;
    const float c = std::cos(s.roll), sn = std::sin(s.roll);
    const float x = s.centreX + c * ox - sn * oy, y = s.centreY + sn * ox + c * oy;
    const float angle = s.roll + filters.photo.tilt;
    const float k = w / a.faceWidthFraction / W, v = k * a.verticalScale;
    const cairo_matrix_t T =
        then(then(then(translation(-a.centreX * W, -a.centreY * H), scaling(k, v)), rotation(angle)),
             translation(x, y));
    const cairo_matrix_t drawing = then(T, placement);
    if (!(w > 0) || !usable(drawing)) return drawn;

    cairo_surface_t* image = live_.get();
    // The jaw stretches a little as the mouth opens: the rows below the eye line are drawn stretched about
    // it, those above as they are, each pixel once.
    const float eyeLine = (a.leftEyeY + a.rightEyeY) / 2 * H;
    const float F = photo.faceFound ? 1 + 0.03f * open_ : 1;
    float mouthY = a.mouthY * H;
    cairo_matrix_t inverse = drawing;
    if (F > 1.001f && cairo_matrix_invert(&inverse) == CAIRO_STATUS_SUCCESS) {
        // A canvas pixel's picture row is inverse.yx·x + inverse.yy·y + inverse.y0.
        BlitShape above, below;
        above.keep[0] = -inverse.yx, above.keep[1] = -inverse.yy, above.keep[2] = eyeLine - inverse.y0;
        const cairo_matrix_t stretched =
            then(then(then(translation(0, -eyeLine), scaling(1, F)), translation(0, eyeLine)), drawing);
        cairo_matrix_t back = stretched;
        cairo_matrix_invert(&back);
        below.keep[0] = back.yx, below.keep[1] = back.yy, below.keep[2] = back.y0 - eyeLine;
        drawPictureAffine(g.canvas.get(), image, drawing, &above);
        drawPictureAffine(g.canvas.get(), image, stretched, &below);
        mouthY = eyeLine + (mouthY - eyeLine) * F;
    } else {
        drawPictureAffine(g.canvas.get(), image, drawing);
    }
    cairo_surface_mark_dirty(g.canvas.get());

    // The user's own eyes and mouth where the photo's are not animated (always without a face in it).
    const float fs = a.featureScale;
    const bool myEyes = !photo.faceFound || !filters.photo.photoEyes;
    const bool myMouth = !photo.faceFound || !filters.photo.photoMouth;
    // Pasted features turn with the face alone, not with the photo's tilt.
    const cairo_matrix_t Tf =
        then(then(then(translation(-a.centreX * W, -a.centreY * H), scaling(k, v)), rotation(s.roll)),
             translation(x, y));
    if (myEyes) {
        pasteFeature(g, face, (2 * face.leftEye.x + face.leftBrow.x) / 3,
                     (2 * face.leftEye.y + face.leftBrow.y) / 3, 0.95f * face.eyeWidth, 0.85f * face.eyeWidth,
                     a.leftEyeX * W, a.leftEyeY * H, s.roll, fs, Tf, placement);
        pasteFeature(g, face, (2 * face.rightEye.x + face.rightBrow.x) / 3,
                     (2 * face.rightEye.y + face.rightBrow.y) / 3, 0.95f * face.eyeWidth,
                     0.85f * face.eyeWidth, a.rightEyeX * W, a.rightEyeY * H, s.roll, fs, Tf, placement);
    }
    const float opening = 0.85f * fs * std::max(0.0f, face.mouthWidth * face.mouthOpen) / v;
    float pastedMouthY = mouthY;
    if (myMouth) {
        if (!photo.faceFound) {
            pastedMouthY = mouthY + opening;
            pasteFeature(g, face, face.mouthCentre.x, face.mouthCentre.y, 0.72f * face.mouthWidth,
                         0.85f * std::max(face.mouthHeight, 0.25f * face.mouthWidth), a.mouthX * W,
                         pastedMouthY, s.roll, fs, Tf, placement);
        } else {
            // The user's mouth sized to the photo's: no wider than the photo's own, squeezed as it opens,
            // and kept above the chin.
            const FaceGeometry& p = photo.geometry;
            const float m = std::max(face.mouthHeight, 0.25f * face.mouthWidth);
            const float G = closedMouthWidth_ > 1
                                ? std::clamp(k * p.mouthWidth / (closedMouthWidth_ * fs), 0.7f, 1.0f)
                                : 1.0f;
            const float q = std::max(
                0.5f, (m - 0.4f * face.mouthWidth * std::max(0.0f, face.mouthOpen)) / std::max(m, 1.0f));
            const float kk = 0.75f * m * fs * G * q / v;
            const float mouthTop = eyeLine + (p.mouthCentre.y - 0.5f * p.mouthHeight - eyeLine) * F;
            const float chin = eyeLine + (p.chin.y - eyeLine) * F;
            const float Hf =
                chin > mouthTop && kk > 0
                    ? std::clamp((chin - 0.12f * (chin - mouthTop) - mouthTop) / (1.8f * kk), 0.35f, 1.0f)
                    : 1.0f;
            pastedMouthY = std::max(mouthY, mouthTop + 0.8f * kk * Hf);
            pasteScaled(g, face, face.mouthCentre.x, face.mouthCentre.y, 0.62f * face.mouthWidth, 0.75f * m,
                        a.mouthX * W, pastedMouthY, s.roll, G * fs, G * fs * Hf * q, softEllipse80_.get(), Tf,
                        placement);
        }
    }

    drawn.picture = &shell_;
    drawn.x = x;
    drawn.y = y;
    drawn.angle = angle;
    FacePicturePlacement& where = drawn.where;
    where.pictureTransform = T;
    where.anchorX = a.centreX * W;
    where.anchorY = a.centreY * H;
    where.horizontalScale = k;
    where.leftEyeX = a.leftEyeX * W, where.leftEyeY = a.leftEyeY * H;
    where.rightEyeX = a.rightEyeX * W, where.rightEyeY = a.rightEyeY * H;
    where.mouthX = a.mouthX * W;
    where.mouthY = pastedMouthY;
    where.mouthDrop =
        myMouth ? fs * 0.85f * std::max(0.0f, face.mouthWidth * face.mouthOpen) : open_ * k * 0.1f * W;
    return drawn;
}

}  // namespace qm
