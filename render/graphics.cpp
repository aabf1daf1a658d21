#include "render/graphics.h"

#include "render/pictures.h"

#include <algorithm>
#include <cstring>

#include "base/failure.h"
#include "base/log.h"
#include "base/row_helper.h"

namespace qm {

namespace {

#define QM_CHECK(expr)                                                                       \
    do {                                                                                     \
        if (HResult hr_ = (expr); hr_ != kOk) return reportFailure("Engine", __LINE__, hr_); \
    } while (0)

void addStops(cairo_pattern_t* pattern, std::initializer_list<GradientStop> stops) {
    for (const GradientStop& s : stops)
        cairo_pattern_add_color_stop_rgba(pattern, s.position, s.r, s.g, s.b, s.a);
    // Beyond the last stop the colour holds, unless it is clear anyway: then leaving it out keeps the
    // brush's extent bounded, which lets Cairo draw only inside it.
    const bool clearOutside = (stops.end() - 1)->a == 0;
    cairo_pattern_set_extend(pattern, clearOutside ? CAIRO_EXTEND_NONE : CAIRO_EXTEND_PAD);
}

}  // namespace

PatternPtr makeRadialBrush(std::initializer_list<GradientStop> stops, double originX, double originY) {
    PatternPtr pattern(cairo_pattern_create_radial(originX, originY, 0, 0, 0, 1));
    addStops(pattern.get(), stops);
    return pattern;
}

PatternPtr makeLinearBrush(double x0, double y0, double x1, double y1,
                           std::initializer_list<GradientStop> stops) {
    PatternPtr pattern(cairo_pattern_create_linear(x0, y0, x1, y1));
    addStops(pattern.get(), stops);
    return pattern;
}

PatternPtr makeSoftEllipse(double core) {
    return makeRadialBrush({whiteStop(0, 1), whiteStop(core, 1), whiteStop(1, 0)});
}

PatternPtr makeBitmapBrush(cairo_surface_t* surface) {
    PatternPtr brush(cairo_pattern_create_for_surface(surface));
    cairo_pattern_set_extend(brush.get(), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(brush.get(), CAIRO_FILTER_BILINEAR);
    return brush;
}

void setBrushTransform(cairo_pattern_t* pattern, const cairo_matrix_t& brushToUser) {
    cairo_matrix_t userToBrush = brushToUser;
    if (cairo_matrix_invert(&userToBrush) != CAIRO_STATUS_SUCCESS)
        cairo_matrix_init_scale(&userToBrush, 1e6, 1e6);
    cairo_pattern_set_matrix(pattern, &userToBrush);
}

cairo_surface_t* blurBitmap(cairo_surface_t* bitmap, float sigma, BlurredLayer& layer) {
    cairo_surface_flush(bitmap);
    const int width = cairo_image_surface_get_width(bitmap), height = cairo_image_surface_get_height(bitmap);
    // Blur at a reduced size while the reduced deviation stays at 3 pixels or more: the result is smooth
    // enough that the bilinear enlargement while drawing adds no visible error.
    int factor = 1;
    while (factor < 4 && sigma / (2 * factor) >= 3 && width >= 8 * factor && height >= 8 * factor)
        factor *= 2;
    const int outWidth = width / factor, outHeight = height / factor;
    if (outWidth <= 0 || outHeight <= 0) return nullptr;
    if (!layer.output || cairo_image_surface_get_width(layer.output.get()) != outWidth ||
        cairo_image_surface_get_height(layer.output.get()) != outHeight) {
        layer.output.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, outWidth, outHeight));
        if (checkSurface(layer.output.get()) != kOk) {
            layer.output.reset();
            return nullptr;
        }
    }
    layer.factor = factor;
    const uint8_t* in = cairo_image_surface_get_data(bitmap);
    const int inStride = cairo_image_surface_get_stride(bitmap);
    const size_t reducedBytes = static_cast<size_t>(outWidth) * outHeight * 4;
    if (layer.reduced.size() < reducedBytes) layer.reduced.resize(reducedBytes);
    uint8_t* reduced = layer.reduced.data();
    // Reduce (means of factor × factor blocks), making every pixel opaque: the bitmap's alpha byte means
    // nothing.
    const int shift = factor == 4 ? 4 : factor == 2 ? 2 : 0;
    for (int y = 0; y < outHeight; ++y) {
        uint8_t* out = reduced + static_cast<size_t>(y) * outWidth * 4;
        for (int x = 0; x < outWidth; ++x, out += 4) {
            unsigned sum[3] = {0, 0, 0};
            for (int j = 0; j < factor; ++j) {
                const uint8_t* p =
                    in + static_cast<size_t>(y * factor + j) * inStride + static_cast<size_t>(x) * factor * 4;
                for (int i = 0; i < factor; ++i, p += 4) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const unsigned half = (1u << shift) >> 1;
            out[0] = static_cast<uint8_t>((sum[0] + half) >> shift);
            out[1] = static_cast<uint8_t>((sum[1] + half) >> shift);
            out[2] = static_cast<uint8_t>((sum[2] + half) >> shift);
            out[3] = 255;
        }
    }
    cairo_surface_flush(layer.output.get());
    PixelView src{reduced, outWidth, outHeight, outWidth * 4};
    PixelView dst{cairo_image_surface_get_data(layer.output.get()), outWidth, outHeight,
                  cairo_image_surface_get_stride(layer.output.get())};
    layer.blur.apply(src, dst, sigma / factor);
    cairo_surface_mark_dirty(layer.output.get());
    return layer.output.get();
}

HResult initialiseGraphics(Graphics& g, const GraphicsOptions& options) {
    // 1–2. There is one drawing path, Cairo on the processor; --software only lowers picture quality.
    g.onHardware = !options.software;
    g.assetFolder = options.assetFolder.empty() ? assetPath("") : options.assetFolder;
    const std::string name =
        options.processorName.empty() ? std::string("Cairo image surfaces") : options.processorName;
    logLine("drawing on: %s%s", name.c_str(), g.onHardware ? "" : " (software, no GPU device)");

    // 3–5. The canvas and its drawing context.
    g.canvas.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kCanvasWidth, kCanvasHeight));
    QM_CHECK(checkSurface(g.canvas.get()));
    g.cr.reset(cairo_create(g.canvas.get()));
    QM_CHECK(hresultFromCairo(cairo_status(g.cr.get())));

    // 6. First soft ellipses, mask bitmap over its own buffer, black brush. (The background blur is a
    // BlurredLayer member: it owns no pixels until its first use.)
    g.softEllipse55 = makeSoftEllipse(0.55);
    g.softEllipse72 = makeSoftEllipse(0.72);
    g.softEllipse80 = makeSoftEllipse(0.8);
    for (auto* p : {&g.softEllipse55, &g.softEllipse72, &g.softEllipse80})
        QM_CHECK(checkPattern(p->get()));
    g.maskBuffer.assign(kMaskBytes, 0);
    g.mask.reset(cairo_image_surface_create_for_data(g.maskBuffer.data(), CAIRO_FORMAT_ARGB32, kMaskWidth,
                                                     kMaskHeight, kMaskWidth * 4));
    QM_CHECK(checkSurface(g.mask.get()));
    g.maskBrush = makeBitmapBrush(g.mask.get());
    QM_CHECK(checkPattern(g.maskBrush.get()));
    g.blackBrush.reset(cairo_pattern_create_rgba(0, 0, 0, 1));
    QM_CHECK(checkPattern(g.blackBrush.get()));

    return kOk;
}

HResult createSourceBitmap(Graphics& g, int width, int height) {
    g.sourceBrush.reset();
    g.source.reset();
    g.sourceWidth = g.sourceHeight = 0;
    if (width <= 0 || height <= 0) return reportFailure("Engine", __LINE__, kInvalidData, "source size");
    SurfacePtr source(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    QM_CHECK(checkSurface(source.get()));
    g.source = std::move(source);
    g.sourceBrush = makeBitmapBrush(g.source.get());
    QM_CHECK(checkPattern(g.sourceBrush.get()));
    g.sourceWidth = width;
    g.sourceHeight = height;
    return kOk;
}

HResult uploadSourceFrame(Graphics& g, const uint8_t* pixels, int stride) {
    if (!g.source || !pixels) return reportFailure("Engine", __LINE__, kInvalidData, "no source frame");
    cairo_surface_flush(g.source.get());
    uint8_t* data = cairo_image_surface_get_data(g.source.get());
    const int dstStride = cairo_image_surface_get_stride(g.source.get());
    const size_t rowBytes = static_cast<size_t>(g.sourceWidth) * 4;
    forRows(0, g.sourceHeight, g.sourceWidth, [&](int from, int to, int) {
        for (int y = from; y < to; ++y)
            std::memcpy(data + static_cast<size_t>(y) * dstStride, pixels + static_cast<size_t>(y) * stride,
                        rowBytes);
    });
    cairo_surface_mark_dirty(g.source.get());
    return kOk;
}

void uploadPersonMask(Graphics& g, const uint8_t* pixels) {
    cairo_surface_flush(g.mask.get());
    std::memcpy(g.maskBuffer.data(), pixels, kMaskBytes);
    cairo_surface_mark_dirty(g.mask.get());
}

void readCanvas(Graphics& g, uint8_t* out) {
    cairo_surface_flush(g.canvas.get());
    const uint8_t* data = cairo_image_surface_get_data(g.canvas.get());
    const int stride = cairo_image_surface_get_stride(g.canvas.get());
    for (int y = 0; y < kCanvasHeight; ++y)
        std::memcpy(out + static_cast<size_t>(y) * kCanvasWidth * 4, data + static_cast<size_t>(y) * stride,
                    kCanvasWidth * 4);
}

}  // namespace qm
