// The Scenes tab: the saved scenes with their snapshots, saving the current look under a typed name,
// renaming, updating and deleting through a tile's menu, and the quick switches.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawScenesTab(DrawContext& dc, float& y);
TabClick scenesTabClick(Panel& panel, const HitRegion& region);
// The tile menu: "Update with what's on now", "Rename…", "Delete".
bool scenesTabRightClick(Panel& panel, const HitRegion& region, float x, float y);

}  // namespace qm
