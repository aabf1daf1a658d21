// The face detector: finds one face in a whole frame and gives the rotated square (FaceRegion) that the
// face mesh reads. The engine calls detectFace on its thread only while no face is being followed.
//
// Model contract: input "image", float32 [1, 3, 128, 128], planes R, G, B in -1..1 (the frame
// letterboxed, bars -1); outputs "out0", 896 rows of 16 box regressors in input pixels relative to the
// row's anchor centre (centre x, y, width, height, then six keypoints, the first two the eyes), and
// "out1", 896 score logits.
#pragma once

#include "tracking/anchors.h"
#include "tracking/crop_math.h"
#include "tracking/face_tracker.h"
#include "tracking/sample_bilinear.h"

namespace qm {

// Counts the run in tracker.detectorRuns, then looks for the best-scoring face. True: region holds it
// (and tracker.detection the details). False (no face, or an empty picture): region is unchanged.
// Throws ModelError when the runtime fails.
bool detectFace(FaceTracker& tracker, const SourcePicture& picture, FaceRegion& region);

// The letterboxed detector input: 3 planes of 128×128, values v / 127.5 - 1.
void fillDetectorInput(const SourcePicture& picture, const Letterbox& box, float* input);

// Picks the face from the outputs: the first row with the greatest logistic score strictly above 0.5
// (no suppression; one face). Decodes it into source pixels: the box centre, 1.5 × the longer box side,
// and the angle from eye keypoint 0 to eye keypoint 1. A row whose box does not decode to finite
// numbers with a positive size is no face. Returns false and leaves face as it was when nothing qualifies.
bool decodeBestFace(const float* boxes, const float* logits, const DetectorAnchors& anchors,
                    const Letterbox& box, DetectedFace& face);

}  // namespace qm
