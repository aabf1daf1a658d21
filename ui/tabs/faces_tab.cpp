#include "ui/tabs/faces_tab.h"

#include <algorithm>
#include <iterator>

namespace qm {
namespace {

// Face kinds of the built-in face tiles, by tile index.
constexpr int kBuiltInFaceKinds[] = {kFaceNone,   kFaceMorvel, kFaceOrange,
                                     kFaceBanana, kFaceKitten, kFaceGoogly};

}  // namespace

void drawFacesTab(DrawContext& dc, float& y) {
    drawTabTitle(dc, y, "Faces");
}

TabClick facesTabClick(Panel& panel, const HitRegion& region) {
    FilterState& s = panel.state;
    switch (region.kind) {
        case kHitFaceTile:
            if (region.index >= 0 && region.index < static_cast<int>(std::size(kBuiltInFaceKinds)))
                s.face = kBuiltInFaceKinds[region.index];
            return TabClick::Changed;
        case kHitUserFaceTile:
        case kHitAddFace:
            return TabClick::Changed;
        case kHitEyesSegment:
            s.photoFit.photoEyes = region.index == 0;
            return TabClick::Changed;
        case kHitMouthSegment:
            s.photoFit.photoMouth = region.index == 0;
            return TabClick::Changed;
        case kHitLookSegment:
            s.look = std::clamp(region.index, 0, 3);
            return TabClick::Changed;
        case kHitMasculineSegment:
            s.masculine = region.index == 1;
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

}  // namespace qm
