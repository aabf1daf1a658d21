// Small builders for Cairo matrices, read in the order the transforms apply.
#pragma once

#include <cairo.h>

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

}  // namespace qm
