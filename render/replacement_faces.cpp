#include "render/replacement_faces.h"
#include "render/matrices.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "base/failure.h"
#include "render/affine_blit.h"
#include "render/face_anchors.h"

namespace qm {

namespace {

float smoothstep(float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return (3 - 2 * t) * t * t;
}

void quadraticTo(cairo_t* cr, double qx, double qy, double x, double y) {
    double x0 = 0, y0 = 0;
    cairo_get_current_point(cr, &x0, &y0);
    cairo_curve_to(cr, x0 + 2.0 / 3 * (qx - x0), y0 + 2.0 / 3 * (qy - y0), x + 2.0 / 3 * (qx - x),
                   y + 2.0 / 3 * (qy - y), x, y);
}

// Solid colours: Cairo keeps solid patterns immutable but recycles them, so this costs no allocation.
void setColour(Graphics& g, double r, double gr, double b, double a) {
    cairo_set_source_rgba(g.cr.get(), r, gr, b, a);
}

void drawGooglyEye(Graphics& g, const FaceArt& art, const GooglyState& state, int eye, float r, float angle,
                   double eyeX, double eyeY, const cairo_matrix_t& placement, float closed) {
    cairo_t* cr = g.cr.get();
    const cairo_matrix_t eyeFrame = then(then(rotation(angle), translation(eyeX, eyeY)), placement);
    if (!(r > 0.5f) || !usable(eyeFrame)) return;
    cairo_save(cr);
    cairo_set_matrix(cr, &eyeFrame);

    // Shadow, eyeball.
    setBrushTransform(art.eyeShadow.get(), then(scaling(1.25 * r, 1.25 * r), translation(0, 0.12 * r)));
    cairo_set_source(cr, art.eyeShadow.get());
    ellipsePath(cr, 0, 0.12 * r, 1.25 * r, 1.25 * r);
    cairo_fill(cr);
    setBrushTransform(art.eyeball.get(), scaling(r, r));
    cairo_set_source(cr, art.eyeball.get());
    ellipsePath(cr, 0, 0, r, r);
    cairo_fill(cr);

    // Pupil: its offset lives on the screen, so it is turned back by the eye's angle.
    const double c = std::cos(-angle), s = std::sin(-angle);
    const double px = state.x[eye] * r, py = state.y[eye] * r;
    setColour(g, 0.0667, 0.0667, 0.0667, 1);
    ellipsePath(cr, c * px - s * py, s * px + c * py, 0.52 * r, 0.52 * r);
    cairo_fill(cr);

    // Lid, inside the eyeball.
    if (closed > 0.02f) {
        const double lid = 2.1 * r * closed - r;
        cairo_save(cr);
        ellipsePath(cr, 0, 0, r, r);
        cairo_clip(cr);
        cairo_move_to(cr, -r, -r);
        cairo_line_to(cr, r, -r);
        cairo_line_to(cr, r, lid - 0.25 * r);
        quadraticTo(cr, 0, lid + 0.25 * r, -r, lid - 0.25 * r);
        cairo_close_path(cr);
        setBrushTransform(art.morvelSkin.get(), then(scaling(1, lid + r), translation(0, -r)));
        cairo_set_source(cr, art.morvelSkin.get());
        cairo_fill(cr);
        cairo_restore(cr);
    }

    // Outline and highlight.
    setColour(g, 0, 0, 0, 0.3);
    ellipsePath(cr, 0, 0, r, r);
    cairo_set_line_width(cr, std::max(1.0, 0.05 * r));
    cairo_stroke(cr);
    setColour(g, 1, 1, 1, 0.75);
    cairo_save(cr);
    cairo_translate(cr, -0.38 * r, -0.42 * r);
    cairo_rotate(cr, -34.377468 * M_PI / 180);
    ellipsePath(cr, 0, 0, 0.2 * r, 0.12 * r);
    cairo_restore(cr);
    cairo_fill(cr);
    cairo_restore(cr);
}

// A picture made later must read now: it is checked cheaply, and decoded only when the check fails, so
// that its failure is reported the way every picture's is.
HResult checkPictureReads(const std::string& path) {
    if (decodablePictureFile(path)) return kOk;
    Picture failed;
    return loadPicture(path, false, &failed);
}

}  // namespace

#define QM_CHECK(expr)                                                                       \
    do {                                                                                     \
        if (HResult hr_ = (expr); hr_ != kOk) return reportFailure("Engine", __LINE__, hr_); \
    } while (0)

HResult loadFacePictureArt(const std::string& folder, int index, FaceArt* art) {
    FaceArt& a = *art;
    if (a.faces[index].bitmap) return kOk;
    const FaceAnchors& anchors = kFaceAnchors[index];
    float relativeTop = 0;
    if (anchors.topFromMorvel) {
        if (HResult hr = loadFacePictureArt(folder, kMorvelPicture, art); hr != kOk) return hr;
        relativeTop = relativeHeadTop(a.faces[kMorvelPicture].box, kFaceAnchors[kMorvelPicture],
                                      a.faces[kMorvelPicture].width, a.faces[kMorvelPicture].height);
    }
    return loadFacePicture(folder + kFacePictureFiles[index], anchors,
                           anchors.topFromMorvel ? &relativeTop : nullptr, &a.faces[index]);
}

HResult loadKittenArt(const std::string& folder, FaceArt* art) {
    FaceArt& a = *art;
    if (a.kitten.bitmap) return kOk;
    if (HResult hr = loadPicture(folder + kKittenPictureFile, false, &a.kitten); hr != kOk) return hr;
    a.kittenWidth = cairo_image_surface_get_width(a.kitten.bitmap.get());
    a.kittenHeight = cairo_image_surface_get_height(a.kitten.bitmap.get());
    a.kittenBrush = makeBitmapBrush(a.kitten.bitmap.get());
    QM_CHECK(checkPattern(a.kittenBrush.get()));
    for (int level = 0; level < 3; ++level) {
        SurfacePtr copy =
            makePaddedSurface(std::max(1, a.kittenWidth >> level), std::max(1, a.kittenHeight >> level));
        QM_CHECK(checkSurface(copy.get()));
        ContextPtr c(cairo_create(copy.get()));
        cairo_scale(c.get(), 1.0 / (1 << level), 1.0 / (1 << level));
        cairo_set_source_surface(c.get(), a.kitten.bitmap.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(c.get()), CAIRO_FILTER_GOOD);
        cairo_paint(c.get());
        QM_CHECK(hresultFromCairo(cairo_status(c.get())));
        a.kittenCopies[level] = std::move(copy);
    }
    return kOk;
}

HResult loadFaceArt(const std::string& folder, FaceArt* art, FaceArtLoading loading) {
    FaceArt& a = *art;
    // The morvel is always made: the banana and the worn items measure against it.
    if (HResult hr = loadFacePictureArt(folder, kMorvelPicture, art); hr != kOk) return hr;
    for (int i = 0; i < kFacePictureCount; ++i) {
        const HResult hr = loading == FaceArtLoading::Everything
                               ? loadFacePictureArt(folder, i, art)
                               : checkPictureReads(folder + kFacePictureFiles[i]);
        if (hr != kOk) return hr;
    }

    a.eyeball = makeRadialBrush(
        {{0, 1, 1, 1, 1}, {0.75, 0.94902, 0.94902, 0.94902, 1}, {1, 0.811765, 0.811765, 0.811765, 1}}, -0.3,
        -0.35);
    a.eyeShadow = makeRadialBrush({blackStop(0, 0.35), blackStop(0.75, 0.35), blackStop(1, 0)});
    a.morvelSkin = makeLinearBrush(
        0, 0, 0, 1, {{0, 0.788235, 0.643137, 0.419608, 1}, {1, 0.654902, 0.490196, 0.270588, 1}});
    for (auto* p : {&a.eyeball, &a.eyeShadow, &a.morvelSkin})
        QM_CHECK(checkPattern(p->get()));
    a.kittenMouth = makeLinearBrush(
        0, 0, 0, 1, {{0, 0.117647, 0.027451, 0.0352941, 1}, {1, 0.352941, 0.101961, 0.12549, 1}});
    QM_CHECK(checkPattern(a.kittenMouth.get()));

    return loading == FaceArtLoading::Everything ? loadKittenArt(folder, art)
                                                 : checkPictureReads(folder + kKittenPictureFile);
}

#undef QM_CHECK

float blinkAmount(float eyeOpen, float eyeOpenReference) {
    const float f = std::clamp((eyeOpen / std::max(eyeOpenReference, 0.05f) - 0.35f) / 0.4f, 0.0f, 1.0f);
    return 1 - (3 - 2 * f) * f * f;
}

float kittenMouthOpening(float mouthOpen) {
    return smoothstep((mouthOpen - 0.03f) / 0.22f);
}

void stepPupils(GooglyState& st, float headVelocityX, float headVelocityY, float r) {
    float ax = 0, ay = 0;
    if (!st.reset && r > 0) {
        ax = std::clamp((headVelocityX - st.previousVelocityX) / r, -0.5f, 0.5f);
        ay = std::clamp((headVelocityY - st.previousVelocityY) / r, -0.5f, 0.5f);
    }
    st.previousVelocityX = headVelocityX;
    st.previousVelocityY = headVelocityY;
    st.reset = false;
    // Gravity pulls the pupils down; the head's acceleration throws them the other way.
    const float fx = -ax, fy = 0.06f - ay;
    for (int i = 0; i < 2; ++i) {
        st.vx[i] += fx - 0.02f * st.x[i] - 0.12f * st.vx[i];
        st.vy[i] += fy - 0.02f * st.y[i] - 0.12f * st.vy[i];
        st.x[i] += st.vx[i];
        st.y[i] += st.vy[i];
        const float rho = std::hypot(st.x[i], st.y[i]);
        if (rho > kPupilTravel) {
            const float nx = st.x[i] / rho, ny = st.y[i] / rho;
            st.x[i] = nx * kPupilTravel;
            st.y[i] = ny * kPupilTravel;
            const float outward = st.vx[i] * nx + st.vy[i] * ny;
            if (outward > 0) {  // bounce off the rim, losing some speed
                st.vx[i] -= 1.5f * outward * nx;
                st.vy[i] -= 1.5f * outward * ny;
            }
        }
    }
}

void pasteFeature(Graphics& g, const FaceGeometry& face, float sx, float sy, float rx, float ry, float qx,
                  float qy, float angle, float k, const cairo_matrix_t& pictureTransform,
                  const cairo_matrix_t& placement) {
    cairo_t* cr = g.cr.get();
    if (!(rx >= 0.5f && ry >= 0.5f && rx <= 1e4f && ry <= 1e4f && k > 0)) return;  // nothing sane to paste
    // The camera's pixels, moved so the feature's point is the origin and turned upright.
    setBrushTransform(g.sourceBrush.get(), then(translation(-sx, -sy), rotation(-face.roll)));
    double tx = qx, ty = qy;
    mapPoint(pictureTransform, &tx, &ty);
    const cairo_matrix_t drawing =
        then(then(then(scaling(k, k), rotation(angle)), translation(tx, ty)), placement);
    setBrushTransform(g.softEllipse55.get(), scaling(rx, ry));
    cairo_save(cr);
    cairo_set_matrix(cr, &drawing);
    cairo_set_source(cr, g.sourceBrush.get());
    cairo_mask(cr, g.softEllipse55.get());  // clear beyond the unit circle: only the ellipse is drawn
    cairo_restore(cr);
}

FacePicturePlacement drawFacePicture(Graphics& g, const FaceArt& art, const FacePicture& picture,
                                     const FaceGeometry& face, float x, float y, float width, float angle,
                                     const cairo_matrix_t& placement, const GooglyDrive* googly) {
    const FaceAnchors& a = picture.anchors;
    const float W = picture.width, H = picture.height;
    const float h = width / a.faceWidthFraction / W, v = h * a.verticalScale;
    FacePicturePlacement where{};
    where.pictureTransform =
        then(then(then(translation(-a.centreX * W, -a.centreY * H), scaling(h, v)), rotation(angle)),
             translation(x, y));
    where.anchorX = a.centreX * W;
    where.anchorY = a.centreY * H;
    where.horizontalScale = h;
    where.leftEyeX = a.leftEyeX * W, where.leftEyeY = a.leftEyeY * H;
    where.rightEyeX = a.rightEyeX * W, where.rightEyeY = a.rightEyeY * H;
    const cairo_matrix_t T = where.pictureTransform;

    const cairo_matrix_t drawing = then(T, placement);
    if (!(width > 0) || !usable(drawing)) return where;
    // The shadow a little below, then the picture: both in one pass, from the copy nearest the drawn size
    // (less work, less aliasing).
    const double drawnScale = std::sqrt(std::fabs(drawing.xx * drawing.yy - drawing.xy * drawing.yx));
    const int level = drawnScale < 0.35 ? 2 : drawnScale < 0.7 ? 1 : 0;
    const int used = picture.withShadow[level] ? level : 0;
    if (cairo_surface_t* layer = picture.withShadow[used].get()) {
        const cairo_matrix_t layerToCanvas =
            then(then(scaling(1 << used, 1 << used),
                      translation(-picture.shadowMargin, -picture.shadowMargin + 0.02 * W)),
                 drawing);
        const std::vector<RowSpan>& spans = picture.withShadowSpans[used];
        drawPictureAffine(g.canvas.get(), layer, layerToCanvas, nullptr,
                          spans.size() == static_cast<size_t>(cairo_image_surface_get_height(layer))
                              ? spans.data()
                              : nullptr);
    }

    // Eyes: the user's own, or googly ones.
    if (!googly) {
        pasteFeature(g, face, (2 * face.leftEye.x + face.leftBrow.x) / 3,
                     (2 * face.leftEye.y + face.leftBrow.y) / 3, 0.95f * face.eyeWidth, 0.85f * face.eyeWidth,
                     where.leftEyeX, where.leftEyeY, angle, a.featureScale, T, placement);
        pasteFeature(g, face, (2 * face.rightEye.x + face.rightBrow.x) / 3,
                     (2 * face.rightEye.y + face.rightBrow.y) / 3, 0.95f * face.eyeWidth,
                     0.85f * face.eyeWidth, where.rightEyeX, where.rightEyeY, angle, a.featureScale, T,
                     placement);
    } else {
        const float r = 0.23f * width;
        stepPupils(*googly->state, googly->headVelocityX, googly->headVelocityY, r);
        const float closed = blinkAmount(face.eyeOpen, googly->eyeOpenReference);
        const float eyes[2][2] = {{where.leftEyeX, where.leftEyeY}, {where.rightEyeX, where.rightEyeY}};
        for (int i = 0; i < 2; ++i) {
            double ex = eyes[i][0], ey = eyes[i][1];
            mapPoint(T, &ex, &ey);
            drawGooglyEye(g, art, *googly->state, i, r, angle, ex, ey, placement, closed);
        }
    }

    // Mouth: the inner-lip opening slides the pasted mouth down.
    const float m = 0.85f * std::max(0.0f, face.mouthWidth * face.mouthOpen);
    where.mouthX = a.mouthX * W;
    where.mouthY = a.mouthY * H + a.featureScale * m / (h * a.verticalScale);
    where.mouthDrop = a.featureScale * m;
    pasteFeature(g, face, face.mouthCentre.x, face.mouthCentre.y, 0.72f * face.mouthWidth,
                 0.85f * std::max(face.mouthHeight, 0.25f * face.mouthWidth), where.mouthX, where.mouthY,
                 angle, a.featureScale, T, placement);
    return where;
}

void drawKitten(Graphics& g, const FaceArt& art, const FaceGeometry& face, float x, float y, float d,
                float angle, const cairo_matrix_t& placement, float eyeOpenReference) {
    cairo_t* cr = g.cr.get();
    const double kw = art.kittenWidth, kh = art.kittenHeight;
    if (kw <= 0 || kh <= 0) return;
    const double leftX = kKittenLeftEyeX * kw, leftY = kKittenLeftEyeY * kh;
    const double rightX = kKittenRightEyeX * kw, rightY = kKittenRightEyeY * kh;
    const double s = 1.7 * d / (rightX - leftX);
    const double ox = x - std::sin(angle) * 0.34 * d, oy = y + std::cos(angle) * 0.34 * d;
    const cairo_matrix_t T = then(
        then(then(translation(-(leftX + rightX) / 2, -(leftY + rightY) / 2), scaling(s, s)), rotation(angle)),
        translation(ox, oy));
    const cairo_matrix_t drawing = then(T, placement);
    if (!(d > 0) || !usable(drawing)) return;
    cairo_save(cr);
    cairo_set_matrix(cr, &drawing);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_pattern_t* kitten = art.kittenBrush.get();
    // The picture from the copy nearest its drawn size.
    const double drawnScale = std::sqrt(std::fabs(drawing.xx * drawing.yy - drawing.xy * drawing.yx));
    const int level = drawnScale < 0.35 ? 2 : drawnScale < 0.7 ? 1 : 0;
    cairo_surface_t* copy = art.kittenCopies[level] ? art.kittenCopies[level].get() : art.kitten.bitmap.get();
    const double copyScale = kw / cairo_image_surface_get_width(copy);
    drawPictureAffine(g.canvas.get(), copy, then(scaling(copyScale, copyScale), drawing));

    // Mouth.
    const double open = kittenMouthOpening(face.mouthOpen);
    if (open > 0.01) {
        const double V = open * kw * 0.08;
        // The chin drops: the bottom rows again, stretched down by V.
        const double chinTop = 0.875 * kh;
        setBrushTransform(
            kitten, then(then(translation(0, -chinTop), scaling(1, (kh - chinTop + V) / (kh - chinTop))),
                         translation(0, chinTop)));
        cairo_rectangle(cr, 0, chinTop, kw, kh - chinTop + V);
        cairo_set_source(cr, kitten);
        cairo_fill(cr);

        const double cx = 0.545 * kw, ty = chinTop - 0.004 * kw, mw = (0.15 * open + 0.85) * 0.13 * kw;
        auto mouthPath = [&] {
            cairo_new_path(cr);
            cairo_move_to(cr, cx - mw / 2, ty);
            quadraticTo(cr, cx - 0.22 * mw, ty - 0.05 * V, cx, ty + 0.1 * V);
            quadraticTo(cr, cx + 0.22 * mw, ty - 0.05 * V, cx + mw / 2, ty);
            cairo_curve_to(cr, cx + 0.45 * mw, ty + 0.75 * V, cx + 0.28 * mw, ty + V, cx, ty + V);
            cairo_curve_to(cr, cx - 0.28 * mw, ty + V, cx - 0.45 * mw, ty + 0.75 * V, cx - mw / 2, ty);
            cairo_close_path(cr);
        };
        mouthPath();
        setBrushTransform(art.kittenMouth.get(), then(scaling(1, V), translation(cx, ty)));
        cairo_set_source(cr, art.kittenMouth.get());
        cairo_fill_preserve(cr);
        // Tongue inside the mouth.
        cairo_save(cr);
        cairo_clip(cr);
        setColour(g, 0.85098, 0.533333, 0.572549, 1);
        ellipsePath(cr, cx, ty + V - 0.1375 * V, 0.28 * mw, 0.275 * V);
        cairo_fill(cr);
        cairo_restore(cr);
        // Fangs.
        const double t = std::min(0.11 * mw, 0.3 * V), y0 = ty + 0.02 * V;
        setColour(g, 0.968627, 0.952941, 0.933333, 1);
        for (int j = -1; j <= 1; j += 2) {
            const double fx = cx + 0.3 * j * mw;
            cairo_move_to(cr, fx - 0.275 * t, y0);
            cairo_line_to(cr, fx + 0.275 * t, y0);
            cairo_line_to(cr, fx + 0.0825 * j * t, y0 + t);
            cairo_close_path(cr);
        }
        cairo_fill(cr);
        // Outline.
        mouthPath();
        setColour(g, 0.556863, 0.372549, 0.4, 0.85);
        cairo_set_line_width(cr, std::max(1.0, 0.025 * mw));
        cairo_stroke(cr);
    }

    // Eyes: fur from below the eye slides down over it as the user's eyes close.
    const double closed = blinkAmount(face.eyeOpen, eyeOpenReference);
    if (closed > 0.02) {
        const double hw = 0.066 * kw, hh = 0.056 * kw;
        const double eyes[2][2] = {{leftX, leftY}, {rightX, rightY}};
        for (const auto& eye : eyes) {
            const double ex = eye[0], ey = eye[1];
            const double lidEdge = ey - 1.25 * hh + 2.5 * hh * closed;
            cairo_save(cr);
            cairo_rectangle(cr, ex - 2 * hw, ey - 3 * hh, 4 * hw, lidEdge - (ey - 3 * hh));
            cairo_clip(cr);
            setBrushTransform(kitten, translation(0, -2.8 * hh));
            setBrushTransform(g.softEllipse72.get(), then(scaling(1.3 * hw, 1.4 * hh), translation(ex, ey)));
            cairo_set_source(cr, kitten);
            cairo_mask(cr, g.softEllipse72.get());
            cairo_restore(cr);
            if (closed > 0.3) {
                setColour(g, 0.3, 0.27, 0.28, std::min(1.0, (closed - 0.3) * 1.6));
                ellipsePath(cr, ex, std::min(lidEdge, ey + 0.9 * hh), 0.95 * hw, 0.16 * hh);
                cairo_fill(cr);
            }
        }
    }
    cairo_restore(cr);
    setBrushTransform(kitten, scaling(1, 1));
}

}  // namespace qm
