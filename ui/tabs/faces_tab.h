// The Faces tab: the built-in and the user's own faces, the photo's fit and features, the touch-up looks.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawFacesTab(DrawContext& dc, float& y);
TabClick facesTabClick(Panel& panel, const HitRegion& region);
// "Remove" on a photo tile.
bool facesTabRightClick(Panel& panel, const HitRegion& region, float x, float y);

}  // namespace qm
