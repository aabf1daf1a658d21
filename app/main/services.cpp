#include "app/main/services.h"

#include "app/virtual_camera.h"
#include "engine/engine.h"
#include "settings/settings_file.h"
#include "ui/main_window.h"

namespace qm {

StartupServices programServices() {
    StartupServices services;
    services.loadSettings = [](LaunchOptions& options) { loadSettingsForLaunch(options); };
    services.startVirtualCamera = [](const LaunchOptions& options, bool headless) {
        VirtualCameraConfig config;
        config.record = options.record;
        std::string failureText;
        bool started = startVirtualCamera(config, &failureText);
        if (!started && !headless) showCameraFailureDialog(failureText);
        return started;
    };
    services.removeVirtualCamera = [] { return removeVirtualCamera(); };
    services.startEngine = [](const LaunchOptions& options) {
        LaunchOptions withCamera = options;
        withCamera.frameSection = virtualCameraSection();
        return startEngine(withCamera);
    };
    services.stopEngine = [] { stopEngine(); };
    services.engineFailed = [] { return engineFailed(); };
    services.runWindow = [](LaunchOptions& options) { runMainWindow(options); };
    return services;
}

}  // namespace qm
