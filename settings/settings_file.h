// The settings file: loading it into FilterState (with the folder lists and the merge with the command
// line, both ways), saving it, and the window-mode settings that start-up loads for the window.
#pragma once

#include "base/launch_options.h"
#include "settings/filter_state.h"
#include "settings/settings_paths.h"

namespace qm {

// Reads the settings file into `state`, rebuilds `lists`, and merges with `options` in both directions.
void loadSettings(const SettingsPaths& paths, FilterState& state, SettingsLists& lists,
                  LaunchOptions& options);

// Writes every field in the file's fixed order, keeping anything else the file holds. False when the
// file could not be written (the old file is then left as it was).
bool saveSettings(const SettingsPaths& paths, const FilterState& state);

// "%.3f %.3f %.3f %.3f" and its reader: taken only when all four numbers parse, are finite and the
// scale is within [0.2, 3].
std::string formatFit(const Fit& fit);
bool parseFit(const std::string& text, Fit* fit);

// The settings the window works on, loaded by start-up in window mode (main thread only).
struct WindowSettings {
    SettingsPaths paths;
    FilterState state;
    SettingsLists lists;
    // Said in the window's message line at start: the settings file could not be read.
    std::string startNotice;
};
WindowSettings& windowSettings();
void loadSettingsForLaunch(LaunchOptions& options);

}  // namespace qm
