// Face geometry: the measures the looks and the drawing use, computed from one frame's 478 landmarks.
// Pure and allocation-free; the engine calls it once per tracked frame, the face-photo preparation once
// per photo. Widths and openness are measured in the face's upright frame (turned by -roll about the
// midpoint of the eyes), so a tilted head keeps the same values.
#pragma once

#include "tracking/face_types.h"

namespace qm {

// The landmark lists (the mesh model's numbering). Eye A is on the image-left side of an unmirrored face.
namespace face_points {
inline constexpr int kEyeA[16] = {33,  7,   163, 144, 145, 153, 154, 155,
                                  133, 173, 157, 158, 159, 160, 161, 246};
inline constexpr int kEyeB[16] = {263, 249, 390, 373, 374, 380, 381, 382,
                                  362, 398, 384, 385, 386, 387, 388, 466};
inline constexpr int kBrowA[10] = {70, 63, 105, 66, 107, 55, 65, 52, 53, 46};
inline constexpr int kBrowB[10] = {300, 293, 334, 296, 336, 285, 295, 282, 283, 276};
inline constexpr int kOuterLips[20] = {61,  146, 91,  181, 84,  17, 314, 405, 321, 375,
                                       291, 409, 270, 269, 267, 0,  37,  39,  40,  185};
inline constexpr int kInnerLips[20] = {78,  95,  88,  178, 87,  14, 317, 402, 318, 324,
                                       308, 415, 310, 311, 312, 13, 82,  81,  80,  191};
inline constexpr int kFaceOval[36] = {10,  338, 297, 332, 284, 251, 389, 356, 454, 323, 361, 288,
                                      397, 365, 379, 378, 400, 377, 152, 148, 176, 149, 150, 136,
                                      172, 58,  132, 93,  234, 127, 162, 21,  54,  103, 67,  109};
inline constexpr int kIrisA = 468;
inline constexpr int kIrisB = 473;
inline constexpr int kForehead = 10;
inline constexpr int kChin = 152;
inline constexpr int kNose = 2;
}  // namespace face_points

FaceGeometry computeGeometry(const LandmarkSet& landmarks);

}  // namespace qm
