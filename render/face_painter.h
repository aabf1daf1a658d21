// The replacement faces (morvel, orange, banana, kitten and the googly morvel) as one painter: it owns their
// pictures and brushes and the googly pupils' state, and draws the chosen face at the smoothed anchors.
//
// Contract: engine thread only; loaded once at start, then called by the composer once per frame with a
// face.
#pragma once

#include <string>

#include "base/filter_types.h"
#include "render/face_smoothing.h"
#include "render/replacement_faces.h"

namespace qm {

// How the head moves, for the googly pupils: velocity in source pixels per 1/30 s, and the eye-open
// reference for the blink.
struct HeadMotion {
    float velocityX = 0, velocityY = 0;
    float eyeOpenReference = 0.3f;
};

// A face picture as it was drawn this frame, for the wear drawn over it.
struct DrawnFacePicture {
    const FacePicture* picture = nullptr;  // null when no picture was drawn (the kitten, nothing)
    FacePicturePlacement where{};
    float x = 0, y = 0, angle = 0;  // the anchor in source pixels and the drawn angle
};

class FacePainter {
public:
    // The morvel now, the other pictures when first drawn (prepare).
    HResult load(const std::string& assetFolder);
    // Makes the pictures face kind 1–5 draws with; false when they can't be read (logged once, and that
    // face then draws nothing).
    bool prepare(int faceKind);

    // Draws face kind 1–5 with the face's fit; anything else draws nothing.
    DrawnFacePicture draw(Graphics& g, int faceKind, const FaceGeometry& face, const SmoothedAnchors& s,
                          const Fit& fit, const HeadMotion& motion, const cairo_matrix_t& placement);
    // The face was lost: the next face's pupils start without a kick.
    void faceLost() { googly_.reset = true; }

    const FaceArt& art() const { return art_; }
    const GooglyState& googly() const { return googly_; }

private:
    std::string folder_;
    FaceArt art_;
    bool unreadable_[kFacePictureCount + 1] = {};  // the face pictures, then the kitten
    GooglyState googly_;
};

}  // namespace qm
