// Choosing a camera's native format: 1280 × 720 at 29 frames per second or more is preferred, then the
// width nearest 1280. Pure functions; the source calls them on the engine thread.
#pragma once

#include <cstddef>
#include <vector>

#include "source/video_device.h"

namespace qm {

// (1000 for exactly 1280 × 720) + (100 for an integer rate ≥ 29) − |width − 1280| ÷ 10.
int scoreNativeFormat(const NativeFormat& format);

// Index of the first format with the highest score; 0 for an empty list.
size_t chooseNativeFormat(const std::vector<NativeFormat>& formats);

}  // namespace qm
