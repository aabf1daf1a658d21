// Where the settings file, the user's libraries and the program's assets are.
#pragma once

#include <string>

namespace qm {

struct SettingsPaths {
    std::string settingsFile;  // ".../Quillmere/settings.ini"; empty: settings are neither read nor written
    std::string folder;        // ".../Quillmere/" (the settings folder)
    std::string assetDir;      // the program's folder (torso and visitor files, pictures, models)
};

// The user's settings folder (created when missing) and the program's folder.
SettingsPaths defaultSettingsPaths();

// A library folder under the settings folder ("backgrounds", "faces", "scenes"), created on demand and
// returned with a trailing '/'. Empty when there is no settings folder.
std::string libraryFolder(const SettingsPaths& paths, const char* name);

}  // namespace qm
