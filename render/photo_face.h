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
#include "render/graphics.h"

namespace qm {

class PhotoFace {
public:
    // Makes the brushes; the first failure is reported and returned.
    HResult load();

    // Takes a newly prepared photo (null: none).
    void setPhoto(std::unique_ptr<FacePhoto> photo) { photo_ = std::move(photo); }
    bool ready() const { return photo_ && photo_->bitmap; }
    const FacePhoto* photo() const { return photo_.get(); }

    // Follows the user's features every frame with a face, while the photo is worn.
    void updateLive(const FaceGeometry& face);
    DrawnFacePicture draw(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                          const SmoothedAnchors& s, const cairo_matrix_t& placement);

private:
    std::unique_ptr<FacePhoto> photo_;
    ColourMatrix exposure_, warmth_;
    PatternPtr softEllipse45_, softEllipse55_, softEllipse70_, softEllipse80_;
    PatternPtr mouthCavity_, lips_, mouthRimShade_, teeth_, darkDot_, whiteFadeIn_, blackFadeOut_;
};

}  // namespace qm
