// `quillmere --check-camera`: turns what the probes found (platform/camera_setup.h) into a short report in
// plain words, with the exact commands that fix what is missing. Pure: the same record gives the same
// text, so tests feed it made-up machines.
#pragma once

#include <string>
#include <vector>

#include "platform/camera_setup.h"

namespace qm {

struct CameraCheck {
    std::string report;
    bool works = false;  // at least one way for applications to see the camera: PipeWire, or our device
};

// `examplesDir`: the installed sample configuration files (with a trailing '/'), empty when this run is
// not an installed one; the report then prints the files' text instead of copy commands.
CameraCheck checkCamera(const CameraSetup& setup, const std::string& examplesDir = "");

// The card labels a v4l2loopback configuration keeps for the other programs' devices, followed by
// "Quillmere": each one made safe for the options line and at most 31 bytes, without repeats.
std::vector<std::string> loopbackLabels(const LoopbackProbe& loopback);

// "options v4l2loopback devices=N card_label="A","B" exclusive_caps=1,1" for those labels.
std::string loopbackOptionsLine(const std::vector<std::string>& labels);

}  // namespace qm
