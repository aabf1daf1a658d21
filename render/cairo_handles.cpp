#include "render/cairo_handles.h"

#include <cstdlib>
#include <mutex>

namespace qm {

namespace {

constexpr HResult kCairoFacility = 0x8CA10000u;

bool translateCairoStatus(HResult hr, std::string* message) {
    if ((hr & 0xFFFF0000u) != kCairoFacility) return false;
    *message = cairo_status_to_string(static_cast<cairo_status_t>(hr & 0xFFFFu));
    return true;
}

cairo_user_data_key_t kPixelsKey;

}  // namespace

SurfacePtr makePaddedSurface(int width, int height) {
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
        return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, -1, -1));  // an error surface
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width) + 64;
    void* pixels = std::calloc(static_cast<size_t>(stride) * height, 1);
    if (!pixels) return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, -1, -1));
    SurfacePtr surface(cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels),
                                                           CAIRO_FORMAT_ARGB32, width, height, stride));
    if (cairo_surface_set_user_data(surface.get(), &kPixelsKey, pixels, std::free) != CAIRO_STATUS_SUCCESS)
        std::free(pixels);
    return surface;
}

HResult hresultFromCairo(cairo_status_t status) {
    if (status == CAIRO_STATUS_SUCCESS) return kOk;
    static std::once_flag registered;
    std::call_once(registered, [] { addStatusTranslator(translateCairoStatus); });
    return kCairoFacility | static_cast<HResult>(status);
}

}  // namespace qm
