#include "render/torso_painter.h"

namespace qm {

// No torso files exist yet: every choice leaves the torso off.
bool TorsoPainter::choose(const std::string& name) {
    name_ = name;
    return name.empty();
}

void TorsoPainter::draw(Graphics&, const FrameFilters&, const FaceGeometry&, const SmoothedAnchors&, double,
                        cairo_matrix_t*) {}

}  // namespace qm
