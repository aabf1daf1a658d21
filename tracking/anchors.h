// The face detector's anchor table: 896 anchor centres in 0..1 of its 128-pixel input. A 16×16 grid with
// 2 anchors per cell (indices 0-511), then an 8×8 grid with 6 per cell (512-895); cells row by row, the
// anchors of a cell consecutive and equal. Built once when the models load.
#pragma once

#include <array>

#include "tracking/face_types.h"

namespace qm {

constexpr int kDetectorAnchorCount = 896;
using DetectorAnchors = std::array<Point2, kDetectorAnchorCount>;

DetectorAnchors buildDetectorAnchors();

}  // namespace qm
