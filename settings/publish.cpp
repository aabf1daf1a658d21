#include "settings/publish.h"

namespace qm {

void publishFilters(const FilterState& state, const SettingsPaths& paths, SharedState& shared) {
    EngineFilters& f = shared.filters;
    f.faceKind.exchange(state.face);
    f.filtersOn.exchange(state.filters);
    {
        std::lock_guard lock(shared.filterLock);
        f.faceFit = state.faceFit;
        if (state.face == kFaceCustom) {
            f.faceFit.x = state.photoFit.x;
            f.faceFit.y = state.photoFit.y;
        }
    }
    // Paths are built outside the lock: nothing slow happens while the engine may be waiting.
    std::string facePicture =
        state.faceId.empty() ? std::string() : libraryFolder(paths, "faces") + state.faceId;
    {
        std::lock_guard lock(shared.filterLock);
        f.facePicture = std::move(facePicture);
        f.tilt = -state.photoFit.tilt * 3.1415927f / 180;
        f.exposure = state.photoFit.exposure;
        f.warmth = state.photoFit.warmth;
        f.neck = state.photoFit.neck;
        f.photoEyes = state.photoFit.photoEyes;
        f.photoMouth = state.photoFit.photoMouth;
    }
    f.look.exchange(state.look);
    f.masculine.exchange(state.masculine);
    f.strength.exchange(state.strength);

    bool picture = state.background != "none" && state.background != "blur";
    std::string backgroundPicture =
        picture ? libraryFolder(paths, "backgrounds") + state.background : std::string();
    {
        std::lock_guard lock(shared.filterLock);
        f.blur.store(state.background == "blur");
        f.backgroundPicture = std::move(backgroundPicture);
    }
    {
        std::lock_guard lock(shared.filterLock);
        f.visitor = state.visitor;
        f.visitorFit = state.visitorFit;
        f.visitorEvery.store(state.visitorEvery);
        f.ghost.store(state.ghost);
    }
    {
        std::lock_guard lock(shared.filterLock);
        f.torso = state.torso;
    }
    {
        std::lock_guard lock(shared.filterLock);
        f.torsoFit = state.torsoFit;
    }
    f.bodyless.exchange(state.bodyless);
    f.headScale.exchange(state.head);
    for (int slot = 0; slot < kWearSlots; ++slot) {
        std::string item = effectiveWearItem(state, slot);
        {
            std::lock_guard lock(shared.filterLock);
            f.wear[slot] = std::move(item);
        }
        std::lock_guard lock(shared.filterLock);
        f.wearFit[slot] = state.wearFit[slot];
    }
}

}  // namespace qm
