// Draws a premultiplied picture through an affine transform (rotation, scale, translation), bilinear,
// source-over, straight into an image surface. The face painters use it for their large pictures:
// Cairo's own rotated drawing takes a general path several times slower. Engine thread; allocates nothing.
#pragma once

#include <cairo.h>

namespace qm {

// picture: ARGB32 (premultiplied); target: RGB24 or ARGB32. pictureToTarget maps picture pixels to target
// pixels. Outside the picture everything is transparent (its edge pixels fade out over half a pixel).
// Returns false, drawing nothing, when the transform can't be inverted.
bool drawPictureAffine(cairo_surface_t* target, cairo_surface_t* picture,
                       const cairo_matrix_t& pictureToTarget);

}  // namespace qm
