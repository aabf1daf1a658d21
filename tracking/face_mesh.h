// The face mesh: cuts a FaceRegion's rotated square out of the frame, runs the mesh model on it and
// writes the 478 landmarks back in frame pixels; regionFromLandmarks gives the next frame's region.
// The engine calls these on its thread for every frame while a face is followed (confidence >= 0.5).
//
// Model contract: input "image", float32 [1, 3, 256, 256], planes R, G, B in 0..1 (outside the frame
// reads 0); outputs "out0", 478 rows of (x, y, z) in input pixels (0-467 the face surface, 468-477 the
// irises, 468 and 473 the iris centres), and "out1", one face logit.
#pragma once

#include "tracking/crop_math.h"
#include "tracking/face_tracker.h"
#include "tracking/sample_bilinear.h"

namespace qm {

// Overwrites tracker.landmarks (points, depths, its region = the one given, and tracking = confidence
// >= 0.5) whatever the result and returns the face confidence 0..1. Throws ModelError when the runtime
// fails.
float trackFace(FaceTracker& tracker, const SourcePicture& picture, const FaceRegion& region);

// The next frame's region from the landmarks: angle from outer eye corner 33 to 263; centre of the
// landmark box in the face's own orientation; side 1.5 × the longer box side.
FaceRegion regionFromLandmarks(const LandmarkSet& landmarks);

// The rotated crop: 3 planes of 256×256, values / 255.
void fillMeshInput(const SourcePicture& picture, const FaceRegion& region, float* input);

// Maps the model's points (478 × x, y, z in input pixels) into frame pixels and depths.
void landmarksFromMesh(const float* points, const FaceRegion& region, LandmarkSet& landmarks);

}  // namespace qm
