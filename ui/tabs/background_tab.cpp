#include "ui/tabs/background_tab.h"

#include "ui/tabs/list_choice.h"

namespace qm {

void drawBackgroundTab(DrawContext& dc, float& y) {
    drawTabTitle(dc, y, "Background");
}

TabClick backgroundTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitBackgroundTile:
            if (region.index == 0)
                s.background = "none";
            else if (region.index == 1)
                s.background = "blur";
            else if (const std::string* file = listEntry(panel.lists.backgrounds, region.index, 2))
                s.background = *file;
            return TabClick::Changed;
        case kHitAddBackground:
            return TabClick::Changed;
        case kHitVisitorSegment:
            if (region.index == 0)
                s.visitor.clear();
            else if (const std::string* name = listEntry(panel.lists.visitors, region.index, 1))
                s.visitor = *name;
            return TabClick::Changed;
        case kHitSendVisitor:
            panel.shared.visitorRestart.exchange(true);
            return TabClick::Changed;
        case kHitGhostSwitch:
            s.ghost = !s.ghost;
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
