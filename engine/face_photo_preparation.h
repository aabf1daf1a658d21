// Face photo preparation: turns a user's face photo into a FacePhoto for drawing, with the same tracker
// that follows the camera (person mask for the cut-out, detector and mesh for the face).
//
// Contract: engine thread only, between two frames, when the chosen photo changes; the tracker is left
// searching afresh for the camera's face afterwards.
#pragma once

#include <memory>
#include <string>

#include "engine/engine_seams.h"
#include "render/face_photo.h"

namespace qm {

// The prepared photo, or null when it cannot be read (the caller logs "face picture: cannot read %s").
std::unique_ptr<FacePhoto> prepareFacePhoto(const std::string& path, FaceTracking& tracking);

}  // namespace qm
