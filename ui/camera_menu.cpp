#include "ui/camera_menu.h"

#include <mutex>

#include "settings/settings_file.h"

namespace qm {

std::vector<MenuItem> cameraMenuItems(const std::vector<std::string>& cameras, const std::string& sourceLabel,
                                      bool turnedOff, bool mirror) {
    std::vector<MenuItem> items;
    if (cameras.empty()) items.push_back({"No cameras found", kCameraNone, false});
    for (size_t i = 0; i < cameras.size(); ++i)
        items.push_back({cameras[i], kCameraFirst + static_cast<int>(i), true, cameras[i] == sourceLabel});
    items.push_back({{}, 0, true, false, true});
    items.push_back({"Play a video file\u2026", kCameraPlayFile});
    if (!turnedOff) items.push_back({"Turn off", kCameraTurnOff});
    items.push_back({{}, 0, true, false, true});
    items.push_back({"Mirror preview", kCameraMirror, true, mirror});
    return items;
}

void runCameraMenu(Panel& panel, const std::vector<std::string>& cameras) {
    SharedState& shared = panel.shared;
    PanelState& ui = panel.ui;
    std::string label;
    {
        std::lock_guard lock(shared.filterLock);
        label = shared.sourceLabel;
    }
    const int command =
        panel.host.popupMenu(cameraMenuItems(cameras, label, ui.cameraTurnedOff, panel.state.mirror),
                             ui.cameraChipRect.left, ui.cameraChipRect.bottom + 4);
    const int camera = command - kCameraFirst;
    if (camera >= 0 && camera < static_cast<int>(cameras.size())) {
        // The open camera chosen again still asks for a fresh start.
        panel.state.camera = cameras[static_cast<size_t>(camera)];
        ui.cameraTurnedOff = false;
        std::lock_guard lock(shared.filterLock);
        shared.requestedCamera = panel.state.camera;
        shared.requestedFile.clear();
        shared.cameraOff.exchange(false);
        shared.sourceChanged.exchange(true);
    } else if (command == kCameraPlayFile) {
        const std::string file = panel.host.chooseVideoFile();
        if (!file.empty()) {
            ui.cameraTurnedOff = false;
            std::lock_guard lock(shared.filterLock);
            shared.requestedFile = file;
            shared.cameraOff.exchange(false);
            shared.sourceChanged.exchange(true);
        }
    } else if (command == kCameraTurnOff) {
        ui.cameraTurnedOff = true;
        ui.hasPreviewFrame = false;
        shared.cameraOff.exchange(true);
    } else if (command == kCameraMirror) {
        // The preview, the snapshots and the reversed sliders only; the call's picture is unchanged.
        panel.state.mirror = !panel.state.mirror;
    }
    saveSettings(panel.paths, panel.state);
    panel.host.repaint();
}

}  // namespace qm
