#include "app/main/services.h"

#include "settings/settings_file.h"

namespace qm {

StartupServices programServices() {
    StartupServices services;
    services.loadSettings = [](LaunchOptions& options) { loadSettingsForLaunch(options); };
    return services;
}

}  // namespace qm
