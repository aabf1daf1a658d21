// The animated torso: a sprite figure under the head in body-less mode that gestures while the user talks.
// The painter owns the chosen torso's sheets and its animation state.
//
// Contract: engine thread only. choose() runs when the chosen torso changes (loading, with its log lines);
// the composer calls draw once per frame with a face while the body is hidden.
#pragma once

#include <string>

#include "base/frame_filters.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "tracking/face_types.h"

namespace qm {

class TorsoPainter {
public:
    // Loads the named torso ("" for none); false when it could not be loaded.
    bool choose(const std::string& name);
    bool loaded() const { return false; }
    const std::string& chosen() const { return name_; }
    // Releases the sheets (at engine shutdown).
    void release() {}

    // Draws the torso under the head; may move the placement so a full-length figure fits the frame.
    void draw(Graphics& g, const FrameFilters& filters, const FaceGeometry& face, const SmoothedAnchors& s,
              double timeMs, cairo_matrix_t* placement);

private:
    std::string name_;
};

}  // namespace qm
