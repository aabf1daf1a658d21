// The Scenes tab: the saved scenes with their snapshots, saving the current look under a typed name, and the
// quick switches.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawScenesTab(DrawContext& dc, float& y);
TabClick scenesTabClick(Panel& panel, const HitRegion& region);

}  // namespace qm
