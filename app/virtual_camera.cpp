#include "app/virtual_camera.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "base/failure.h"
#include "base/log.h"
#include "platform/child_process.h"
#include "platform/frame_section.h"
#include "platform/paths.h"
#include "vcam/companion_codes.h"

namespace qm {
namespace {

// Companion outcomes as statuses: 0x8A56xxxx with xxxx the companion's exit code.
constexpr HResult kCompanionBase = 0x8A560000;
constexpr HResult kCompanionCrashed = kCompanionBase | 0xFF;
constexpr HResult kCompanionTooSlow = kCompanionBase | 0xFE;
constexpr auto kStopWait = std::chrono::seconds(10);

int companion = 0;             // the companion's process id while it runs
std::string companionSection;  // the section it serves

bool translateCompanion(HResult hr, std::string* message) {
    if ((hr & 0xFFFF0000u) != kCompanionBase) return false;
    switch (hr & 0xFFFF) {
        case kCompanionNoDevice:
            *message =
                "No v4l2loopback device labelled \"Quillmere\" (sudo modprobe v4l2loopback "
                "card_label=Quillmere exclusive_caps=1), or use --record FILE.";
            break;
        case kCompanionNoOutput:
            *message = "The recording file cannot be written.";
            break;
        case kCompanionNoSection:
            *message = "The frame section cannot be created.";
            break;
        case kCompanionDeviceRefused:
            *message = "The camera device refused the video format.";
            break;
        case kCompanionUsage:
            *message = "The camera companion did not accept its arguments.";
            break;
        case 0xFE:
            *message = "The camera companion did not start in time.";
            break;
        default:
            *message = "The camera companion ended unexpectedly.";
            break;
    }
    return true;
}

HResult statusFromExit(const ChildExit& how) {
    if (!how.exited) return kCompanionCrashed;
    return how.code == 0 ? kOk : kCompanionBase | static_cast<HResult>(how.code);
}

// Waits for the section, or for the companion to give up.
HResult waitUntilReady(const std::string& section, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ChildExit how;
        if (childEnded(companion, &how)) {
            companion = 0;
            HResult hr = statusFromExit(how);
            return failed(hr) ? hr : kCompanionCrashed;
        }
        if (frameSectionReady(section, static_cast<uint32_t>(companion))) return kOk;
        if (std::chrono::steady_clock::now() > deadline) return kCompanionTooSlow;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Asks the companion to end and reaps it; a companion that does not end in time is killed.
HResult endCompanion() {
    if (companion == 0) return kOk;
    const ChildExit how = stopChild(companion, kStopWait);
    companion = 0;
    return statusFromExit(how);
}

}  // namespace

bool startVirtualCamera(const VirtualCameraConfig& config, std::string* failureText) {
    addStatusTranslator(translateCompanion);
    // Steps: identifier, release a camera left from before, create (start the companion), start (wait
    // until it serves the section).
    endCompanion();
    const std::string section = config.sectionName.empty() ? frameSectionName(getpid()) : config.sectionName;
    const std::string path =
        config.companionPath.empty() ? executableDir() + kCompanionName : config.companionPath;
    std::vector<std::string> args = {"--section", section, "--parent", std::to_string(getpid())};
    if (!config.record.empty()) {
        args.push_back("--output");
        args.push_back(config.record);
    }

    const int error = startChild(path, args, &companion);
    HResult hr = error ? hresultFromErrno(error) : kOk;
    if (failed(hr)) {
        companion = 0;
        reportFailure("Quillmere", __LINE__, hr, "Failed to create virtual camera");
    } else {
        logLine("MFCreateVirtualCamera ok, clsid %s", kCameraClassId);
        hr = waitUntilReady(section, config.readyTimeoutMs);
        if (failed(hr)) {
            reportFailure("Quillmere", __LINE__, hr, "Cannot start the camera");
        } else {
            logLine("camera started");
            companionSection = section;
            return true;
        }
    }

    char text[512];
    std::snprintf(text, sizeof text, "0x%08X %s", hr, statusMessage(hr).c_str());
    logLine("could not start the camera: %s", text);
    if (failureText) *failureText = text;
    endCompanion();
    return false;
}

HResult removeVirtualCamera() {
    const HResult hr = endCompanion();
    // A companion that was killed could not remove its section: the name must not outlive the session.
    if (!companionSection.empty()) removeFrameSection(companionSection);
    companionSection.clear();
    return hr;
}

std::string virtualCameraSection() {
    return companion != 0 ? companionSection : std::string();
}

}  // namespace qm
