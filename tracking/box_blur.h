// A box blur on float buffers whose cost does not depend on the radius: each pass runs a horizontal and
// then a vertical running sum of 2r + 1 samples, with the edge value repeated beyond the buffer. The
// looks use it for their half-size smoothing buffers and their make-up layers, the face photo for its
// masks. Pure, any thread; the caller's scratch grows only when a bigger buffer comes, so once it has
// its size a blur allocates nothing.
#pragma once

#include <vector>

namespace qm {

struct BoxBlurScratch {
    std::vector<float> rows;  // the horizontal result of one pass, width × height × channels
    std::vector<float> sums;  // one row of vertical running sums
};

// The radius for a standard deviation: max(1, ⌊k·sigma + 0.5⌋), k = 1.2 for several passes, else 1.7.
int boxBlurRadius(float sigma, int passes);

// Blurs `width` × `height` pixels of `channels` interleaved floats in place; `rowStride` is the distance
// between rows in floats (0: packed rows). Nothing happens for an empty buffer or no passes.
void boxBlur(float* buffer, int width, int height, int channels, float sigma, int passes,
             BoxBlurScratch& scratch, int rowStride = 0);

}  // namespace qm
