#include "settings/publish.h"

#include "base/wear_catalogue.h"

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
        f.photo = state.photoFit;
        f.photo.tilt = -state.photoFit.tilt * 3.1415927f / 180;
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

void takeFrameFilters(SharedState& shared, bool plain, FrameFilters* out) {
    EngineFilters& f = shared.filters;
    FrameFilters& frame = *out;
    frame.filtering = !plain && f.filtersOn.load();
    frame.faceKind = frame.filtering ? f.faceKind.load() : kFaceNone;
    frame.blur = f.blur.load();
    frame.visitorEvery = f.visitorEvery.load();
    frame.backgroundVersion = f.backgroundVersion.load();
    frame.ghost = f.ghost.load();
    frame.bodyless = f.bodyless.load();
    frame.headScale = f.headScale.load();
    frame.look = f.look.load();
    frame.masculine = f.masculine.load();
    frame.strength = f.strength.load();
    // The strings keep their capacity from frame to frame: copying an unchanged name allocates nothing.
    std::lock_guard lock(shared.filterLock);
    frame.faceFit = f.faceFit;
    frame.facePath = f.facePicture;
    frame.photo = f.photo;
    for (int slot = 0; slot < kWearSlots; ++slot) {
        WornItem& item = frame.wear[slot];
        if (item.id != f.wear[slot]) {
            item.id = f.wear[slot];
            item.entry = item.id.empty() ? -1 : findWearEntry(slot, item.id);
        }
        item.fit = f.wearFit[slot];
    }
    frame.backgroundPath = f.backgroundPicture;
    frame.visitor = f.visitor;
    frame.visitorFit = f.visitorFit;
    frame.torso = f.torso;
    frame.torsoFit = f.torsoFit;
}

}  // namespace qm
