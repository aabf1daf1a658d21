#include "render/cairo_handles.h"

#include <mutex>

namespace qm {

namespace {

constexpr HResult kCairoFacility = 0x8CA10000u;

bool translateCairoStatus(HResult hr, std::string* message) {
    if ((hr & 0xFFFF0000u) != kCairoFacility) return false;
    *message = cairo_status_to_string(static_cast<cairo_status_t>(hr & 0xFFFFu));
    return true;
}

}  // namespace

HResult hresultFromCairo(cairo_status_t status) {
    if (status == CAIRO_STATUS_SUCCESS) return kOk;
    static std::once_flag registered;
    std::call_once(registered, [] { addStatusTranslator(translateCairoStatus); });
    return kCairoFacility | static_cast<HResult>(status);
}

}  // namespace qm
