// The Body tab: the torsos, body-less mode with the head cut-out, and the empty room's capture.
#pragma once

#include "ui/tabs/tab.h"

namespace qm {

void drawBodyTab(DrawContext& dc, float& y);
TabClick bodyTabClick(Panel& panel, const HitRegion& region);

}  // namespace qm
