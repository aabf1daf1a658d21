#include "engine/render_drawing.h"

#include <cstdio>
#include <cstring>

#include "engine/frame_section.h"
#include "render/pictures.h"
#include "render/wear_catalogue.h"

namespace qm {

std::string processorModelName() {
    FILE* info = std::fopen("/proc/cpuinfo", "r");
    if (!info) return {};
    char line[512];
    std::string name;
    while (std::fgets(line, sizeof line, info)) {
        if (std::strncmp(line, "model name", 10) != 0) continue;
        const char* colon = std::strchr(line, ':');
        if (!colon) break;
        name = colon + 1;
        size_t first = name.find_first_not_of(" \t");
        size_t last = name.find_last_not_of(" \t\r\n");
        name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        break;
    }
    std::fclose(info);
    return name;
}

std::unique_ptr<RenderDrawing> RenderDrawing::create(const LaunchOptions& options, SharedState& shared) {
    std::unique_ptr<RenderDrawing> drawing(new RenderDrawing(shared));
    GraphicsOptions setup;
    setup.software = options.software;
    setup.processorName = processorModelName();
    if (failed(initialiseGraphics(drawing->graphics_, setup))) return nullptr;
    return drawing;
}

HResult RenderDrawing::frameSizeChanged(uint32_t width, uint32_t height) {
    return createSourceBitmap(graphics_, static_cast<int>(width), static_cast<int>(height));
}

int RenderDrawing::findWear(int slot, const std::string& name) {
    for (int i = 0; i < kWearCatalogueSize; ++i)
        if (kWearCatalogue[i].kind == slot && name == kWearCatalogue[i].id) return i;
    return -1;
}

bool RenderDrawing::loadBackground(const std::string& path) {
    background_ = Picture{};
    hasBackground_ = false;
    if (path.empty()) return true;
    hasBackground_ = !failed(loadPicture(path, false, &background_));
    return hasBackground_;
}

bool RenderDrawing::compose(const SourceFrame& frame, const DrawRequest& request) {
    ComposeInput input;
    input.sourcePixels = frame.pixels;
    input.sourceStride = static_cast<int>(frame.width * 4);
    input.face = request.face;
    input.landmarks = request.landmarks;
    input.personMask = request.personMask;
    input.timeMs = request.timeMs;
    input.frameIndex = request.filters ? request.filters->frameIndex : 0;
    input.room = {&shared_.captureRoomRequest, &shared_.forgetRoomRequest, &shared_.roomCaptured};
    ComposeFilters filters;
    filters.faceKind = request.effectiveFace;
    if (request.filters) {
        filters.faceFit = request.filters->faceFit;
        filters.blur = request.filters->blur;
    }
    filters.removeBody = request.removeBody;
    filters.replaceBackground = request.replaceBackground;
    filters.backgroundPicture = hasBackground_ ? &background_ : nullptr;
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
