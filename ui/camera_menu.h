// The camera chip's menu: the cameras (our own virtual camera left out), playing a video file instead,
// turning the camera off, and mirroring the preview. The choice goes to the engine as a source request.
#pragma once

#include <string>
#include <vector>

#include "ui/panel.h"

namespace qm {

enum CameraCommand {
    kCameraNone = 1,
    kCameraPlayFile = 2,
    kCameraTurnOff = 3,
    kCameraMirror = 4,
    kCameraFirst = 100
};

// The menu's items for the listed cameras and the open source's label.
std::vector<MenuItem> cameraMenuItems(const std::vector<std::string>& cameras, const std::string& sourceLabel,
                                      bool turnedOff, bool mirror);

// Shows the menu under the camera chip, acts on the choice (asking the host for a file for "Play a video
// file…"), then saves the settings and repaints, whatever was chosen.
void runCameraMenu(Panel& panel, const std::vector<std::string>& cameras);

}  // namespace qm
