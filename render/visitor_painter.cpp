#include "render/visitor_painter.h"

namespace qm {

// No visitor files exist yet: every choice leaves the room empty.
bool VisitorPainter::choose(const std::string& name) {
    name_ = name;
    return name.empty();
}

void VisitorPainter::draw(Graphics&, const FrameFilters&, double) {}

}  // namespace qm
