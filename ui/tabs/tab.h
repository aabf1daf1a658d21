// A tab of the side panel as one module: its drawing and its click handling together. The paint draws the
// current tab's module; a click on any region the panel does not own itself goes to the module whose kind
// it is.
//
// Window thread only, like the panel.
#pragma once

#include <cstdint>

#include "ui/controls.h"

namespace qm {

// What a tab did with a click.
enum class TabClick {
    NotMine,  // not one of this tab's regions
    Changed,  // the filter state changed: publish, save, repaint, and the look is no longer a saved scene
    Done,     // the tab took its own path (a menu, a dialog, a countdown) and repainted if it had to
};

struct TabModule {
    const char* title;
    uint32_t icon;
    // Rows fixed under the tab bar (the Wear tab's slot chips); returns the header's new bottom. Null for
    // none.
    float (*drawHeader)(DrawContext& dc, float bottom);
    // The scrolling content from y on; advances y past it.
    void (*draw)(DrawContext& dc, float& y);
    TabClick (*click)(Panel& panel, const HitRegion& region);
    // A right-click on one of the tab's regions at (x, y) DIPs; false when the region has no menu.
    bool (*rightClick)(Panel& panel, const HitRegion& region, float x, float y);
};

// The one-item "Remove" menu of a tile the user added, opened at (x, y) DIPs: whether it was chosen.
bool chooseRemove(Panel& panel, float x, float y);

// The five tabs in their order: Faces, Wear, Body, Background, Scenes.
const TabModule& tabModule(int tab);

}  // namespace qm
