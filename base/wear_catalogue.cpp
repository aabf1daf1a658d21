#include "base/wear_catalogue.h"

namespace qm {

const WearEntry kWearCatalogue[kWearCatalogueSize] = {
    {0, "swept", "Swept", 1.12f, -0.21f, 0},
    {0, "spiky", "Spiky", 1.06f, -0.17f, 0},
    {0, "bob", "Black bob", 1.5f, -0.33f, 0},
    {0, "curls", "Curls", 1.65f, -0.3f, 0},
    {0, "bald", "Bald", 0, 0, 0},
    {1, "tophat", "Top hat", 0.95f, 0.32f, 0},
    {1, "santa", "Santa hat", 1.2f, 0.42f, 0},
    {1, "cowboy", "Cowboy hat", 1.7f, 0.36f, 0},
    {1, "cap", "Cap", 1.1f, 0.5f, 0},
    {1, "party", "Party hat", 0.5f, 0.08f, 0},
    {1, "crown", "Crown", 0.8f, 0.14f, 0},
    {1, "beanie", "Beanie", 1.1f, 0.68f, 0},
    {1, "wizard", "Wizard hat", 1.45f, 0.34f, 0},
    {2, "aviator", "Aviators", 2.3f, 0.5f, 0},
    {2, "round", "Round", 2.2f, 0.5f, 0},
    {2, "black", "Thick frames", 2.3f, 0.5f, 0},
    {2, "heart", "Hearts", 2.4f, 0.5f, 0},
    {2, "star", "Stars", 2.6f, 0.5f, 0},
    {3, "full", "Full beard", 2.4f, 0.29f, 0.41f},
    {3, "goatee", "Short beard", 2.0f, 0.305f, 0.46f},
    {3, "handlebar", "Handlebar", 1.6f, 1.2f, 0},
    {3, "santa", "Santa beard", 2.9f, 0.245f, 0.313f},
    {3, "pencil", "Pencil", 1.1f, 1.6f, 0},
};

std::string wearPictureFile(const WearEntry& entry) {
    static const char* const kAccessoryKinds[] = {"", "hat", "glasses", "beard"};
    if (entry.kind == kWearKindHair)
        return entry.scale > 0 ? std::string("wig_") + entry.id + ".png" : std::string();
    if (entry.kind < 0 || entry.kind > 3) return {};
    return std::string("acc_") + kAccessoryKinds[entry.kind] + "_" + entry.id + ".png";
}

int findWearEntry(int slot, const std::string& id) {
    for (int i = 0; i < kWearCatalogueSize; ++i)
        if (kWearCatalogue[i].kind == slot && id == kWearCatalogue[i].id) return i;
    return -1;
}

}  // namespace qm
