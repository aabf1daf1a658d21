#include "ui/tabs/body_tab.h"

#include "ui/tabs/list_choice.h"

namespace qm {

void drawBodyTab(DrawContext& dc, float& y) {
    drawTabTitle(dc, y, "Body");
}

TabClick bodyTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitTorsoTile:
            if (region.index == 0)
                s.torso.clear();
            else if (const std::string* name = listEntry(panel.lists.torsos, region.index, 1))
                s.torso = *name;
            return TabClick::Changed;
        case kHitBodylessSwitch:
            s.bodyless = !s.bodyless;
            return TabClick::Changed;
        case kHitCaptureRoom:
            panel.ui.roomCountdown = 3;
            return TabClick::Changed;
        case kHitClearRoom:
            panel.shared.forgetRoomRequest.exchange(true);
            return TabClick::Changed;
        case kHitForgetRoom:
            panel.shared.forgetRoom.exchange(true);
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
