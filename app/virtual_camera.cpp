#include "app/virtual_camera.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
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
// A companion that ends during the session is started again after this pause, doubled after each start
// that fails or lives less than kSteadyRun, up to kLongestPause.
constexpr auto kFirstPause = std::chrono::seconds(1);
constexpr auto kLongestPause = std::chrono::seconds(30);
constexpr auto kSteadyRun = std::chrono::seconds(30);
constexpr auto kWatchInterval = std::chrono::milliseconds(200);

// The companion is started and stopped by the main thread and, between those, watched (and started again)
// by the watcher thread; the mutex covers both.
std::mutex companionMutex;
int companion = 0;             // the companion's process id while it runs
std::string companionSection;  // the section it serves
VirtualCameraConfig activeConfig;

std::thread watcher;
std::mutex watcherMutex;
std::condition_variable watcherWake;
std::atomic<bool> watcherStop{false};  // also ends a wait for a restarted companion

bool translateCompanion(HResult hr, std::string* message) {
    if ((hr & 0xFFFF0000u) != kCompanionBase) return false;
    switch (hr & 0xFFFF) {
        case kCompanionNoDevice:
            *message =
                "No PipeWire daemon for this user and no v4l2loopback device labelled \"Quillmere\": "
                "\"quillmere --check-camera\" says what to set up. Or use --record FILE.";
            break;
        case kCompanionNoOutput:
            *message = "The recording file cannot be written.";
            break;
        case kCompanionNoSection:
            *message = "The frame section cannot be created.";
            break;
        case kCompanionDeviceRefused:
            *message =
                "The v4l2loopback device labelled \"Quillmere\" is busy or keeps another program's format, "
                "and no PipeWire daemon runs: \"quillmere --check-camera\" says what to do.";
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
        if (std::chrono::steady_clock::now() > deadline || watcherStop) return kCompanionTooSlow;
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

// The first free "<name>-N<extension>" beside `path` (N from 2): a companion started again records to a new
// file, so the recording it replaces stays as it was written.
std::string nextRecordingPath(const std::string& path) {
    const std::filesystem::path original(path);
    const std::string stem = original.stem().string(), extension = original.extension().string();
    std::error_code ignored;
    for (int n = 2;; ++n) {
        std::filesystem::path candidate = original;
        candidate.replace_filename(stem + "-" + std::to_string(n) + extension);
        if (!std::filesystem::exists(candidate, ignored)) return candidate.string();
    }
}

// Starts the companion for `section` (recording to `recording` when not empty); kOk or the start's error.
HResult startCompanion(const VirtualCameraConfig& config, const std::string& section,
                       const std::string& recording) {
    const std::string path =
        config.companionPath.empty() ? executableDir() + kCompanionName : config.companionPath;
    std::vector<std::string> args = {"--section", section, "--parent", std::to_string(getpid())};
    if (!recording.empty()) {
        args.push_back("--output");
        args.push_back(recording);
    }
    const int error = startChild(path, args, &companion);
    if (!error) return kOk;
    companion = 0;
    return hresultFromErrno(error);
}

// Watches the companion while the session lasts: one that ended is reported as the camera's removal and
// started again after a pause that grows while it keeps failing. The engine relinks on its own.
void watchCompanion() {
    auto pause = std::chrono::steady_clock::duration(kFirstPause);
    auto startedAt = std::chrono::steady_clock::now();
    auto restartAt = std::chrono::steady_clock::time_point::max();
    std::unique_lock wait(watcherMutex);
    while (!watcherWake.wait_for(wait, kWatchInterval, [] { return watcherStop.load(); })) {
        std::lock_guard lock(companionMutex);
        const auto now = std::chrono::steady_clock::now();
        ChildExit how;
        if (companion != 0 && childEnded(companion, &how)) {
            companion = 0;
            const HResult hr = statusFromExit(how);
            logLine("camera removed, hr 0x%08X", failed(hr) ? hr : kCompanionCrashed);
            if (now - startedAt >= kSteadyRun) pause = kFirstPause;
            restartAt = now + pause;
        }
        if (companion != 0 || now < restartAt) continue;
        const std::string recording =
            activeConfig.record.empty() ? std::string() : nextRecordingPath(activeConfig.record);
        HResult hr = startCompanion(activeConfig, companionSection, recording);
        if (!failed(hr)) hr = waitUntilReady(companionSection, activeConfig.readyTimeoutMs);
        if (failed(hr)) {
            logLine("could not start the camera: 0x%08X %s", hr, statusMessage(hr).c_str());
            if (companion != 0) stopChild(companion, kStopWait);
            companion = 0;
            pause = std::min<std::chrono::steady_clock::duration>(pause * 2, kLongestPause);
            restartAt = std::chrono::steady_clock::now() + pause;
            continue;
        }
        logLine("camera started");
        if (!recording.empty()) logLine("camera: recording continues in %s", recording.c_str());
        startedAt = std::chrono::steady_clock::now();
        restartAt = std::chrono::steady_clock::time_point::max();
        pause = std::min<std::chrono::steady_clock::duration>(pause * 2, kLongestPause);
    }
}

void stopWatching() {
    if (!watcher.joinable()) return;
    // Set before taking the lock: a watcher waiting for a restarted companion holds it, and sees the flag.
    watcherStop = true;
    { std::lock_guard lock(watcherMutex); }
    watcherWake.notify_all();
    watcher.join();
    watcherStop = false;
}

}  // namespace

bool startVirtualCamera(const VirtualCameraConfig& config, std::string* failureText) {
    addStatusTranslator(translateCompanion);
    stopWatching();
    std::lock_guard lock(companionMutex);
    // Steps: identifier, release a camera left from before, create (start the companion), start (wait
    // until it serves the section).
    endCompanion();
    const std::string section = config.sectionName.empty() ? frameSectionName(getpid()) : config.sectionName;
    HResult hr = startCompanion(config, section, config.record);
    if (failed(hr)) {
        reportFailure("Quillmere", __LINE__, hr, "Failed to create virtual camera");
    } else {
        logLine("MFCreateVirtualCamera ok, clsid %s", kCameraClassId);
        hr = waitUntilReady(section, config.readyTimeoutMs);
        if (failed(hr)) {
            reportFailure("Quillmere", __LINE__, hr, "Cannot start the camera");
        } else {
            logLine("camera started");
            companionSection = section;
            activeConfig = config;
            watcher = std::thread(watchCompanion);
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
    stopWatching();
    std::lock_guard lock(companionMutex);
    const HResult hr = endCompanion();
    // A companion that was killed could not remove its section: the name must not outlive the session.
    if (!companionSection.empty()) removeFrameSection(companionSection);
    companionSection.clear();
    return hr;
}

std::string virtualCameraSection() {
    std::lock_guard lock(companionMutex);
    return companion != 0 ? companionSection : std::string();
}

}  // namespace qm
