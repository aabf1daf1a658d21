// Publishing: copies the window's FilterState into the engine's EngineFilters (window thread, after every
// change), and the engine's side, which takes the published values into its FrameFilters at the start of
// each frame (engine thread).
#pragma once

#include "base/frame_filters.h"
#include "settings/filter_state.h"
#include "settings/settings_paths.h"
#include "settings/shared_state.h"

namespace qm {

void publishFilters(const FilterState& state, const SettingsPaths& paths, SharedState& shared);

// Copies the published filters into the frame's record under filterLock; the face kind reads 0 while
// filters are off or `plain` is set. A wear id is looked up in the catalogue only when it changed.
void takeFrameFilters(SharedState& shared, bool plain, FrameFilters* frame);

}  // namespace qm
