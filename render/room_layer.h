// The empty room behind the person in body-less mode: a room captured on request, the room learned from
// the person mask while the body is hidden (tracking/room_plate), and the head cut out of the camera
// picture over it. The layer owns the captured room, the learned plate and its bitmap, and the head's
// own person layer.
//
// Contract: engine thread only. The engine consumes the window's capture and forget requests and passes
// them in each frame as plain values; it reads captured() back for the window. A request to forget the
// learned room waits for the next frame that learns.
#pragma once

#include "render/cairo_handles.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "render/person_layer.h"
#include "tracking/room_plate.h"

namespace qm {

// One frame's room requests from the window.
struct RoomRequests {
    bool capture = false;        // take the current camera picture as the empty room
    bool forget = false;         // drop the captured room
    bool forgetLearned = false;  // drop what was learned of the room
};

// The head cut-out's soft ellipse in source pixels: radii 0.62 and 0.86 face widths times the head
// setting, turned with the head.
struct HeadEllipse {
    double centreX = 0, centreY = 0, radiusX = 0, radiusY = 0, angle = 0;
};
HeadEllipse headEllipse(const SmoothedAnchors& s, float headScale);

// Lays the soft ellipse into premultiplied pixels of `box`: kept whole to 0.8 of the radius, fading
// linearly to clear at the radius, cleared beyond it.
void fadeToHeadEllipse(uint8_t* data, int stride, const PixelBox& box, const HeadEllipse& e);

class RoomLayer {
public:
    // Applies the requests against this frame's source bitmap; a captured room of another size is dropped.
    void applyRequests(const Graphics& g, const RoomRequests& requests);
    bool captured() const { return static_cast<bool>(captured_); }

    // Learns the room from the parts of this frame that the mask (g.maskBuffer, just uploaded) calls room.
    void learn(const Graphics& g, const uint8_t* framePixels, int frameStride);
    // The room to draw where the body was: the captured one, else the learned one, else null.
    cairo_surface_t* room() const;

    // The camera picture through the person mask and the soft ellipse around the head, drawn through
    // `placement` (source pixels → canvas).
    void drawHeadCutout(Graphics& g, const SmoothedAnchors& s, float headScale,
                        const cairo_matrix_t& placement);

    const RoomPlate& plate() const { return plate_; }

private:
    SurfacePtr captured_;
    RoomPlate plate_;
    SurfacePtr learned_;  // over plate_.output
    bool forgetPending_ = false;
    PersonLayer head_;
};

}  // namespace qm
