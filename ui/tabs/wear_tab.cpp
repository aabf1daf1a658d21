#include "ui/tabs/wear_tab.h"

#include <string>

namespace qm {
namespace {

constexpr const char* kSlotLabels[kWearSlots] = {"Hair", "Hat", "Glasses", "Beard"};

}  // namespace

float drawWearTabHeader(DrawContext& dc, float bottom) {
    if (dc.panel.state.face == kFaceKitten) return bottom;
    for (int j = 0; j < kWearSlots; ++j) {
        std::string label = kSlotLabels[j];
        if (!dc.panel.state.wear[j].empty()) label += " \u2022";
        drawChip(dc, dc.contentLeft + j * 73.5f, bottom, 28, 0, label, kHitWearSlotChip, j, 67.5f);
    }
    return bottom + 38;
}

void drawWearTab(DrawContext& dc, float& y) {
    drawTabTitle(dc, y, "Wear");
}

TabClick wearTabClick(Panel& panel, const HitRegion& region) {
    switch (region.kind) {
        case kHitWearSlotChip:
        case kHitWearTile:
            return TabClick::Changed;
        case kHitFitSlot:
            panel.ui.fitSlot = region.index;
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
