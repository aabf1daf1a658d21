#include "render/person_layer.h"

#include <algorithm>
#include <cmath>

#include "base/row_helper.h"
#include "render/graphics.h"

namespace qm {

namespace {

// Sample position of source pixel i's centre in a mask of `maskSize` pixels: integer part and weight.
void samplePosition(int i, int size, int maskSize, int* index0, int* index1, uint16_t* weight) {
    const double u = std::clamp((i + 0.5) * maskSize / size - 0.5, 0.0, maskSize - 1.0);
    const int i0 = static_cast<int>(u);
    *index0 = i0;
    *index1 = std::min(i0 + 1, maskSize - 1);
    *weight = static_cast<uint16_t>(std::lround((u - i0) * 256));
}

}  // namespace

cairo_pattern_t* buildPersonLayer(cairo_surface_t* source, const uint8_t* mask, PersonLayer& layer,
                                  const PixelBox* box) {
    const int width = cairo_image_surface_get_width(source), height = cairo_image_surface_get_height(source);
    if (!layer.surface || cairo_image_surface_get_width(layer.surface.get()) != width ||
        cairo_image_surface_get_height(layer.surface.get()) != height) {
        layer.brush.reset();
        layer.surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
        if (checkSurface(layer.surface.get()) != kOk) {
            layer.surface.reset();
            return nullptr;
        }
        layer.brush.reset(cairo_pattern_create_for_surface(layer.surface.get()));
        cairo_pattern_set_filter(layer.brush.get(), CAIRO_FILTER_BILINEAR);
        cairo_pattern_set_extend(layer.brush.get(), CAIRO_EXTEND_PAD);
        layer.column0.resize(width);
        layer.column1.resize(width);
        layer.columnWeight.resize(width);
        for (int x = 0; x < width; ++x)
            samplePosition(x, width, kMaskWidth, &layer.column0[x], &layer.column1[x],
                           &layer.columnWeight[x]);
        layer.maskRow.resize(2 * kMaskWidth);  // one row of scratch for each part of a shared loop
        layer.rowMask.resize(2 * static_cast<size_t>(width));
    }
    cairo_surface_flush(source);
    cairo_surface_flush(layer.surface.get());
    const uint8_t* in = cairo_image_surface_get_data(source);
    const int inStride = cairo_image_surface_get_stride(source);
    uint8_t* out = cairo_image_surface_get_data(layer.surface.get());
    const int outStride = cairo_image_surface_get_stride(layer.surface.get());
    const int x0 = box ? std::clamp(box->x0, 0, width) : 0, x1 = box ? std::clamp(box->x1, x0, width) : width;
    const int y0 = box ? std::clamp(box->y0, 0, height) : 0,
              y1 = box ? std::clamp(box->y1, y0, height) : height;
    forRows(y0, y1, x1 - x0, [&](int firstRow, int endRow, int part) {
        uint16_t* maskRow = layer.maskRow.data() + part * kMaskWidth;
        uint8_t* rowMask = layer.rowMask.data() + static_cast<size_t>(part) * width;
        for (int y = firstRow; y < endRow; ++y) {
            int row0 = 0, row1 = 0;
            uint16_t rowWeight = 0;
            samplePosition(y, height, kMaskHeight, &row0, &row1, &rowWeight);
            const uint8_t* m0 = mask + static_cast<size_t>(row0) * kMaskWidth * 4 + 3;
            const uint8_t* m1 = mask + static_cast<size_t>(row1) * kMaskWidth * 4 + 3;
            for (int x = 0; x < kMaskWidth; ++x)  // 8.8 fixed point
                maskRow[x] = static_cast<uint16_t>(m0[x * 4] * (256 - rowWeight) + m1[x * 4] * rowWeight);
            for (int x = x0; x < x1; ++x) {
                const uint32_t w1 = layer.columnWeight[x];
                rowMask[x] = static_cast<uint8_t>(
                    (maskRow[layer.column0[x]] * (256 - w1) + maskRow[layer.column1[x]] * w1 + 32768) >> 16);
            }
            // Most of a mask is fully person or fully room: those pixels are a copy or nothing.
            const uint32_t* s = reinterpret_cast<const uint32_t*>(in + static_cast<size_t>(y) * inStride);
            uint32_t* d = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * outStride);
            for (int x = x0; x < x1; ++x) {
                const uint32_t m = rowMask[x];
                if (m == 0) {
                    d[x] = 0;
                } else if (m == 255) {
                    d[x] = s[x] | 0xFF000000u;
                } else {
                    const uint32_t p = s[x];
                    const uint32_t b = ((p & 0xFF) * m * 257 + 32896) >> 16;
                    const uint32_t g = (((p >> 8) & 0xFF) * m * 257 + 32896) >> 16;
                    const uint32_t r = (((p >> 16) & 0xFF) * m * 257 + 32896) >> 16;
                    d[x] = b | (g << 8) | (r << 16) | (m << 24);
                }
            }
        }
    });
    cairo_surface_mark_dirty(layer.surface.get());
    return layer.brush.get();
}

}  // namespace qm
