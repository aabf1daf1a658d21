// The Background tab: none, blur or a library picture behind the person, and the room visitors.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawBackgroundTab(DrawContext& dc, float& y);
TabClick backgroundTabClick(Panel& panel, const HitRegion& region);
// "Remove" on a picture tile.
bool backgroundTabRightClick(Panel& panel, const HitRegion& region, float x, float y);

}  // namespace qm
