#include "settings/settings_paths.h"

#include "platform/paths.h"

namespace qm {

SettingsPaths defaultSettingsPaths() {
    SettingsPaths paths;
    paths.assetDir = executableDir();
    std::string folder = settingsRoot();
    if (folder.empty() || !ensureDirectory(folder)) return paths;
    paths.folder = folder;
    paths.settingsFile = folder + "settings.ini";
    return paths;
}

std::string libraryFolder(const SettingsPaths& paths, const char* name) {
    if (paths.folder.empty()) return {};
    std::string folder = paths.folder + name + "/";
    ensureDirectory(folder);
    return folder;
}

}  // namespace qm
