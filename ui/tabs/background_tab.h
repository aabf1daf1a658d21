// The Background tab: none, blur or a library picture behind the person, and the room visitors.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawBackgroundTab(DrawContext& dc, float& y);
TabClick backgroundTabClick(Panel& panel, const HitRegion& region);

}  // namespace qm
