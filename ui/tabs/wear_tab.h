// The Wear tab: the slot chips under the tab bar, the catalogue's items by slot, and each slot's fit.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

// The slot chips (not with the kitten face, which wears nothing).
float drawWearTabHeader(DrawContext& dc, float bottom);
void drawWearTab(DrawContext& dc, float& y);
TabClick wearTabClick(Panel& panel, const HitRegion& region);

}  // namespace qm
