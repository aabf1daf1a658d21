// The person cut out of the camera frame: each source pixel weighted by the person mask (256 × 144,
// stretched bilinearly over the frame), premultiplied, ready to be drawn over the back layer.
// Engine thread; the layer's memory is made when the source size changes and reused every frame.
#pragma once

#include <cstdint>
#include <vector>

#include "render/cairo_handles.h"

namespace qm {

struct PersonLayer {
    SurfacePtr surface;                  // ARGB32, the source's size
    PatternPtr brush;                    // bilinear, on surface
    std::vector<int> column0, column1;   // mask columns around each source column
    std::vector<uint16_t> columnWeight;  // weight of column1, 0..256
    std::vector<uint16_t> maskRow;       // one mask row interpolated vertically, 256 values × 256 (two)
    std::vector<uint8_t> rowMask;        // the mask over one source row (two: one per part of a loop)
};

// Source pixels [x0, x1) × [y0, y1).
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Fills the layer from an RGB24 source bitmap and the mask's BGRA pixels (the value in every byte); with
// a box only the pixels inside it are made (the rest keep what they held: draw the brush clipped to it).
// Returns the layer's brush, or null when its surface can't be made.
cairo_pattern_t* buildPersonLayer(cairo_surface_t* source, const uint8_t* mask, PersonLayer& layer,
                                  const PixelBox* box = nullptr);

}  // namespace qm
