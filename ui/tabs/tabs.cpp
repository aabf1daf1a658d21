#include "ui/tabs/tab.h"

#include <algorithm>

#include "ui/icons.h"
#include "ui/tabs/background_tab.h"
#include "ui/tabs/body_tab.h"
#include "ui/tabs/faces_tab.h"
#include "ui/tabs/scenes_tab.h"
#include "ui/tabs/wear_tab.h"

namespace qm {

bool chooseRemove(Panel& panel, float x, float y) {
    constexpr int kRemove = 1;
    return panel.host.popupMenu({{"Remove", kRemove}}, x, y) == kRemove;
}

const TabModule& tabModule(int tab) {
    static const TabModule kTabs[kTabCount] = {
        {"Faces", icon::kEmoji, nullptr, drawFacesTab, facesTabClick, facesTabRightClick},
        {"Wear", icon::kRedEye, drawWearTabHeader, drawWearTab, wearTabClick, nullptr},
        {"Body", icon::kContact, nullptr, drawBodyTab, bodyTabClick, nullptr},
        {"Background", icon::kPhoto, nullptr, drawBackgroundTab, backgroundTabClick, backgroundTabRightClick},
        {"Scenes", icon::kViewAll, nullptr, drawScenesTab, scenesTabClick, scenesTabRightClick},
    };
    return kTabs[std::clamp(tab, 0, kTabCount - 1)];
}

}  // namespace qm
