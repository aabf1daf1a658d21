#include "render/composition.h"

#include <algorithm>
#include <cmath>

#include "base/failure.h"
#include "base/log.h"
#include "render/cover.h"

namespace qm {

namespace {

cairo_matrix_t coverMatrix(int width, int height) {
    const CoverTransform t = coverTransform(width, height);
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.scale, 0, 0, t.scale, t.offsetX, t.offsetY);
    return m;
}

// A face whose measures aren't all finite numbers is treated as no face: nothing sane can be drawn from it.
bool finiteFace(const FaceGeometry& f) {
    const float values[] = {f.leftEye.x,    f.leftEye.y,    f.rightEye.x,  f.rightEye.y,    f.leftBrow.x,
                            f.leftBrow.y,   f.rightBrow.x,  f.rightBrow.y, f.mouthCentre.x, f.mouthCentre.y,
                            f.faceCentre.x, f.faceCentre.y, f.eyeWidth,    f.mouthWidth,    f.mouthHeight,
                            f.mouthOpen,    f.faceWidth,    f.roll,        f.eyeOpen,       f.gazeX,
                            f.gazeY,        f.browRaise};
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

void resetBrush(cairo_pattern_t* pattern) {
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    cairo_pattern_set_matrix(pattern, &identity);
}

}  // namespace

HResult Composer::load() {
    if (HResult hr = faces_.load(g_.assetFolder); hr != kOk) return hr;
    wear_.load(g_.assetFolder, g_.onHardware, faces_.art().faces[kMorvelPicture]);
    return photoFace_.load();
}

void Composer::prepare(const FrameFilters& filters) {
    if (filters.backgroundPath != backgroundPath_ || filters.backgroundVersion != backgroundVersion_) {
        backgroundPath_ = filters.backgroundPath;
        backgroundVersion_ = filters.backgroundVersion;
        if (backgroundPath_.empty()) {
            backgroundLoad_.drop();
            background_ = Picture{};
        } else {
            // The picture in use stays until its successor is ready, so the room does not flash between them.
            backgroundLoad_.start([path = backgroundPath_]() -> std::unique_ptr<Picture> {
                auto picture = std::make_unique<Picture>();
                if (!failed(loadPicture(path, false, picture.get()))) return picture;
                logLine("background: cannot read %s", path.c_str());
                return nullptr;
            });
        }
    }
    if (std::unique_ptr<Picture> picture; backgroundLoad_.take(&picture))
        installBackground(std::move(picture));
    if (filters.torso != torso_.chosen()) torso_.choose(g_.assetFolder, filters.torso);
    torso_.poll();
    if (filters.visitor != visitor_.chosen()) visitor_.choose(g_.assetFolder, filters.visitor);
    visitor_.poll();
}

FramePlan Composer::plan(const FrameFilters& filters, bool maskModelLoaded) const {
    FramePlan plan;
    if (!filters.filtering) return plan;
    plan.faceKind = filters.faceKind;
    if (plan.faceKind == kFaceCustom && !photoFace_.ready()) plan.faceKind = kFaceNone;
    plan.wear = wearChosen(filters);
    plan.removeBody = maskModelLoaded && (filters.bodyless || torso_.loaded());
    plan.replaceBackground = maskModelLoaded && (hasBackground() || filters.blur || visitor_.loaded());
    return plan;
}

HResult Composer::takePixels(const FrameInput& input) {
    if (pixelsTaken_) return kOk;
    pixelsTaken_ = true;
    if (input.pixelsGate) input.pixelsGate->wait();
    shareRowsWith(input.rowHelper);  // the look is done: the second core is free
    return uploadSourceFrame(g_, input.sourcePixels, input.sourceStride);
}

HResult Composer::composeFrame(const FrameInput& in, const FrameFilters& filters) {
    cairo_t* cr = g_.cr.get();
    FrameInput input = in;
    if (input.face && !finiteFace(*input.face)) input.face = nullptr;
    const int w = g_.sourceWidth, h = g_.sourceHeight;
    const FramePlan plan = this->plan(filters, input.personMask != nullptr);
    // While the touch-up look retouches the frame beside the drawing, the blits keep to this thread.
    struct RowSharing {
        RowHelper* previous;
        ~RowSharing() { shareRowsWith(previous); }
    } sharing{shareRowsWith(input.pixelsGate ? nullptr : input.rowHelper)};

    // 1. The camera picture goes into the source bitmap just before something first shows it, so that
    // what never shows it (a background picture, the visitor, the torso) is drawn while the touch-up look
    // may still be retouching it. The drawing order on the canvas stays the same.
    pixelsTaken_ = false;

    // 2. Baselines (and the photo's live features) follow every frame with a face.
    if (input.face) {
        updateBaselines(baselines_, *input.face);
        if (plan.faceKind == kFaceCustom) photoFace_.updateLive(*input.face, baselines_, filters);
    }

    // 3. Everything is drawn in source pixels through the cover transform.
    const cairo_matrix_t cover = coverMatrix(w, h);

    // 4. Room requests from the window (a capture copies the camera picture).
    if (input.room.capture)
        if (HResult hr = takePixels(input); hr != kOk) return hr;
    room_.applyRequests(g_, input.room);

    // 5. Person mask.
    const bool maskReady = plan.needsMask() && input.personMask;
    if (maskReady) uploadPersonMask(g_, input.personMask);
    const bool bodyGone = maskReady && plan.removeBody;

    // 6. The learned room keeps learning while the body is hidden over nothing better.
    if (bodyGone && !room_.captured() && !hasBackground()) {
        if (HResult hr = takePixels(input); hr != kOk) return hr;
        room_.learn(g_, input.sourcePixels, input.sourceStride);
    }

    // 7–9. Back layer, visitor, person.
    if (!backIsPicture(maskReady))
        if (HResult hr = takePixels(input); hr != kOk) return hr;
    cairo_save(cr);
    cairo_set_matrix(cr, &cover);
    drawBackLayer(filters, maskReady, bodyGone);
    if (maskReady) {
        visitor_.draw(g_, filters, input.timeMs);
        if (!bodyGone) {
            if (HResult hr = takePixels(input); hr != kOk) {
                cairo_restore(cr);
                return hr;
            }
            drawPerson();
        }
    }

    // 10. No face: the next face starts afresh.
    if (!input.face) {
        lastFaceTime_ = 0;
        hasPreviousCentre_ = false;
        anchors_.reset();
        wear_.reset();
        faces_.faceLost();
        cairo_restore(cr);
        if (HResult hr = takePixels(input); hr != kOk) return hr;
        return hresultFromCairo(cairo_status(cr));
    }

    // 11. Smoothed anchors and head velocity, only when something follows the face.
    if (plan.faceKind != kFaceNone || wear_.active(filters) || bodyGone) {
        double elapsed = 1.0 / 30;
        if (lastFaceTime_ > 0) elapsed = std::clamp((input.timeMs - lastFaceTime_) / 1000, 0.001, 0.2);
        lastFaceTime_ = input.timeMs;
        const SmoothedAnchors s = anchors_.filter(*input.face, elapsed);
        if (hasPreviousCentre_) {
            headVelocityX_ = static_cast<float>((s.centreX - previousCentreX_) / (elapsed * 30));
            headVelocityY_ = static_cast<float>((s.centreY - previousCentreY_) / (elapsed * 30));
        }
        previousCentreX_ = s.centreX;
        previousCentreY_ = s.centreY;
        hasPreviousCentre_ = true;
        cairo_matrix_t placement = cover;

        // 12. Body-less: torso and head cut-out over the room.
        if (bodyGone && torso_.loaded()) {
            const TorsoFace under{plan.faceKind == kFaceKitten && faces_.prepare(kFaceKitten),
                                  static_cast<float>(faces_.art().kittenWidth),
                                  static_cast<float>(faces_.art().kittenHeight)};
            torso_.draw(g_, filters, under, *input.face, s, input.timeMs, &placement);
        }
        // The head cut-out, the face's eye and mouth pastes and the skin under worn items show the camera
        // picture.
        if (HResult hr = takePixels(input); hr != kOk) {
            cairo_restore(cr);
            return hr;
        }
        if (bodyGone) room_.drawHeadCutout(g_, s, filters.headScale, placement);
        // 13. The face filter, then what is worn over it.
        drawFaceFilter(input, filters, plan, s, elapsed, placement);
    }
    cairo_restore(cr);
    if (HResult hr = takePixels(input); hr != kOk) return hr;
    // 14. Cairo keeps the first error of the context: a failed frame stops the engine.
    return hresultFromCairo(cairo_status(cr));
}

void Composer::drawBackLayer(const FrameFilters& filters, bool maskReady, bool bodyGone) {
    cairo_t* cr = g_.cr.get();
    const int w = g_.sourceWidth, h = g_.sourceHeight;
    if (backIsPicture(maskReady)) {
        drawBackgroundPicture(background_);
        return;
    }
    cairo_surface_t* back = g_.source.get();
    if (bodyGone)
        if (cairo_surface_t* room = room_.room()) back = room;
    const int backWidth = cairo_image_surface_get_width(back),
              backHeight = cairo_image_surface_get_height(back);
    const double k = static_cast<double>(w) / backWidth;

    cairo_save(cr);
    if (maskReady && filters.blur) {
        cairo_surface_t* blurred = blurBitmap(back, static_cast<float>(w * 0.012 / k), g_.backgroundBlur);
        if (blurred) {
            // The blur fades out at the picture's edges. Drawn as the canvas's new content on an opaque
            // canvas, that fade shows black there, never an older frame.
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_scale(cr, k, k);
            cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
            cairo_rectangle(cr, 0, 0, backWidth, backHeight);
            cairo_clip(cr);
            cairo_scale(cr, static_cast<double>(backWidth) / cairo_image_surface_get_width(blurred),
                        static_cast<double>(backHeight) / cairo_image_surface_get_height(blurred));
            cairo_set_source_surface(cr, blurred, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_paint(cr);
            cairo_restore(cr);
            return;
        }
    }
    // The bitmap stretched over the source rectangle, replacing whatever the canvas held.
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (back == g_.source.get()) {
        resetBrush(g_.sourceBrush.get());
        cairo_set_source(cr, g_.sourceBrush.get());
    } else {
        cairo_scale(cr, k, k);
        cairo_set_source_surface(cr, back, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    }
    cairo_paint(cr);
    cairo_restore(cr);
}

void Composer::installBackground(std::unique_ptr<Picture> picture) {
    background_ = picture ? std::move(*picture) : Picture{};
}

void Composer::drawBackgroundPicture(const Picture& picture) {
    cairo_t* cr = g_.cr.get();
    const int w = g_.sourceWidth, h = g_.sourceHeight;
    // The picture's crop never changes while the picture and source size stay: draw it once onto a
    // canvas-sized layer and copy that layer each frame.
    if (!backgroundLayer_ || backgroundLayerPicture_ != picture.bitmap.get() ||
        backgroundLayerSerial_ != picture.serial || backgroundLayerWidth_ != w ||
        backgroundLayerHeight_ != h) {
        backgroundLayer_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kCanvasWidth, kCanvasHeight));
        ContextPtr c(cairo_create(backgroundLayer_.get()));
        const cairo_matrix_t cover = coverMatrix(w, h);
        cairo_set_matrix(c.get(), &cover);
        const int pw = cairo_image_surface_get_width(picture.bitmap.get());
        const int ph = cairo_image_surface_get_height(picture.bitmap.get());
        const CropRect crop = backgroundCrop(pw, ph, w, h);
        cairo_rectangle(c.get(), 0, 0, w, h);
        cairo_clip(c.get());
        cairo_scale(c.get(), w / (crop.x1 - crop.x0), h / (crop.y1 - crop.y0));
        cairo_translate(c.get(), -crop.x0, -crop.y0);
        cairo_set_source_surface(c.get(), picture.bitmap.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(c.get()), CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(cairo_get_source(c.get()), CAIRO_EXTEND_PAD);
        cairo_paint(c.get());
        backgroundLayerPicture_ = picture.bitmap.get();
        backgroundLayerSerial_ = picture.serial;
        backgroundLayerWidth_ = w;
        backgroundLayerHeight_ = h;
    }
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, backgroundLayer_.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void Composer::drawPerson() {
    // The person layer is the source weighted by the mask brush stretched over the source rectangle
    // (scale source / mask size), made at the source's resolution and drawn like the source itself.
    cairo_pattern_t* person = buildPersonLayer(g_.source.get(), g_.maskBuffer.data(), personLayer_);
    if (!person) return;
    cairo_t* cr = g_.cr.get();
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, g_.sourceWidth, g_.sourceHeight);
    cairo_clip(cr);
    cairo_set_source(cr, person);
    cairo_paint(cr);
    cairo_restore(cr);
}

void Composer::drawFaceFilter(const FrameInput& input, const FrameFilters& filters, const FramePlan& plan,
                              const SmoothedAnchors& s, double elapsed, const cairo_matrix_t& placement) {
    const FaceGeometry& face = *input.face;
    const bool wear = wear_.active(filters);
    if (plan.faceKind == kFaceNone) {
        if (wear && input.landmarks)
            wear_.drawOnRealFace(g_, filters, face, *input.landmarks, input.frameIndex, elapsed, placement);
        return;
    }
    const DrawnFacePicture drawn =
        plan.faceKind == kFaceCustom
            ? photoFace_.draw(g_, filters, face, s, placement)
            : faces_.draw(g_, plan.faceKind, face, s, filters.faceFit,
                          {headVelocityX_, headVelocityY_, baselines_.eyeOpenReference}, placement);
    if (wear && drawn.picture) wear_.drawOnPicture(g_, filters, drawn, placement);
}

}  // namespace qm
