// Draws a premultiplied picture through an affine transform (rotation, scale, translation), bilinear,
// source-over, straight into an image surface. The face painters use it for their large pictures:
// Cairo's own rotated drawing takes a general path several times slower. Engine thread; allocates nothing.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace qm {

// Where and how strongly a blit draws, each measure a linear function {a, b, c} → a·x + b·y + c of the
// target pixel's centre (x, y). The wear painter draws the beard's halves and the bald cap with it instead
// of Cairo groups and masks.
struct BlitShape {
    // Only pixels with keep ≥ 0 are drawn, whole: two blits with opposite keeps meet without a seam.
    double keep[3] = {0, 0, 1};
    // Opacity × (1 − fadeDepth · clamp(fade, 0, 1)).
    double fade[3] = {0, 0, 0};
    double fadeDepth = 0;
    // A soft elliptical hole: with r = |(holeU, holeV)|, nothing is drawn where r ≤ holeInner and the
    // opacity rises linearly to 1 at r = 1.
    bool hole = false;
    double holeU[3] = {0, 0, 0}, holeV[3] = {0, 0, 0};
    double holeInner = 0;
    // Only target pixels inside [clipLeft, clipRight) × [clipTop, clipBottom) are drawn (a window visitor's
    // area, with hard edges).
    int clipLeft = 0, clipTop = 0, clipRight = 1 << 30, clipBottom = 1 << 30;
};

// Where a picture row has anything: its pixels [left, right) hold every non-clear one, and [gapLeft,
// gapRight) is the widest clear run between them (empty when gapLeft == gapRight). Measured once per
// picture, they let a blit skip the clear margins and holes (a wig's crown, a beard's mouth).
struct RowSpan {
    int16_t left = 0, right = 0;
    int16_t gapLeft = 0, gapRight = 0;
};
// Measures rows [firstRow, firstRow + rowCount) of an ARGB32 picture into spans[firstRow...].
void measureRowSpans(cairo_surface_t* picture, int firstRow, int rowCount, RowSpan* spans);

// picture: ARGB32 (premultiplied); target: RGB24 or ARGB32. pictureToTarget maps picture pixels to target
// pixels. Outside the picture everything is transparent (its edge pixels fade out over half a pixel).
// shape (optional) limits and fades what is drawn; spans (optional, one per picture row) let it skip
// clear pixels. Returns false, drawing nothing, when the transform can't be inverted.
bool drawPictureAffine(cairo_surface_t* target, cairo_surface_t* picture,
                       const cairo_matrix_t& pictureToTarget, const BlitShape* shape = nullptr,
                       const RowSpan* spans = nullptr);

// Whether groups of four pixels go through the processor's vector unit (on by default, where it has
// AVX2). Tests and benchmarks compare the two paths; they draw the same pixels.
void useVectorBlit(bool on);

}  // namespace qm
