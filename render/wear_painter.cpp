#include "render/wear_painter.h"

#include "base/log.h"
#include "base/wear_catalogue.h"

namespace qm {

int WearPainter::load(const std::string& folder, bool highQuality) {
    highQuality_ = highQuality;
    int loaded = 0;
    for (const WearEntry& entry : kWearCatalogue) {
        const std::string file = wearPictureFile(entry);
        if (file.empty()) continue;
        WearPicture wear;
        // Hair and beards keep their pixels for measuring and the jaw warp.
        const bool keepPixels = entry.kind == kWearKindHair || entry.kind == kWearKindBeard;
        if (loadPicture(folder + file, keepPixels, &wear.picture) != kOk) {
            logLine("missing picture %s", file.c_str());
            continue;
        }
        wear.width = cairo_image_surface_get_width(wear.picture.bitmap.get());
        wear.height = cairo_image_surface_get_height(wear.picture.bitmap.get());
        pictures_[file] = std::move(wear);
        ++loaded;
    }
    logLine("worn items: %d pictures", loaded);
    edgeVignette72_ = makeRadialBrush({whiteStop(0, 0), whiteStop(0.72, 0), whiteStop(1, 1)});
    edgeVignette50_ = makeRadialBrush({whiteStop(0, 0), whiteStop(0.5, 0), whiteStop(1, 1)});
    whiteGlow_ = makeRadialBrush({whiteStop(0, 0.12), whiteStop(1, 0)});
    verticalFadeIn_ = makeLinearBrush(0, 0, 0, 1, {whiteStop(0, 0), whiteStop(1, 1)});
    return loaded;
}

bool WearPainter::active(const FrameFilters& filters) const {
    return filters.filtering && wearChosen(filters);
}

// The items themselves are drawn once their pictures exist.
void WearPainter::drawOnPicture(Graphics&, const FrameFilters&, const DrawnFacePicture&,
                                const cairo_matrix_t&) {}
void WearPainter::drawOnRealFace(Graphics&, const FrameFilters&, const FaceGeometry&, const LandmarkSet&, int,
                                 double, const cairo_matrix_t&) {}

}  // namespace qm
