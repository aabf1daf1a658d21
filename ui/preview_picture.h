// PreviewPicture: the window's copy of the last engine frame as a Cairo surface, plus a pixel-doubled
// copy made on demand for displays that enlarge the preview (pixman's bilinear enlargement is several
// times slower than its reduction, so an enlarged preview is drawn by reducing the doubled copy).
// Window thread only; owns both surfaces.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace qm {

class PreviewPicture {
public:
    PreviewPicture(int width, int height);
    ~PreviewPicture();
    PreviewPicture(const PreviewPicture&) = delete;
    PreviewPicture& operator=(const PreviewPicture&) = delete;

    bool valid() const { return frame_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Copies a packed B8G8R8A8 frame of this picture's size (alpha ignored).
    void setFrame(const uint8_t* pixels);

    // The surface to sample for a target `deviceWidth` pixels wide: the frame itself when reducing,
    // the doubled copy (twice the size) when enlarging.
    cairo_surface_t* sourceFor(double deviceWidth);

private:
    int width_, height_;
    cairo_surface_t* frame_ = nullptr;
    cairo_surface_t* doubled_ = nullptr;
    bool doubledStale_ = true;
};

}  // namespace qm
