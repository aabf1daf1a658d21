// Publishing: copies the window's FilterState into the engine's EngineFilters. Called on the window's
// thread after every change; the engine picks the values up at the start of its next frame.
#pragma once

#include "settings/filter_state.h"
#include "settings/settings_paths.h"
#include "settings/shared_state.h"

namespace qm {

void publishFilters(const FilterState& state, const SettingsPaths& paths, SharedState& shared);

}  // namespace qm
