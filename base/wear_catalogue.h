// The wear catalogue: the 23 hair, hat, glasses and beard items in their fixed order, with the placement
// values that the wear drawing uses and the picture file each one loads. Constant data.
#pragma once

#include <string>

namespace qm {

enum WearKind : int { kWearKindHair = 0, kWearKindHat = 1, kWearKindGlasses = 2, kWearKindBeard = 3 };

struct WearEntry {
    int kind;
    const char* id;
    const char* label;
    float scale;
    float offset;
    float band;
};

constexpr int kWearCatalogueSize = 23;
extern const WearEntry kWearCatalogue[kWearCatalogueSize];

// "wig_<id>.png" for hair with a picture, "acc_<hat|glasses|beard>_<id>.png" otherwise; empty for the bald
// cap.
std::string wearPictureFile(const WearEntry& entry);

// The catalogue entry of the given slot kind and id; -1 when there is none.
int findWearEntry(int slot, const std::string& id);

}  // namespace qm
