#include "render/wear_painter.h"
#include "render/matrices.h"

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

cairo_matrix_t fromAffine(const Affine& a) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, a.xx, a.yx, a.xy, a.yy, a.x0, a.y0);
    return m;
}

// Cairo keeps a context's first error for good: a transform that can't be inverted or that leaves its
// fixed-point range is never set, the piece is skipped for the frame.
Point2 toFrame(Point2 p, Point2 centre, float roll) {
    const float c = std::cos(roll), s = std::sin(roll), dx = p.x - centre.x, dy = p.y - centre.y;
    return {c * dx + s * dy, -s * dx + c * dy};
}

GradientStop white(double position, double alpha) {
    return {position, 1, 1, 1, alpha};
}

// The opaque bounds of a premultiplied ARGB32 surface; false when it has no opaque pixel.
bool opaqueBounds(cairo_surface_t* surface, int* x0, int* y0, int* x1, int* y1) {
    cairo_surface_flush(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    *x0 = w, *y0 = h, *x1 = 0, *y1 = 0;
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x)
            if (row[x] >> 24)
                *x0 = std::min(*x0, x), *x1 = std::max(*x1, x + 1), *y0 = std::min(*y0, y),
                *y1 = std::max(*y1, y + 1);
    }
    return *x0 < *x1;
}

// The picture at 1 / 2^level of its size, cropped to its opaque pixels unless whole is asked for.
WornLevel makeLevel(cairo_surface_t* picture, int level, bool whole) {
    WornLevel out;
    const int w = cairo_image_surface_get_width(picture), h = cairo_image_surface_get_height(picture);
    const int lw = std::max(1, w >> level), lh = std::max(1, h >> level);
    SurfacePtr sized;
    if (level == 0) {
        sized.reset(cairo_surface_reference(picture));
    } else {
        sized = makePaddedSurface(lw, lh);
        if (checkSurface(sized.get()) != kOk) return out;
        ContextPtr c(cairo_create(sized.get()));
        cairo_scale(c.get(), static_cast<double>(lw) / w, static_cast<double>(lh) / h);
        cairo_set_source_surface(c.get(), picture, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(c.get()), CAIRO_FILTER_GOOD);
        cairo_paint(c.get());
        if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) return out;
    }
    out.stepX = static_cast<double>(w) / lw, out.stepY = static_cast<double>(h) / lh;
    int x0 = 0, y0 = 0, x1 = lw, y1 = lh;
    if (!whole && !opaqueBounds(sized.get(), &x0, &y0, &x1, &y1)) return out;
    if (whole || (x0 == 0 && y0 == 0 && x1 == lw && y1 == lh)) {
        out.bitmap = std::move(sized);
        out.spans.resize(static_cast<size_t>(lh));
        measureRowSpans(out.bitmap.get(), 0, lh, out.spans.data());
        return out;
    }
    SurfacePtr cropped = makePaddedSurface(x1 - x0, y1 - y0);
    if (checkSurface(cropped.get()) != kOk) return out;
    cairo_surface_flush(sized.get());
    const uint8_t* from = cairo_image_surface_get_data(sized.get());
    uint8_t* to = cairo_image_surface_get_data(cropped.get());
    const int fromStride = cairo_image_surface_get_stride(sized.get());
    const int toStride = cairo_image_surface_get_stride(cropped.get());
    for (int y = y0; y < y1; ++y)
        std::memcpy(to + static_cast<size_t>(y - y0) * toStride,
                    from + static_cast<size_t>(y) * fromStride + x0 * 4, static_cast<size_t>(x1 - x0) * 4);
    cairo_surface_mark_dirty(cropped.get());
    out.bitmap = std::move(cropped);
    out.spans.resize(static_cast<size_t>(y1 - y0));
    measureRowSpans(out.bitmap.get(), 0, y1 - y0, out.spans.data());
    out.x = x0, out.y = y0;
    return out;
}

// A level's pixels → the picture's pixels.
cairo_matrix_t levelToPicture(const WornLevel& level) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, level.stepX, 0, 0, level.stepY, level.x * level.stepX, level.y * level.stepY);
    return m;
}

// The face frame's x and y of a canvas point, as linear functions {a, b, c} of it.
struct FrameOfCanvas {
    double x[3], y[3];
};
FrameOfCanvas frameOfCanvas(const cairo_matrix_t& faceToCanvas) {
    cairo_matrix_t m = faceToCanvas;
    cairo_matrix_invert(&m);  // callers checked usable()
    return {{m.xx, m.xy, m.x0}, {m.yx, m.yy, m.y0}};
}
// (f − origin) / scale of a linear function f, into out.
void shifted(const double f[3], double origin, double scale, double out[3]) {
    out[0] = f[0] / scale, out[1] = f[1] / scale, out[2] = (f[2] - origin) / scale;
}

// Bald cap colours are painted over the unit disc into a square of this many pixels.
constexpr int kCapPixels = 256;

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
    skinFrame_ = INT_MIN / 2;
}

int WearPainter::load(const std::string& folder, bool highQuality, const FacePicture& morvel) {
    folder_ = folder;
    highQuality_ = highQuality;
    pictures_.clear();
    std::fill(std::begin(byEntry_), std::end(byEntry_), nullptr);
    std::fill(std::begin(found_), std::end(found_), false);
    warpEntry_ = warpLevel_ = -1;
    reference_.width = morvel.width;
    reference_.height = morvel.height;
    reference_.headTop = morvel.box.headTop;
    reference_.foreheadWidth = morvel.box.foreheadWidth;
    reference_.eyeY = morvel.anchors.leftEyeY;
    // Only checked now (header and size); each picture and its reduced copies are made when an item is
    // first worn: all of them together hold about 35 MB.
    int loaded = 0;
    for (int i = 0; i < kWearCatalogueSize; ++i) {
        const std::string file = wearPictureFile(kWearCatalogue[i]);
        if (file.empty()) continue;
        if (!decodablePictureFile(folder + file)) {
            logLine("missing picture %s", file.c_str());
            continue;
        }
        found_[i] = true;
        ++loaded;
    }
    logLine("worn items: %d pictures", loaded);
    return loaded;
}

bool WearPainter::found(const std::string& file) const {
    for (int i = 0; i < kWearCatalogueSize; ++i)
        if (found_[i] && wearPictureFile(kWearCatalogue[i]) == file) return true;
    return false;
}

void WearPainter::prepare(const WearSlots& slots) {
    for (const WornItem& item : slots) {
        const int i = item.entry;
        if (i < 0 || i >= kWearCatalogueSize || !found_[i] || byEntry_[i]) continue;
        byEntry_[i] = makeWornPicture(i);
        found_[i] = byEntry_[i] != nullptr;  // a file that went bad since start is not tried again
    }
}

const WornPicture* WearPainter::makeWornPicture(int index) {
    const WearEntry& entry = kWearCatalogue[index];
    const std::string file = wearPictureFile(entry);
    if (auto it = pictures_.find(file); it != pictures_.end()) return &it->second;
    Picture picture;
    const bool measured = entry.kind == kWearKindHair;  // for the crown opening
    if (loadPicture(folder_ + file, measured, &picture) != kOk) {
        logLine("missing picture %s", file.c_str());
        return nullptr;
    }
    WornPicture worn;
    worn.width = cairo_image_surface_get_width(picture.bitmap.get());
    worn.height = cairo_image_surface_get_height(picture.bitmap.get());
    if (entry.kind == kWearKindHair)
        worn.holeFraction = holeFraction(picture.pixels.data(), worn.width, worn.height);
    // Beards stay whole: the jaw warp works on their full rows and columns.
    const bool whole = entry.kind == kWearKindBeard;
    for (int level = 0; level < (highQuality_ ? 3 : 1); ++level)
        worn.levels[level] = makeLevel(picture.bitmap.get(), level, whole);
    return &(pictures_[file] = std::move(worn));
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

int WearPainter::levelFor(const WornPicture& picture, const cairo_matrix_t& pictureToCanvas) const {
    if (!highQuality_) return 0;
    // The copy nearest the drawn size: fewer pixels read and no aliasing when a large picture is drawn small.
    const double drawnScale = std::sqrt(
        std::fabs(pictureToCanvas.xx * pictureToCanvas.yy - pictureToCanvas.xy * pictureToCanvas.yx));
    if (drawnScale < 0.35 && picture.levels[2].bitmap) return 2;
    if (drawnScale < 0.7 && picture.levels[1].bitmap) return 1;
    return 0;
}

void WearPainter::drawPicture(cairo_surface_t* canvas, const WornPicture& picture,
                              const Affine& pictureToFace, const cairo_matrix_t& faceToCanvas) {
    const cairo_matrix_t drawing = then(fromAffine(pictureToFace), faceToCanvas);
    if (!usable(drawing)) return;
    const WornLevel& level = picture.levels[levelFor(picture, drawing)];
    if (level.bitmap)
        drawPictureAffine(canvas, level.bitmap.get(), then(levelToPicture(level), drawing), nullptr,
                          level.spans.data());
}

cairo_surface_t* WearPainter::warpedBeard(int entry, const WornPicture& picture, int level,
                                          const JawWarp& warp, int* rows) {
    const WornLevel& sized = picture.levels[level];
    cairo_surface_t* source = sized.bitmap.get();
    if (!source) return nullptr;
    const int pw = cairo_image_surface_get_width(source), ph = cairo_image_surface_get_height(source);
    const JawWarp scaled{static_cast<float>(warp.opening / sized.stepY),
                         static_cast<float>(warp.band / sized.stepY)};
    const bool fresh = warpEntry_ != entry || warpLevel_ != level || !warpBitmap_;
    if (fresh) {
        warpBitmap_ = makePaddedSurface(pw, warpBitmapRows(ph));
        if (checkSurface(warpBitmap_.get()) != kOk) {
            warpBitmap_.reset();
            warpEntry_ = -1;
            return nullptr;
        }
        warpWeights_.assign(static_cast<size_t>(pw), 0.0f);
        warpSpans_.assign(static_cast<size_t>(warpBitmapRows(ph)), RowSpan{});
        warpEntry_ = entry, warpLevel_ = level;
        warpRowsLast_ = 0;
    } else if (std::fabs(scaled.opening - warpLast_.opening) < 0.5f &&
               std::fabs(scaled.band - warpLast_.band) < 0.5f) {
        // Less than half a pixel of change: last frame's warp stands.
        *rows = warpRowsLast_;
        return warpBitmap_.get();
    }
    cairo_surface_flush(source);
    cairo_surface_flush(warpBitmap_.get());
    uint8_t* data = cairo_image_surface_get_data(warpBitmap_.get());
    const int stride = cairo_image_surface_get_stride(warpBitmap_.get());
    const int written =
        warpBeard(cairo_image_surface_get_data(source), cairo_image_surface_get_stride(source), pw, ph,
                  kWearCatalogue[entry].offset, scaled, data, stride, warpWeights_.data(), !fresh);
    // Rows a longer warp left behind are cleared: the bitmap is drawn whole.
    for (int i = written; i < warpRowsLast_; ++i)
        std::memset(data + static_cast<size_t>(i) * stride, 0, static_cast<size_t>(pw) * 4);
    cairo_surface_mark_dirty(warpBitmap_.get());
    // The rows above the mouth are the picture's own: measured once.
    const int top = fresh ? 0 : std::clamp(static_cast<int>(kWearCatalogue[entry].offset * ph), 0, written);
    measureRowSpans(warpBitmap_.get(), top, std::max(written, warpRowsLast_) - top, warpSpans_.data());
    warpRowsLast_ = written;
    warpLast_ = scaled;
    *rows = written;
    return warpBitmap_.get();
}

void WearPainter::drawBeard(cairo_surface_t* canvas, int entry, const WornPicture& picture,
                            const HeadFrame& head, const Fit& fit, const cairo_matrix_t& faceToCanvas,
                            bool realFace) {
    const WearEntry& item = kWearCatalogue[entry];
    const float unit = realFace
                           ? frontalEye_
                           : std::hypot(head.rightEye.x - head.leftEye.x, head.rightEye.y - head.leftEye.y);
    const int pw = picture.width, ph = picture.height;
    const WearPlacement place = placeBeard(head, unit, item.scale, item.offset, pw, ph);
    const cairo_matrix_t pictureToFace = fromAffine(placementMatrix(pw, ph, place, fit));
    const cairo_matrix_t drawing = then(pictureToFace, faceToCanvas);
    if (!usable(drawing) || !usable(faceToCanvas)) return;
    const int level = levelFor(picture, drawing);
    const WornLevel& sized = picture.levels[level];
    cairo_surface_t* source = sized.bitmap.get();
    const RowSpan* spans = sized.spans.data();
    if (!source) return;
    JawWarp warp = jawWarpFor(item.band, item.offset, head.mouthOpening, place.targetWidth * fit.scale, pw,
                              ph, realFace);
    double rows = ph;  // picture rows drawn
    if (warp.opening > 0) {
        int warped = 0;
        if (cairo_surface_t* bitmap = warpedBeard(entry, picture, level, warp, &warped))
            source = bitmap, spans = warpSpans_.data(), rows = warped * sized.stepY;
    }
    drawn_.beardRows = static_cast<float>(rows);
    const cairo_matrix_t sourceToFace = then(levelToPicture(sized), pictureToFace);
    if (!realFace) {
        drawPictureAffine(canvas, source, then(sourceToFace, faceToCanvas), nullptr, spans);
        return;
    }

    // The real face: two halves, each stretched about the split line by its side's extent and kept to its
    // side, faded toward a narrowed side's edge, with the mouth showing through.
    const float split = place.centreX + place.unit * fit.x;
    double faceMin = 1e300, faceMax = -1e300;
    for (int corner = 0; corner < 4; ++corner) {
        double x = corner & 1 ? pw : 0, y = corner & 2 ? rows : 0;
        cairo_matrix_transform_point(&pictureToFace, &x, &y);
        faceMin = std::min(faceMin, x), faceMax = std::max(faceMax, x);
    }
    const FrameOfCanvas f = frameOfCanvas(faceToCanvas);
    BlitShape shape;
    shape.hole = true;
    shape.holeInner = 0.72;  // the edge vignette's clear core
    shifted(f.x, mouthHole_[0], mouthHole_[2], shape.holeU);
    shifted(f.y, mouthHole_[1], mouthHole_[3], shape.holeV);
    const float extents[2] = {drawn_.leftExtent, drawn_.rightExtent};
    for (int side = 0; side < 2; ++side) {
        const double e = extents[side];
        cairo_matrix_t stretch;
        cairo_matrix_init(&stretch, e, 0, 0, 1, split * (1 - e), 0);
        const cairo_matrix_t half = then(then(sourceToFace, stretch), faceToCanvas);
        if (!usable(half)) continue;
        // Each pixel belongs to one half: left keeps x < split, right x ≥ split.
        const double sign = side == 0 ? -1 : 1;
        for (int k = 0; k < 3; ++k)
            shape.keep[k] = sign * (f.x[k] - (k == 2 ? split : 0));
        if (side == 0) shape.keep[2] -= 1e-7;
        shape.fadeDepth = 0;
        if (e < 0.75) {
            // Toward the outer edge the half fades to 1 − a.
            const double a = std::min(1.0, (0.75 - e) / 0.45);
            const double edge = split + e * ((side == 0 ? faceMin : faceMax) - split);
            const double start = split + (1 - 0.7 * a) * (edge - split);
            if (std::fabs(edge - start) > 1e-3) {
                shifted(f.x, start, edge - start, shape.fade);
                shape.fadeDepth = a;
            }
        }
        drawPictureAffine(canvas, source, half, &shape, spans);
    }
}

bool WearPainter::paintCap() {
    if (!capBitmap_) {
        capBitmap_ = makePaddedSurface(kCapPixels, kCapPixels);
        if (checkSurface(capBitmap_.get()) != kOk) {
            capBitmap_.reset();
            return false;
        }
    }
    auto shade = [&](int k, float f) { return std::min(1.0f, skin_[k] * f); };
    PatternPtr gradient = makeRadialBrush({{0, shade(0, 1.05f), shade(1, 1.05f), shade(2, 1.05f), 1},
                                           {0.05, shade(0, 1.05f), shade(1, 1.05f), shade(2, 1.05f), 1},
                                           {1, shade(0, 0.74f), shade(1, 0.74f), shade(2, 0.74f), 1}});
    PatternPtr glow = makeRadialBrush({white(0, 0.12), white(1, 0)});
    if (checkPattern(gradient.get()) != kOk || checkPattern(glow.get()) != kOk) return false;
    // The unit disc fills the square; the gradient's centre and the shine sit up and to the left.
    ContextPtr c(cairo_create(capBitmap_.get()));
    cairo_set_operator(c.get(), CAIRO_OPERATOR_CLEAR);
    cairo_paint(c.get());
    cairo_set_operator(c.get(), CAIRO_OPERATOR_OVER);
    cairo_scale(c.get(), kCapPixels / 2.0, kCapPixels / 2.0);
    cairo_translate(c.get(), 1, 1);
    cairo_matrix_t brush;
    cairo_matrix_init(&brush, 1 / 1.7, 0, 0, 1 / 1.7, 0.25 / 1.7, 0.4 / 1.7);  // user → brush
    cairo_pattern_set_matrix(gradient.get(), &brush);
    ellipsePath(c.get(), 0, 0, 1, 1);
    cairo_set_source(c.get(), gradient.get());
    cairo_fill(c.get());
    cairo_matrix_init(&brush, 1 / 0.42, 0, 0, 1 / 0.3, 0.3 / 0.42, 0.5 / 0.3);
    cairo_pattern_set_matrix(glow.get(), &brush);
    ellipsePath(c.get(), -0.3, -0.5, 0.42, 0.3);
    cairo_set_source(c.get(), glow.get());
    cairo_fill(c.get());
    cairo_surface_flush(capBitmap_.get());
    if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) return false;
    std::copy(skin_, skin_ + 3, capColour_);
    return true;
}

void WearPainter::drawBaldCap(cairo_surface_t* canvas, const Fit& fit, const FaceGeometry& face,
                              const HeadFrame& head, Graphics& g, int frameIndex,
                              const cairo_matrix_t& faceToCanvas) {
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
    if (!skinKnown_ || !(e > 1) || !usable(faceToCanvas)) return;
    // 2. The cap.
    const float w = headWidthFactor_ * e;
    const float mx = (head.leftEye.x + head.rightEye.x) / 2, my = (head.leftEye.y + head.rightEye.y) / 2;
    const float cx = head.headCentreX + 2.2f * fit.x * e, cy = my - 0.55f * e - 2.2f * fit.y * e;
    const float rx = 1.12f * w * fit.scale, ry = 1.72f * e * fit.scale;
    if (!(rx > 0.5f && ry > 0.5f)) return;
    // 3. Its colours, painted again when the colour moved by a step of the canvas's bytes.
    bool moved = !capBitmap_;
    for (int k = 0; k < 3; ++k)
        moved = moved || std::fabs(skin_[k] - capColour_[k]) > 0.5f / 255;
    if (moved && !paintCap()) return;
    // 4. The unit disc onto the cap's ellipse, the face kept clear by the vignette (clear out to half its
    // radius) and the cap faded in upward from just above the eyes.
    cairo_matrix_t capToFace;
    cairo_matrix_init(&capToFace, 2.0 * rx / kCapPixels, 0, 0, 2.0 * ry / kCapPixels, cx - rx, cy - ry);
    const cairo_matrix_t capToCanvas = then(capToFace, faceToCanvas);
    if (!usable(capToCanvas)) return;
    const FrameOfCanvas f = frameOfCanvas(faceToCanvas);
    BlitShape shape;
    shape.hole = true;
    shape.holeInner = 0.5;
    shifted(f.x, mx - 0.4 * yawNow_ * e, 1.15 * e, shape.holeU);
    shifted(f.y, my + 0.3 * e, 1.5 * e, shape.holeV);
    // Opacity 0 at y = my − 0.2 e, 1 at my − 0.6 e: 1 − clamp((y − (my − 0.6 e)) / 0.4 e).
    shifted(f.y, my - 0.6 * e, 0.4 * e, shape.fade);
    shape.fadeDepth = 1;
    drawPictureAffine(canvas, capBitmap_.get(), capToCanvas, &shape);
    drawn_.cap = true;
}

void WearPainter::drawItems(cairo_surface_t* canvas, const WearSlots& slots, const HeadFrame& head,
                            const cairo_matrix_t& faceToCanvas, bool realFace) {
    drawn_.wig = drawn_.hat = false;
    drawn_.beardRows = 0;
    float wigTop = 0, wigWidth = 0;
    // Hair.
    if (const WornPicture* hair = pictureFor(slots, kWearHair)) {
        const WearEntry& item = kWearCatalogue[slots[kWearHair].entry];
        WearPlacement place;
        if (placeWig(head, reference_, item.scale, item.offset, hair->holeFraction, hair->width, hair->height,
                     slots[kWearHair].fit, &place, &wigTop, &wigWidth)) {
            drawPicture(canvas, *hair,
                        placementMatrix(hair->width, hair->height, place, slots[kWearHair].fit),
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
        drawBeard(canvas, slots[kWearBeard].entry, *beard, head, slots[kWearBeard].fit, faceToCanvas,
                  realFace);
    // Glasses.
    if (const WornPicture* glasses = pictureFor(slots, kWearGlasses)) {
        const WearEntry& item = kWearCatalogue[slots[kWearGlasses].entry];
        const WearPlacement place =
            placeGlasses(head, item.scale, item.offset, glasses->width, glasses->height);
        drawPicture(canvas, *glasses,
                    placementMatrix(glasses->width, glasses->height, place, slots[kWearGlasses].fit),
                    faceToCanvas);
    }
    // Hat, over the wig.
    if (const WornPicture* hat = pictureFor(slots, kWearHat)) {
        const WearEntry& item = kWearCatalogue[slots[kWearHat].entry];
        const Fit& fit = slots[kWearHat].fit;
        const WearPlacement place =
            placeHat(head, item.scale, item.offset, hat->width, hat->height, wigTop, wigWidth);
        drawPicture(canvas, *hat, placementMatrix(hat->width, hat->height, place, fit), faceToCanvas);
        drawn_.hat = true;
        drawn_.hatWidth = fit.scale * place.targetWidth;
        drawn_.hatBottom = place.centreY - place.unit * fit.y +
                           0.5f * fit.scale * place.targetWidth * hat->height / std::max(hat->width, 1);
    }
}

void WearPainter::drawOnPicture(Graphics& g, const FrameFilters& filters, const DrawnFacePicture& drawn,
                                const cairo_matrix_t& placement) {
    drawn_.cap = false;
    if (!drawn.picture || !active(filters)) return;
    prepare(filters.wear);
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
    drawItems(g.canvas.get(), filters.wear, head, faceToCanvas, false);
}

void WearPainter::drawOnRealFace(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                                 const LandmarkSet& landmarks, int frameIndex, double elapsed,
                                 const cairo_matrix_t& placement) {
    drawn_.cap = false;
    if (!active(filters)) return;
    prepare(filters.wear);
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
        drawBaldCap(g.canvas.get(), slots[kWearHair].fit, face, head, g, frameIndex, faceToCanvas);
    // 5–6. Hair, beard, glasses, hat.
    drawItems(g.canvas.get(), slots, head, faceToCanvas, true);
}

}  // namespace qm
