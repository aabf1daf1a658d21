#include "engine/stand_ins.h"

#include <algorithm>
#include <cstring>

#include "engine/frame_section.h"

namespace qm {

HResult CoverCopyDrawing::frameSizeChanged(uint32_t width, uint32_t height) {
    if (canvas_.empty()) canvas_.assign(kFrameBytes, 0);
    width_ = width;
    height_ = height;
    columnOf_.assign(kFrameWidth, 0);
    rowOf_.assign(kFrameHeight, 0);
    if (width == 0 || height == 0) return kOk;
    // Cover: scale so the frame fills the canvas, centred, the overflow cut off.
    double scale = std::max(double(kFrameWidth) / width, double(kFrameHeight) / height);
    double offsetX = (width * scale - kFrameWidth) / 2, offsetY = (height * scale - kFrameHeight) / 2;
    for (uint32_t x = 0; x < kFrameWidth; ++x)
        columnOf_[x] = std::min<uint32_t>(width - 1, static_cast<uint32_t>((x + 0.5 + offsetX) / scale));
    for (uint32_t y = 0; y < kFrameHeight; ++y)
        rowOf_[y] = std::min<uint32_t>(height - 1, static_cast<uint32_t>((y + 0.5 + offsetY) / scale));
    return kOk;
}

bool CoverCopyDrawing::compose(const SourceFrame& frame, const DrawRequest&) {
    if (frame.width != width_ || frame.height != height_) frameSizeChanged(frame.width, frame.height);
    if (!frame.pixels || width_ == 0) return true;
    const uint32_t* source = reinterpret_cast<const uint32_t*>(frame.pixels);
    uint32_t* canvas = reinterpret_cast<uint32_t*>(canvas_.data());
    bool same = width_ == kFrameWidth && height_ == kFrameHeight;
    for (uint32_t y = 0; y < kFrameHeight; ++y) {
        const uint32_t* row = source + static_cast<size_t>(rowOf_[y]) * width_;
        uint32_t* out = canvas + static_cast<size_t>(y) * kFrameWidth;
        if (same) {
            std::memcpy(out, row, kFrameRowBytes);
            continue;
        }
        for (uint32_t x = 0; x < kFrameWidth; ++x)
            out[x] = row[columnOf_[x]];
    }
    return true;
}

HResult CoverCopyDrawing::readback(CanvasView* view) {
    if (canvas_.empty()) canvas_.assign(kFrameBytes, 0);
    view->pixels = canvas_.data();
    view->pitch = static_cast<long>(kFrameRowBytes);
    return kOk;
}

}  // namespace qm
