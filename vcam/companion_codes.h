// The companion's command line and exit codes, shared with the program that starts it.
#pragma once

namespace qm {

constexpr const char* kCompanionName = "quillmere-vcam";
constexpr const char* kCameraLabel = "Quillmere";

enum CompanionExit : int {
    kCompanionOk = 0,
    kCompanionUsage = 2,
    kCompanionNoDevice = 3,      // no v4l2loopback device with the label
    kCompanionNoOutput = 4,      // the recording file cannot be written
    kCompanionNoSection = 5,     // the shared section cannot be created
    kCompanionDeviceRefused = 6  // the device refused the format or a write
};

}  // namespace qm
