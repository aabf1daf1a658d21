#include "render/cover.h"

#include <algorithm>

#include "render/graphics.h"

namespace qm {

CoverTransform coverTransform(int sourceWidth, int sourceHeight) {
    CoverTransform t;
    if (sourceWidth <= 0 || sourceHeight <= 0) return t;
    t.scale = std::max(static_cast<double>(kCanvasWidth) / sourceWidth,
                       static_cast<double>(kCanvasHeight) / sourceHeight);
    t.offsetX = (kCanvasWidth - sourceWidth * t.scale) / 2;
    t.offsetY = (kCanvasHeight - sourceHeight * t.scale) / 2;
    return t;
}

CropRect backgroundCrop(double pw, double ph, double w, double h) {
    const double g = std::max(w / pw, h / ph);
    return {(pw - w / g) / 2, (ph - h / g) / 2, (pw + w / g) / 2, (ph + h / g) / 2};
}

}  // namespace qm
