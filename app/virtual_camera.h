// The virtual camera's lifetime: "registering" the camera starts the companion quillmere-vcam for this
// session (it creates the shared frame section and serves it to the v4l2loopback device labelled
// "Quillmere", or records it to a file); "removing" it stops the companion, which ends with the program.
//
// Contract: main thread only (start-up steps 12 and 16). Owns the companion's process.
#pragma once

#include <string>

#include "base/status.h"

namespace qm {

struct VirtualCameraConfig {
    std::string record;         // non-empty: record the session to this file, no device needed
    std::string sectionName;    // empty: the program's section
    std::string companionPath;  // empty: quillmere-vcam beside the program
    int readyTimeoutMs = 10000;
};

// Starts the camera. On failure logs "could not start the camera: %s", stores the "0x%08X %s" text for
// the caller's dialog and returns false; no companion is left running.
bool startVirtualCamera(const VirtualCameraConfig& config, std::string* failureText);

// Stops the companion (it finishes its recording first) and returns the result for
// "camera removed, hr 0x%08X". kOk when none was running.
HResult removeVirtualCamera();

// The frame section of the companion this program started; empty while none runs (the engine then links to
// nothing).
std::string virtualCameraSection();

// The camera's fixed class identifier (logged when it is created).
constexpr const char* kCameraClassId = "{6F1C2B7A-3E58-4D09-A1C4-92B7E5D03F18}";

}  // namespace qm
