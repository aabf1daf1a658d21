#include "render/sprite_cells.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qm {

std::vector<SpriteCell> cutSpriteCells(cairo_surface_t* sheet, float cellW, float cellH, int cols,
                                       int count) {
    std::vector<SpriteCell> cells;
    const int w = static_cast<int>(std::ceil(cellW)), h = static_cast<int>(std::ceil(cellH));
    SurfacePtr whole(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    if (checkSurface(whole.get()) != kOk) return {};
    for (int k = 0; k < count; ++k) {
        {
            ContextPtr c(cairo_create(whole.get()));
            cairo_set_operator(c.get(), CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(c.get(), sheet, -(k % cols) * static_cast<double>(cellW),
                                     -(k / cols) * static_cast<double>(cellH));
            cairo_paint(c.get());
            if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) return {};
        }
        cairo_surface_flush(whole.get());
        const uint8_t* data = cairo_image_surface_get_data(whole.get());
        const int stride = cairo_image_surface_get_stride(whole.get());
        int x0 = w, y0 = h, x1 = -1, y1 = -1;
        for (int y = 0; y < h; ++y) {
            const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
            for (int x = 0; x < w; ++x)
                if (row[x] >> 24) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
        }
        SpriteCell cell;
        if (x1 >= 0) {
            // One clear pixel of margin keeps the blitter's soft edge.
            x0 = std::max(0, x0 - 1), y0 = std::max(0, y0 - 1);
            x1 = std::min(w - 1, x1 + 1), y1 = std::min(h - 1, y1 + 1);
            cell.picture.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0 + 1, y1 - y0 + 1));
            if (checkSurface(cell.picture.get()) != kOk) return {};
            ContextPtr c(cairo_create(cell.picture.get()));
            cairo_set_operator(c.get(), CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(c.get(), whole.get(), -x0, -y0);
            cairo_paint(c.get());
            cell.x = x0, cell.y = y0;
            cell.spans.resize(static_cast<size_t>(y1 - y0 + 1));
            measureRowSpans(cell.picture.get(), 0, y1 - y0 + 1, cell.spans.data());
        }
        cells.push_back(std::move(cell));
    }
    return cells;
}

}  // namespace qm
