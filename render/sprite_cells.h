// Sprite sheets cut into their cells once at load time, each cell trimmed to its visible pixels, so the
// painters draw only what a frame covers with the affine blitter. The torso and visitor painters use it.
//
// Contract: any thread (it only makes new image surfaces); the sheet must hold every cell it is asked for.
#pragma once

#include <cairo.h>

#include <vector>

#include "render/affine_blit.h"
#include "render/cairo_handles.h"

namespace qm {

struct SpriteCell {
    SurfacePtr picture;          // null for an empty cell
    int x = 0, y = 0;            // its top-left corner in the cell
    std::vector<RowSpan> spans;  // one per picture row: the blitter skips the clear parts
};

// The first `count` cells of a sheet of cellW × cellH cells, `cols` per row; empty when a picture cannot
// be made.
std::vector<SpriteCell> cutSpriteCells(cairo_surface_t* sheet, float cellW, float cellH, int cols, int count);

}  // namespace qm
