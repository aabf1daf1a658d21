// Wear-item maths: where a hair, hat, glasses or beard picture goes on a head described in its face frame,
// the head's pose from the 3-D landmarks, a wig's crown opening, the beard's jaw warp and the bald cap's
// skin colour. Pure: no drawing types; the wear painter (wear_painter.h) turns the results into drawing.
//
// The face frame: origin at the face's anchor, x along the eye line, y downward, in source pixels (a face
// picture's frame is its picture scaled by h across and h × verticalScale down).
#pragma once

#include <cstdint>

#include "base/filter_types.h"
#include "tracking/face_types.h"

namespace qm {

// The head as both callers describe it, in its face frame.
struct HeadFrame {
    Point2 leftEye, rightEye;
    Point2 mouth;           // the beard's mouth point
    float headCentreX = 0;  // where hair is centred
    float hatCentreX = 0;   // where a hat is centred: the crown on the real face, the eyes' middle otherwise
    float eyeLineY = 0;     // mean of the eyes' y
    float headTopY = 0;
    float foreheadWidth = 0;  // fw
    float eyeLevelWidth = 0;  // ew; 0 = unknown
    float mouthOpening = 0;   // source pixels
};

// The morvel picture's measures: hair is sized and lifted by its proportions on every head.
struct ReferenceHead {
    float width = 0, height = 0;  // mW, mH
    float headTop = 0;            // mTop, picture pixels
    float foreheadWidth = 0;      // mFw, picture pixels
    float eyeY = 0;               // mEye: leftEyeY as a fraction of the height
};

// Where one picture lands in the face frame: centre before the fit's offsets, target width, the unit of
// the fit's offsets and a turn added to the fit's own.
struct WearPlacement {
    float centreX = 0, centreY = 0;
    float targetWidth = 0;
    float unit = 0;
    float rotation = 0;
};

// An affine map laid out like cairo_matrix_t: x' = xx·x + xy·y + x0, y' = yx·x + yy·y + y0.
struct Affine {
    double xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;
};

// Picture pixels → face frame: k = tw · s / max(pw, 1); the picture scaled by k with its centre at the
// origin, turned by the fit's rotation plus place.rotation, moved to (cx + u · fx, cy − u · fy).
Affine placementMatrix(int pw, int ph, const WearPlacement& place, const Fit& fit);

// The widest clear gap beside the middle column in the fifth of the picture below the crown's hair, as a
// fraction of the width (0 if none); alpha above 128 counts as opaque.
float holeFraction(const uint8_t* premultipliedBgra, int width, int height);

// Hair: false when nothing is drawn (no reference head). wigTop and wigWidth are what a hat over it needs.
bool placeWig(const HeadFrame& head, const ReferenceHead& reference, float scale, float offset, float hole,
              int pw, int ph, const Fit& fit, WearPlacement* place, float* wigTop, float* wigWidth);
// A hat, over a wig when wigWidth > 0 (the head then takes the wig's size and top).
WearPlacement placeHat(const HeadFrame& head, float scale, float offset, int pw, int ph, float wigTop,
                       float wigWidth);
WearPlacement placeGlasses(const HeadFrame& head, float scale, float offset, int pw, int ph);
// A beard with unit b (the eye distance on a picture, the frontal eye distance on the real face).
WearPlacement placeBeard(const HeadFrame& head, float unit, float scale, float offset, int pw, int ph);

// Jaw warp amounts, in beard picture pixels: the opening K (0: no warp) and the band L over which the chin
// starts to follow it.
struct JawWarp {
    float opening = 0;
    float band = 0;
};
// mouthOpening in source pixels; drawnWidth = tw · s. realFace keeps the band at least 1.7 K long.
JawWarp jawWarpFor(float band, float offset, float mouthOpening, float drawnWidth, int pw, int ph,
                   bool realFace);
// Rows of the cached warp bitmap for a beard of height ph, and rows one warp produces.
int warpBitmapRows(int ph);
int warpedRows(int ph, float opening);
// Writes the warped beard (src: rows srcStride bytes apart) into dst (rows dstStride bytes apart, at least
// warpedRows rows); weights is pw floats of scratch. Rows above the mouth row are copied as they are (unless
// topRowsInPlace: an earlier warp into the same dst copied them); below it every column moves down by up to
// K (the middle most, the sides not at all), easing in over the band. Returns the rows written.
int warpBeard(const uint8_t* src, int srcStride, int pw, int ph, float offset, const JawWarp& warp,
              uint8_t* dst, int dstStride, float* weights, bool topRowsInPlace = false);

// The head's pose from the landmarks with depths, with the crown and side extents in the face frame
// (rotated by roll about faceCentre).
struct HeadPose {
    float yawSine = 0, pitchSine = 0;
    Point2 crown;
    float leftExtent = 1, rightExtent = 1;
};
HeadPose measureHeadPose(const LandmarkSet& landmarks, Point2 faceCentre, float roll);

// Skin colour for the bald cap from straight BGRA frame pixels: two cheek squares and a forehead square
// around the eyes, the forehead's colour taken when it matches the cheeks. False when nothing usable.
bool sampleCapSkin(const uint8_t* bgra, int width, int height, Point2 leftEye, Point2 rightEye, float roll,
                   float rgb[3]);

}  // namespace qm
