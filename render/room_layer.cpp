#include "render/room_layer.h"

namespace qm {

void RoomLayer::applyRequests(const Graphics& g, const RoomRequests& requests) {
    if (requests.forget) captured_.reset();
    if (requests.capture) {
        captured_.reset();
        SurfacePtr copy(cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.sourceWidth, g.sourceHeight));
        bool ok = checkSurface(copy.get()) == kOk;
        if (ok) {
            ContextPtr c(cairo_create(copy.get()));
            cairo_set_operator(c.get(), CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(c.get(), g.source.get(), 0, 0);
            cairo_paint(c.get());
            ok = cairo_status(c.get()) == CAIRO_STATUS_SUCCESS;
        }
        if (ok) captured_ = std::move(copy);
    }
    if (captured_ && (cairo_image_surface_get_width(captured_.get()) != g.sourceWidth ||
                      cairo_image_surface_get_height(captured_.get()) != g.sourceHeight))
        captured_.reset();
}

}  // namespace qm
