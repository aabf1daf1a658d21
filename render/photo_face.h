// The photo face: a user's prepared face photo worn as a face, animated by the user's own face (mouth,
// brows, eyes, with the photo's or the user's eyes and mouth), with the photo's exposure, warmth, tilt and
// neck. The painter owns the prepared photo, its brushes and colour matrices.
//
// Contract: engine thread only. The engine hands over each newly prepared FacePhoto (or none); the composer
// asks ready() before choosing face kind 6 and calls updateLive and draw once per frame with a face.
#pragma once

#include <memory>

#include "base/frame_filters.h"
#include "render/effects.h"
#include "render/face_painter.h"
#include "render/face_photo.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"

namespace qm {

class PhotoFace {
public:
    // Makes the brushes; the first failure is reported and returned.
    HResult load();

    // Takes a newly prepared photo (null: none) and makes its live target.
    void setPhoto(std::unique_ptr<FacePhoto> photo);
    bool ready() const { return photo_ && work_.bitmap && live_; }
    const FacePhoto* photo() const { return photo_.get(); }

    // Animates the photo into its live target from the user's face, every frame with a face while the
    // photo is worn; the neck is trimmed again first when it changed.
    void updateLive(const FaceGeometry& face, const FaceBaselines& baselines, const FrameFilters& filters);
    DrawnFacePicture draw(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                          const SmoothedAnchors& s, const cairo_matrix_t& placement);

private:
    void tone(const FrameFilters& filters);
    void openMouth(cairo_t* cr, const FaceGeometry& face);
    void animateEyes(cairo_t* cr, const FaceGeometry& face, const FaceBaselines& baselines, float smile);
    void featheredPhoto(cairo_t* cr, cairo_pattern_t* brush, float cx, float cy, float rx, float ry,
                        float angle, double dx, double dy);

    std::unique_ptr<FacePhoto> photo_;
    FacePhoto work_;     // the photo as it is animated (smaller when large), without its full pixels
    FacePicture shell_;  // the photo's measures as a face picture, for the wear drawn over it
    SurfacePtr live_;    // the animated photo, a little taller than the photo for the dropped chin
    ContextPtr liveCr_;
    SurfacePtr mouth_;  // the warped mouth rectangle
    SurfacePtr toned_;  // the trimmed photo with exposure and warmth
    cairo_surface_t* tonedFrom_ = nullptr;
    float tonedExposure_ = 0, tonedWarmth_ = 0;
    cairo_surface_t* base_ = nullptr;  // what the animation draws from: the toned or the trimmed photo
    float open_ = 0, smile_ = 0, closedMouthWidth_ = 0;
    ColourMatrix exposure_, warmth_;
    PatternPtr softEllipse45_, softEllipse55_, softEllipse70_, softEllipse80_;
    PatternPtr mouthCavity_, lips_, mouthRimShade_, teeth_, darkDot_, whiteFadeIn_, blackFadeOut_;
};

}  // namespace qm
