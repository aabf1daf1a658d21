// Owning handles for Cairo objects, so drawing resources are released by replacement or with their owner.
#pragma once

#include <cairo.h>

#include <memory>

#include "base/status.h"

namespace qm {

struct CairoSurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoPatternRelease {
    void operator()(cairo_pattern_t* pattern) const { cairo_pattern_destroy(pattern); }
};
struct CairoContextRelease {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceRelease>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, CairoPatternRelease>;
using ContextPtr = std::unique_ptr<cairo_t, CairoContextRelease>;

// Cairo's status codes as our 32-bit status (facility 0x8CA1); statusMessage() names them.
HResult hresultFromCairo(cairo_status_t status);

// An ARGB32 surface whose rows are a little longer than its width, so that rows never lie a multiple of
// 4 KiB apart (pictures 1024 pixels wide would: neighbouring rows then fight over the same cache sets when
// a rotated picture is sampled). Its pixels start clear.
SurfacePtr makePaddedSurface(int width, int height);

// Status of a surface or pattern just made (creation never returns null in Cairo: errors live in the object).
inline HResult checkSurface(cairo_surface_t* surface) {
    return hresultFromCairo(cairo_surface_status(surface));
}
inline HResult checkPattern(cairo_pattern_t* pattern) {
    return hresultFromCairo(cairo_pattern_status(pattern));
}

}  // namespace qm
