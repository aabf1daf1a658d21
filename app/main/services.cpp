#include "app/main/services.h"

#include "settings/settings_file.h"
#include "ui/main_window.h"

namespace qm {

StartupServices programServices() {
    StartupServices services;
    services.loadSettings = [](LaunchOptions& options) { loadSettingsForLaunch(options); };
    services.runWindow = [](LaunchOptions& options) { runMainWindow(options); };
    return services;
}

}  // namespace qm
