#include "ui/tabs/scenes_tab.h"

#include "ui/tabs/list_choice.h"

namespace qm {
namespace {

// The quick background switch: off to "none", and back to the last choice while it still exists.
void toggleBackground(Panel& panel) {
    FilterState& s = panel.state;
    if (s.background != "none") {
        s.background = "none";
        return;
    }
    const std::string& last = panel.ui.lastBackground;
    s.background = (last == "blur" || inList(panel.lists.backgrounds, last)) ? last : "blur";
}

}  // namespace

void drawScenesTab(DrawContext& dc, float& y) {
    drawTabTitle(dc, y, "Scenes");
}

TabClick scenesTabClick(Panel& panel, const HitRegion& region) {
    switch (region.kind) {
        case kHitSceneTile:
        case kHitSaveScene:
            return TabClick::Done;
        case kHitBackgroundSwitch:
            toggleBackground(panel);
            return TabClick::Changed;
        case kHitRemoveAllFilters:
            removeAllFilters(panel);
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
