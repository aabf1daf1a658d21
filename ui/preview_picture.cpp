#include "ui/preview_picture.h"

#include <cstring>

namespace qm {

PreviewPicture::PreviewPicture(int width, int height) : width_(width), height_(height) {
    frame_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(frame_) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(frame_);
        frame_ = nullptr;
    }
}

PreviewPicture::~PreviewPicture() {
    if (frame_) cairo_surface_destroy(frame_);
    if (doubled_) cairo_surface_destroy(doubled_);
}

void PreviewPicture::setFrame(const uint8_t* pixels) {
    if (!frame_) return;
    cairo_surface_flush(frame_);
    unsigned char* rows = cairo_image_surface_get_data(frame_);
    const int stride = cairo_image_surface_get_stride(frame_);
    const size_t rowBytes = static_cast<size_t>(width_) * 4;
    for (int y = 0; y < height_; ++y)
        std::memcpy(rows + static_cast<size_t>(y) * stride, pixels + y * rowBytes, rowBytes);
    cairo_surface_mark_dirty(frame_);
    doubledStale_ = true;
}

cairo_surface_t* PreviewPicture::sourceFor(double deviceWidth) {
    if (!frame_ || deviceWidth <= width_) return frame_;
    if (!doubled_) {
        doubled_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_ * 2, height_ * 2);
        if (cairo_surface_status(doubled_) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(doubled_);
            doubled_ = nullptr;
            return frame_;
        }
        doubledStale_ = true;
    }
    if (doubledStale_) {
        // Exact pixel doubling: nearest sampling at scale 2 copies each pixel into a 2 × 2 block.
        cairo_t* cr = cairo_create(doubled_);
        cairo_scale(cr, 2, 2);
        cairo_set_source_surface(cr, frame_, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        doubledStale_ = false;
    }
    return doubled_;
}

}  // namespace qm
