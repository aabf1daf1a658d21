// Small builders for Cairo matrices, read in the order the transforms apply.
#pragma once

#include <cairo.h>

#include <cmath>

namespace qm {

inline cairo_matrix_t translation(double x, double y) {
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, x, y);
    return m;
}
inline cairo_matrix_t scaling(double sx, double sy) {
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, sx, sy);
    return m;
}
inline cairo_matrix_t rotation(double radians) {
    cairo_matrix_t m;
    cairo_matrix_init_rotate(&m, radians);
    return m;
}
// first, then second.
inline cairo_matrix_t then(const cairo_matrix_t& first, const cairo_matrix_t& second) {
    cairo_matrix_t m;
    cairo_matrix_multiply(&m, &first, &second);
    return m;
}
inline void mapPoint(const cairo_matrix_t& m, double* x, double* y) {
    cairo_matrix_transform_point(&m, x, y);
}

// Cairo keeps the first error of a context for good, and a matrix that can't be inverted is one: every
// drawing transform is checked first and a degenerate piece is skipped for the frame. Bounds keep Cairo's
// fixed-point arithmetic in range: nothing sensible is drawn beyond them anyway.
inline bool usable(const cairo_matrix_t& m) {
    constexpr double kMaxScale = 1e4, kMaxOffset = 1e6, kMinDeterminant = 1e-10;
    for (double v : {m.xx, m.yx, m.xy, m.yy})
        if (!(std::fabs(v) <= kMaxScale)) return false;
    if (!(std::fabs(m.x0) <= kMaxOffset && std::fabs(m.y0) <= kMaxOffset)) return false;
    return std::fabs(m.xx * m.yy - m.xy * m.yx) >= kMinDeterminant;
}

// An ellipse as a closed sub-path of the current path.
inline void ellipsePath(cairo_t* cr, double cx, double cy, double rx, double ry) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_close_path(cr);
    cairo_restore(cr);
}

}  // namespace qm
