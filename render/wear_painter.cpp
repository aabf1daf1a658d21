#include "render/wear_painter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/log.h"
#include "base/wear_catalogue.h"
#include "render/affine_blit.h"
#include "render/graphics.h"

namespace qm {

namespace {

cairo_matrix_t translation(double x, double y) {
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, x, y);
    return m;
}
cairo_matrix_t scaling(double sx, double sy) {
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, sx, sy);
    return m;
}
cairo_matrix_t rotation(double radians) {
    cairo_matrix_t m;
    cairo_matrix_init_rotate(&m, radians);
    return m;
}
// first, then second.
cairo_matrix_t then(const cairo_matrix_t& first, const cairo_matrix_t& second) {
    cairo_matrix_t m;
    cairo_matrix_multiply(&m, &first, &second);
    return m;
}
cairo_matrix_t fromAffine(const Affine& a) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, a.xx, a.yx, a.xy, a.yy, a.x0, a.y0);
    return m;
}

// Cairo keeps a context's first error for good: a transform that can't be inverted or that leaves its
// fixed-point range is never set, the piece is skipped for the frame.
bool usable(const cairo_matrix_t& m) {
    constexpr double kMaxScale = 1e4, kMaxOffset = 1e6, kMinDeterminant = 1e-10;
    for (double v : {m.xx, m.yx, m.xy, m.yy})
        if (!(std::fabs(v) <= kMaxScale)) return false;
    if (!(std::fabs(m.x0) <= kMaxOffset && std::fabs(m.y0) <= kMaxOffset)) return false;
    return std::fabs(m.xx * m.yy - m.xy * m.yx) >= kMinDeterminant;
}

// Sets a brush's transform (brush space → user space).
void setBrush(cairo_pattern_t* pattern, const cairo_matrix_t& brushToUser) {
    cairo_matrix_t userToBrush = brushToUser;
    if (cairo_matrix_invert(&userToBrush) != CAIRO_STATUS_SUCCESS)
        cairo_matrix_init_scale(&userToBrush, 1e6, 1e6);
    cairo_pattern_set_matrix(pattern, &userToBrush);
}

void ellipsePath(cairo_t* cr, double cx, double cy, double rx, double ry) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_close_path(cr);
    cairo_restore(cr);
}

Point2 toFrame(Point2 p, Point2 centre, float roll) {
    const float c = std::cos(roll), s = std::sin(roll), dx = p.x - centre.x, dy = p.y - centre.y;
    return {c * dx + s * dy, -s * dx + c * dy};
}

// A device-space box, grown by the points it takes.
struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void add(const cairo_matrix_t& m, double x, double y) {
        cairo_matrix_transform_point(&m, &x, &y);
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
    void addRect(const cairo_matrix_t& m, double w, double h) {
        add(m, 0, 0), add(m, w, 0), add(m, 0, h), add(m, w, h);
    }
    // Whole pixels inside a target of the given size; false when nothing is left.
    bool clampTo(int width, int height, int* bx, int* by, int* bw, int* bh) const {
        const int left = std::max(0, static_cast<int>(std::floor(std::max(x0, -1.0))) - 2);
        const int top = std::max(0, static_cast<int>(std::floor(std::max(y0, -1.0))) - 2);
        const int right = std::min(width, static_cast<int>(std::ceil(std::min(x1, double(width)))) + 2);
        const int bottom = std::min(height, static_cast<int>(std::ceil(std::min(y1, double(height)))) + 2);
        if (left >= right || top >= bottom) return false;
        *bx = left, *by = top, *bw = right - left, *bh = bottom - top;
        return true;
    }
};

GradientStop white(double position, double alpha) {
    return {position, 1, 1, 1, alpha};
}

SurfacePtr reducedCopy(cairo_surface_t* picture, int level) {
    const int w = cairo_image_surface_get_width(picture), h = cairo_image_surface_get_height(picture);
    SurfacePtr copy = makePaddedSurface(std::max(1, w >> level), std::max(1, h >> level));
    if (checkSurface(copy.get()) != kOk) return nullptr;
    ContextPtr c(cairo_create(copy.get()));
    cairo_scale(c.get(), static_cast<double>(cairo_image_surface_get_width(copy.get())) / w,
                static_cast<double>(cairo_image_surface_get_height(copy.get())) / h);
    cairo_set_source_surface(c.get(), picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(c.get()), CAIRO_FILTER_GOOD);
    cairo_paint(c.get());
    if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return copy;
}

constexpr int kMaxEntries = 32;
static_assert(kWearCatalogueSize <= kMaxEntries);

}  // namespace

WearPainter::WearPainter()
    : yaw_{0.6, 3.0, 1.0},
      pitch_{0.6, 3.0, 1.0},
      leftExtent_{0.6, 3.0, 1.0},
      rightExtent_{0.6, 3.0, 1.0},
      eyeDistance_{0.1, 1.0, 1.0},
      mouthX_{0.1, 1.0, 1.0},
      mouthY_{0.1, 1.0, 1.0} {
    edgeVignette72_ = makeRadialBrush({white(0, 0), white(0.72, 0), white(1, 1)});
    edgeVignette50_ = makeRadialBrush({white(0, 0), white(0.5, 0), white(1, 1)});
    whiteGlow_ = makeRadialBrush({white(0, 0.12), white(1, 0)});
    verticalFadeIn_ = makeLinearBrush(0, 0, 0, 1, {white(0, 0), white(1, 1)});
    sideFade_ = makeLinearBrush(0, 0, 1, 0, {white(0, 0), white(1, 1)});
    skinFrame_ = INT_MIN / 2;
}

int WearPainter::load(const std::string& folder, bool highQuality, const FacePicture& morvel) {
    highQuality_ = highQuality;
    pictures_.clear();
    std::fill(std::begin(byEntry_), std::end(byEntry_), nullptr);
    warpEntry_ = -1;
    reference_.width = morvel.width;
    reference_.height = morvel.height;
    reference_.headTop = morvel.box.headTop;
    reference_.foreheadWidth = morvel.box.foreheadWidth;
    reference_.eyeY = morvel.anchors.leftEyeY;
    int loaded = 0;
    for (int i = 0; i < kWearCatalogueSize; ++i) {
        const WearEntry& entry = kWearCatalogue[i];
        const std::string file = wearPictureFile(entry);
        if (file.empty()) continue;
        Picture picture;
        const bool measured = entry.kind == kWearKindHair || entry.kind == kWearKindBeard;
        if (loadPicture(folder + file, measured, &picture) != kOk) {
            logLine("missing picture %s", file.c_str());
            continue;
        }
        WornPicture worn;
        worn.width = cairo_image_surface_get_width(picture.bitmap.get());
        worn.height = cairo_image_surface_get_height(picture.bitmap.get());
        if (entry.kind == kWearKindHair)
            worn.holeFraction = holeFraction(picture.pixels.data(), worn.width, worn.height);
        if (entry.kind == kWearKindBeard) worn.pixels = std::move(picture.pixels);
        worn.bitmap = std::move(picture.bitmap);
        if (highQuality)
            for (int level = 1; level <= 2; ++level)
                worn.reduced[level - 1] = reducedCopy(worn.bitmap.get(), level);
        pictures_[file] = std::move(worn);
        ++loaded;
    }
    for (int i = 0; i < kWearCatalogueSize; ++i) {
        auto it = pictures_.find(wearPictureFile(kWearCatalogue[i]));
        if (it != pictures_.end()) byEntry_[i] = &it->second;
    }
    logLine("worn items: %d pictures", loaded);
    return loaded;
}

bool WearPainter::active(const FrameFilters& filters) const {
    if (!filters.filtering) return false;
    for (const WornItem& item : filters.wear)
        if (item.entry >= 0 && item.entry < kWearCatalogueSize) return true;
    return false;
}

void WearPainter::reset() {
    for (OneEuroFilter* f : {&yaw_, &pitch_, &leftExtent_, &rightExtent_, &eyeDistance_, &mouthX_, &mouthY_})
        f->reset();
}

const WornPicture* WearPainter::pictureFor(const WearSlots& slots, int slot) const {
    if (slot < 0 || slot >= kWearSlots) return nullptr;
    const int entry = slots[slot].entry;
    if (entry < 0 || entry >= kWearCatalogueSize || kWearCatalogue[entry].kind != slot) return nullptr;
    return byEntry_[entry];
}

void WearPainter::drawPicture(cairo_t* cr, const WornPicture& picture, const Affine& pictureToFace,
                              const cairo_matrix_t& faceToCanvas) {
    const cairo_matrix_t drawing = then(fromAffine(pictureToFace), faceToCanvas);
    if (!usable(drawing)) return;
    // The copy nearest the drawn size: less work and no aliasing when a large picture is drawn small.
    const double drawnScale = std::sqrt(std::fabs(drawing.xx * drawing.yy - drawing.xy * drawing.yx));
    int level = 0;
    if (highQuality_)
        level = drawnScale < 0.35 && picture.reduced[1] ? 2 : drawnScale < 0.7 && picture.reduced[0] ? 1 : 0;
    cairo_surface_t* source = level == 0 ? picture.bitmap.get() : picture.reduced[level - 1].get();
    const double step = static_cast<double>(picture.width) / cairo_image_surface_get_width(source);
    const cairo_matrix_t sourceToCanvas = then(scaling(step, step), drawing);
    cairo_surface_t* target = cairo_get_group_target(cr);
    if (cairo_surface_get_type(target) == CAIRO_SURFACE_TYPE_IMAGE &&
        cairo_image_surface_get_format(target) == CAIRO_FORMAT_RGB24) {
        drawPictureAffine(target, source, sourceToCanvas);
        return;
    }
    cairo_save(cr);
    cairo_set_matrix(cr, &sourceToCanvas);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
    cairo_rectangle(cr, 0, 0, cairo_image_surface_get_width(source), cairo_image_surface_get_height(source));
    cairo_fill(cr);
    cairo_restore(cr);
}

bool WearPainter::ensureScratch(cairo_t* cr) {
    cairo_surface_t* target = cairo_get_group_target(cr);
    int width = 1280, height = 720;
    if (cairo_surface_get_type(target) == CAIRO_SURFACE_TYPE_IMAGE) {
        width = cairo_image_surface_get_width(target);
        height = cairo_image_surface_get_height(target);
    }
    if (scratch_ && cairo_image_surface_get_width(scratch_.get()) == width &&
        cairo_image_surface_get_height(scratch_.get()) == height)
        return true;
    scratchCr_.reset();
    scratch_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (checkSurface(scratch_.get()) != kOk) {
        scratch_.reset();
        return false;
    }
    scratchCr_.reset(cairo_create(scratch_.get()));
    return cairo_status(scratchCr_.get()) == CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* WearPainter::warpedBeard(int entry, const WornPicture& picture, const JawWarp& warp,
                                          int* rows) {
    const int pw = picture.width, ph = picture.height;
    if (warpEntry_ != entry || !warpBitmap_) {
        warpBitmap_ = makePaddedSurface(pw, warpBitmapRows(ph));
        if (checkSurface(warpBitmap_.get()) != kOk) {
            warpBitmap_.reset();
            return nullptr;
        }
        warpWeights_.assign(static_cast<size_t>(pw), 0.0f);
        warpEntry_ = entry;
        warpRowsLast_ = 0;
    }
    cairo_surface_flush(warpBitmap_.get());
    uint8_t* data = cairo_image_surface_get_data(warpBitmap_.get());
    const int stride = cairo_image_surface_get_stride(warpBitmap_.get());
    const int written = warpBeard(picture.pixels.data(), pw, ph, kWearCatalogue[entry].offset, warp, data,
                                  stride, warpWeights_.data());
    // Rows a longer warp left behind are cleared: the bitmap is drawn whole.
    for (int i = written; i < warpRowsLast_; ++i)
        std::memset(data + static_cast<size_t>(i) * stride, 0, static_cast<size_t>(pw) * 4);
    warpRowsLast_ = written;
    cairo_surface_mark_dirty(warpBitmap_.get());
    *rows = written;
    return warpBitmap_.get();
}

void WearPainter::drawBeard(cairo_t* cr, int entry, const WornPicture& picture, const HeadFrame& head,
                            const Fit& fit, const cairo_matrix_t& faceToCanvas, bool realFace,
                            const FaceGeometry* face) {
    const WearEntry& item = kWearCatalogue[entry];
    const float unit = realFace
                           ? frontalEye_
                           : std::hypot(head.rightEye.x - head.leftEye.x, head.rightEye.y - head.leftEye.y);
    const int pw = picture.width, ph = picture.height;
    const WearPlacement place = placeBeard(head, unit, item.scale, item.offset, pw, ph);
    const Affine toFace = placementMatrix(pw, ph, place, fit);
    JawWarp warp;
    if (!picture.pixels.empty())
        warp = jawWarpFor(item.band, item.offset, head.mouthOpening, place.targetWidth * fit.scale, pw, ph,
                          realFace);
    cairo_surface_t* source = picture.bitmap.get();
    int rows = ph;
    if (warp.opening > 0) {
        int warped = 0;
        if (cairo_surface_t* bitmap = warpedBeard(entry, picture, warp, &warped))
            source = bitmap, rows = warped;
    }
    drawn_.beardRows = static_cast<float>(rows);
    if (!realFace) {
        if (source == picture.bitmap.get()) {
            drawPicture(cr, picture, toFace, faceToCanvas);
        } else {
            const cairo_matrix_t drawing = then(fromAffine(toFace), faceToCanvas);
            cairo_surface_t* target = cairo_get_group_target(cr);
            if (usable(drawing) && cairo_surface_get_type(target) == CAIRO_SURFACE_TYPE_IMAGE &&
                cairo_image_surface_get_format(target) == CAIRO_FORMAT_RGB24)
                drawPictureAffine(target, source, drawing);
        }
        return;
    }

    // The real face: two halves, each stretched about the split line by its side's extent, faded toward a
    // narrowed side's edge, with the mouth cleared, composed on the scratch layer.
    if (!ensureScratch(cr)) return;
    cairo_t* s = scratchCr_.get();
    const float split = place.centreX + place.unit * fit.x;
    const cairo_matrix_t pictureToFace = fromAffine(toFace);
    double faceMin = 1e300, faceMax = -1e300;
    for (int corner = 0; corner < 4; ++corner) {
        double x = corner & 1 ? pw : 0, y = corner & 2 ? rows : 0;
        cairo_matrix_transform_point(&pictureToFace, &x, &y);
        faceMin = std::min(faceMin, x), faceMax = std::max(faceMax, x);
    }
    const float extents[2] = {drawn_.leftExtent, drawn_.rightExtent};
    cairo_matrix_t halves[2];
    Box box;
    for (int side = 0; side < 2; ++side) {
        const double e = extents[side];
        cairo_matrix_t stretch;
        cairo_matrix_init(&stretch, e, 0, 0, 1, split * (1 - e), 0);
        halves[side] = then(then(pictureToFace, stretch), faceToCanvas);
        if (!usable(halves[side])) return;
        box.addRect(halves[side], pw, rows);
    }
    int bx = 0, by = 0, bw = 0, bh = 0;
    if (!box.clampTo(cairo_image_surface_get_width(scratch_.get()),
                     cairo_image_surface_get_height(scratch_.get()), &bx, &by, &bw, &bh) ||
        !usable(faceToCanvas))
        return;
    cairo_save(s);
    cairo_identity_matrix(s);
    cairo_rectangle(s, bx, by, bw, bh);
    cairo_clip(s);
    cairo_set_operator(s, CAIRO_OPERATOR_CLEAR);
    cairo_paint(s);
    for (int side = 0; side < 2; ++side) {
        cairo_save(s);
        cairo_set_matrix(s, &faceToCanvas);
        // Each pixel belongs to one half: antialiased edges on both sides of the split would leave a seam.
        cairo_set_antialias(s, CAIRO_ANTIALIAS_NONE);
        if (side == 0)
            cairo_rectangle(s, split - 100000.0, -100000, 100000, 200000);
        else
            cairo_rectangle(s, split, -100000, 100000, 200000);
        cairo_clip(s);
        cairo_set_antialias(s, CAIRO_ANTIALIAS_DEFAULT);
        cairo_set_operator(s, CAIRO_OPERATOR_OVER);
        cairo_set_matrix(s, &halves[side]);
        cairo_set_source_surface(s, source, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(s),
                                 highQuality_ ? CAIRO_FILTER_GOOD : CAIRO_FILTER_BILINEAR);
        cairo_rectangle(s, 0, 0, pw, rows);
        cairo_fill(s);
        const double e = extents[side];
        if (e < 0.75) {
            // Toward the outer edge the half fades to 1 − a: a layer of 1 − a · ramp.
            const double a = std::min(1.0, (0.75 - e) / 0.45);
            const double edge = split + e * ((side == 0 ? faceMin : faceMax) - split);
            const double start = split + (1 - 0.7 * a) * (edge - split);
            if (std::fabs(edge - start) > 1e-3) {
                cairo_set_matrix(s, &faceToCanvas);
                cairo_matrix_t ramp;
                cairo_matrix_init(&ramp, edge - start, 0, 0, 1, start, 0);
                setBrush(sideFade_.get(), ramp);
                cairo_set_operator(s, CAIRO_OPERATOR_DEST_OUT);
                cairo_set_source(s, sideFade_.get());
                cairo_paint_with_alpha(s, a);
            }
        }
        cairo_restore(s);
    }
    // The mouth shows through: the layer is kept only outside the mouth's ellipse, fading in over its rim.
    if (face) {
        cairo_set_matrix(s, &faceToCanvas);
        setBrush(edgeVignette72_.get(),
                 then(scaling(mouthHole_[2], mouthHole_[3]), translation(mouthHole_[0], mouthHole_[1])));
        cairo_set_operator(s, CAIRO_OPERATOR_DEST_IN);
        cairo_set_source(s, edgeVignette72_.get());
        cairo_paint(s);
    }
    cairo_restore(s);
    cairo_surface_flush(scratch_.get());

    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, bx, by, bw, bh);
    cairo_clip(cr);
    cairo_set_source_surface(cr, scratch_.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void WearPainter::drawBaldCap(cairo_t* cr, const Fit& fit, const FaceGeometry& face, const HeadFrame& head,
                              Graphics& g, int frameIndex, const cairo_matrix_t& faceToCanvas) {
    // 1. The skin colour from the source frame, sampled at most every sixth frame and eased toward.
    if (frameIndex - skinFrame_ > 5 && g.source) {
        skinFrame_ = frameIndex;
        cairo_surface_flush(g.source.get());
        const uint8_t* frame = cairo_image_surface_get_data(g.source.get());
        float rgb[3];
        if (frame && cairo_image_surface_get_stride(g.source.get()) == g.sourceWidth * 4 &&
            sampleCapSkin(frame, g.sourceWidth, g.sourceHeight, face.leftEye, face.rightEye, face.roll,
                          rgb)) {
            for (int k = 0; k < 3; ++k)
                skin_[k] = skinKnown_ ? skin_[k] + 0.2f * (rgb[k] - skin_[k]) : rgb[k];
            skinKnown_ = true;
        }
    }
    const float e = frontalEye_;
    if (!skinKnown_ || !(e > 1) || !usable(faceToCanvas) || !ensureScratch(cr)) return;
    // 2. The cap.
    const float w = headWidthFactor_ * e;
    const float mx = (head.leftEye.x + head.rightEye.x) / 2, my = (head.leftEye.y + head.rightEye.y) / 2;
    const float cx = head.headCentreX + 2.2f * fit.x * e, cy = my - 0.55f * e - 2.2f * fit.y * e;
    const float rx = 1.12f * w * fit.scale, ry = 1.72f * e * fit.scale;
    if (!(rx > 0.5f && ry > 0.5f)) return;
    // 3. Brushes: the gradient is made again only when the colour moved.
    if (!capGradient_ || !std::equal(skin_, skin_ + 3, capColour_)) {
        auto shade = [&](int k, float f) { return std::min(1.0f, skin_[k] * f); };
        capGradient_ = makeRadialBrush({{0, shade(0, 1.05f), shade(1, 1.05f), shade(2, 1.05f), 1},
                                        {0.05, shade(0, 1.05f), shade(1, 1.05f), shade(2, 1.05f), 1},
                                        {1, shade(0, 0.74f), shade(1, 0.74f), shade(2, 0.74f), 1}});
        std::copy(skin_, skin_ + 3, capColour_);
    }
    setBrush(capGradient_.get(),
             then(scaling(1.7 * rx, 1.7 * ry), translation(cx - 0.25 * rx, cy - 0.4 * ry)));
    setBrush(edgeVignette50_.get(),
             then(scaling(1.15 * e, 1.5 * e), translation(mx - 0.4 * yawNow_ * e, my + 0.3 * e)));
    cairo_matrix_t fade;
    cairo_matrix_init(&fade, 1, 0, 0, -0.4 * e, 0, my - 0.2 * e);
    setBrush(verticalFadeIn_.get(), fade);
    const double gx = cx - 0.3 * rx, gy = cy - 0.5 * ry, grx = 0.42 * rx, gry = 0.3 * ry;
    setBrush(whiteGlow_.get(), then(scaling(grx, gry), translation(gx, gy)));

    // 4. Cap and shine on the scratch layer, through the vignette and the fade-in, then onto the frame.
    Box box;
    cairo_matrix_t capBox;
    cairo_matrix_init(&capBox, 2 * rx, 0, 0, 2 * ry, cx - rx, cy - ry);
    box.addRect(then(capBox, faceToCanvas), 1, 1);
    int bx = 0, by = 0, bw = 0, bh = 0;
    if (!box.clampTo(cairo_image_surface_get_width(scratch_.get()),
                     cairo_image_surface_get_height(scratch_.get()), &bx, &by, &bw, &bh))
        return;
    cairo_t* s = scratchCr_.get();
    cairo_save(s);
    cairo_identity_matrix(s);
    cairo_rectangle(s, bx, by, bw, bh);
    cairo_clip(s);
    cairo_set_operator(s, CAIRO_OPERATOR_CLEAR);
    cairo_paint(s);
    cairo_set_operator(s, CAIRO_OPERATOR_OVER);
    cairo_set_matrix(s, &faceToCanvas);
    ellipsePath(s, cx, cy, rx, ry);
    cairo_set_source(s, capGradient_.get());
    cairo_fill(s);
    ellipsePath(s, gx, gy, grx, gry);
    cairo_set_source(s, whiteGlow_.get());
    cairo_fill(s);
    cairo_set_operator(s, CAIRO_OPERATOR_DEST_IN);
    cairo_set_source(s, edgeVignette50_.get());
    cairo_paint(s);
    cairo_set_source(s, verticalFadeIn_.get());
    cairo_paint(s);
    cairo_restore(s);
    cairo_surface_flush(scratch_.get());

    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, bx, by, bw, bh);
    cairo_clip(cr);
    cairo_set_source_surface(cr, scratch_.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void WearPainter::drawItems(cairo_t* cr, const WearSlots& slots, const HeadFrame& head,
                            const cairo_matrix_t& faceToCanvas, bool realFace, const FaceGeometry* face) {
    drawn_.wig = drawn_.hat = false;
    drawn_.beardRows = 0;
    float wigTop = 0, wigWidth = 0;
    // Hair.
    if (const WornPicture* hair = pictureFor(slots, kWearHair)) {
        const WearEntry& item = kWearCatalogue[slots[kWearHair].entry];
        WearPlacement place;
        if (placeWig(head, reference_, item.scale, item.offset, hair->holeFraction, hair->width, hair->height,
                     slots[kWearHair].fit, &place, &wigTop, &wigWidth)) {
            drawPicture(cr, *hair, placementMatrix(hair->width, hair->height, place, slots[kWearHair].fit),
                        faceToCanvas);
            drawn_.wig = true;
            drawn_.wigTop = wigTop;
            drawn_.wigWidth = wigWidth;
        } else {
            wigWidth = 0;
        }
    }
    // Beard.
    if (const WornPicture* beard = pictureFor(slots, kWearBeard))
        drawBeard(cr, slots[kWearBeard].entry, *beard, head, slots[kWearBeard].fit, faceToCanvas, realFace,
                  face);
    // Glasses.
    if (const WornPicture* glasses = pictureFor(slots, kWearGlasses)) {
        const WearEntry& item = kWearCatalogue[slots[kWearGlasses].entry];
        const WearPlacement place =
            placeGlasses(head, item.scale, item.offset, glasses->width, glasses->height);
        drawPicture(cr, *glasses,
                    placementMatrix(glasses->width, glasses->height, place, slots[kWearGlasses].fit),
                    faceToCanvas);
    }
    // Hat, over the wig.
    if (const WornPicture* hat = pictureFor(slots, kWearHat)) {
        const WearEntry& item = kWearCatalogue[slots[kWearHat].entry];
        const Fit& fit = slots[kWearHat].fit;
        const WearPlacement place =
            placeHat(head, item.scale, item.offset, hat->width, hat->height, wigTop, wigWidth);
        drawPicture(cr, *hat, placementMatrix(hat->width, hat->height, place, fit), faceToCanvas);
        drawn_.hat = true;
        drawn_.hatWidth = fit.scale * place.targetWidth;
        drawn_.hatBottom = place.centreY - place.unit * fit.y +
                           0.5f * fit.scale * place.targetWidth * hat->height / std::max(hat->width, 1);
    }
}

void WearPainter::drawOnPicture(Graphics& g, const FrameFilters& filters, const DrawnFacePicture& drawn,
                                const cairo_matrix_t& placement) {
    if (!drawn.picture || !active(filters)) return;
    const FacePicture& picture = *drawn.picture;
    const FacePicturePlacement& where = drawn.where;
    const float h = where.horizontalScale, v = h * picture.anchors.verticalScale;
    auto frame = [&](float px, float py) {
        return Point2{(px - where.anchorX) * h, (py - where.anchorY) * v};
    };
    HeadFrame head;
    head.leftEye = frame(where.leftEyeX, where.leftEyeY);
    head.rightEye = frame(where.rightEyeX, where.rightEyeY);
    head.mouth = frame(where.mouthX, where.mouthY);
    head.headCentreX = (picture.box.foreheadX - where.anchorX) * h;
    head.hatCentreX = (head.leftEye.x + head.rightEye.x) / 2;
    head.eyeLineY = (head.leftEye.y + head.rightEye.y) / 2;
    head.headTopY = (picture.box.headTop - where.anchorY) * v;
    head.foreheadWidth = h * picture.box.foreheadWidth;
    head.eyeLevelWidth = h * picture.box.eyeLevelWidth;
    head.mouthOpening = where.mouthDrop;
    const cairo_matrix_t faceToCanvas =
        then(then(rotation(drawn.angle), translation(drawn.x, drawn.y)), placement);
    drawItems(g.cr.get(), filters.wear, head, faceToCanvas, false, nullptr);
}

void WearPainter::drawOnRealFace(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                                 const LandmarkSet& landmarks, int frameIndex, double elapsed,
                                 const cairo_matrix_t& placement) {
    if (!active(filters)) return;
    cairo_t* cr = g.cr.get();
    const WearSlots& slots = filters.wear;
    const double t = std::max(elapsed, 0.001);
    const Point2 centre = face.faceCentre;
    const float roll = face.roll;
    const cairo_matrix_t faceToCanvas =
        then(then(rotation(roll), translation(centre.x, centre.y)), placement);
    // 1. Eyes and the smoothed mouth point (the top of the lip opening) in the face frame.
    const float open = std::max(0.0f, face.mouthOpen) * face.mouthWidth;
    const Point2 mouthSource{static_cast<float>(mouthX_.filter(face.innerMouth.x, t)),
                             static_cast<float>(mouthY_.filter(face.innerMouth.y - 0.5f * open, t))};
    const float eyeDistance = std::hypot(face.rightEye.x - face.leftEye.x, face.rightEye.y - face.leftEye.y);
    // 2–3. Pose, smoothed.
    const HeadPose pose = measureHeadPose(landmarks, centre, roll);
    const float yaw = std::clamp(static_cast<float>(yaw_.filter(pose.yawSine, t)), -0.85f, 0.85f);
    pitch_.filter(pose.pitchSine, t);
    drawn_.leftExtent = static_cast<float>(leftExtent_.filter(pose.leftExtent, t));
    drawn_.rightExtent = static_cast<float>(rightExtent_.filter(pose.rightExtent, t));
    const float cosYaw = std::sqrt(1 - yaw * yaw);
    frontalEye_ = static_cast<float>(eyeDistance_.filter(eyeDistance / cosYaw, t));
    headWidthFactor_ = std::hypot(1.5f * yaw, 1.22f * cosYaw);
    yawNow_ = yaw;
    if (!(eyeDistance > 1)) return;

    HeadFrame head;
    head.leftEye = toFrame(face.leftEye, centre, roll);
    head.rightEye = toFrame(face.rightEye, centre, roll);
    head.mouth = toFrame(mouthSource, centre, roll);
    head.headCentreX = head.hatCentreX = pose.crown.x;
    head.eyeLineY = (head.leftEye.y + head.rightEye.y) / 2;
    head.headTopY = pose.crown.y;
    head.foreheadWidth = 1.8f * headWidthFactor_ * frontalEye_;
    head.eyeLevelWidth = 0;
    head.mouthOpening = 0.9f * open;
    const Point2 mouthCentre = toFrame(face.mouthCentre, centre, roll);
    mouthHole_[0] = mouthCentre.x;
    mouthHole_[1] = mouthCentre.y;
    mouthHole_[2] = 0.5f * face.mouthWidth;
    mouthHole_[3] = std::max(0.62f * face.mouthHeight, 0.14f * face.mouthWidth);
    if (!(mouthHole_[2] > 0.01f && mouthHole_[3] > 0.01f)) mouthHole_[2] = mouthHole_[3] = 0.01f;

    // 4. The bald cap goes under everything else.
    const int hair = slots[kWearHair].entry;
    if (hair >= 0 && hair < kWearCatalogueSize && kWearCatalogue[hair].kind == kWearKindHair &&
        std::strcmp(kWearCatalogue[hair].id, "bald") == 0)
        drawBaldCap(cr, slots[kWearHair].fit, face, head, g, frameIndex, faceToCanvas);
    // 5–6. Hair, beard, glasses, hat.
    drawItems(cr, slots, head, faceToCanvas, true, &face);
}

}  // namespace qm
