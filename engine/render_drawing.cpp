#include "engine/render_drawing.h"

#include "platform/frame_section.h"
#include "platform/processor_name.h"

namespace qm {

std::unique_ptr<RenderDrawing> RenderDrawing::create(const LaunchOptions& options) {
    std::unique_ptr<RenderDrawing> drawing(new RenderDrawing());
    GraphicsOptions setup;
    setup.software = options.software;
    setup.processorName = processorModelName();
    if (failed(initialiseGraphics(drawing->graphics_, setup))) return nullptr;
    if (failed(drawing->composer_.load())) return nullptr;
    return drawing;
}

HResult RenderDrawing::frameSizeChanged(uint32_t width, uint32_t height) {
    return createSourceBitmap(graphics_, static_cast<int>(width), static_cast<int>(height));
}

FramePlan RenderDrawing::prepare(const FrameFilters& filters, bool maskModelLoaded) {
    composer_.prepare(filters);
    return composer_.plan(filters, maskModelLoaded);
}

bool RenderDrawing::compose(const FrameInput& input, const FrameFilters& filters) {
    return !failed(composer_.composeFrame(input, filters));
}

HResult RenderDrawing::readback(CanvasView* view) {
    // The canvas is a memory surface: once drawing is flushed its rows are read where they are, and the
    // one read serves the section, the dump and the preview.
    cairo_surface_t* canvas = graphics_.canvas.get();
    cairo_surface_flush(canvas);
    const uint8_t* data = cairo_image_surface_get_data(canvas);
    int stride = cairo_image_surface_get_stride(canvas);
    if (!data || cairo_image_surface_get_width(canvas) != static_cast<int>(kFrameWidth) ||
        cairo_image_surface_get_height(canvas) != static_cast<int>(kFrameHeight) ||
        stride < static_cast<int>(kFrameRowBytes))
        return kFail;
    view->pixels = data;
    view->pitch = stride;
    return kOk;
}

}  // namespace qm
