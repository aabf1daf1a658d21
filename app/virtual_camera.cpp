#include "app/virtual_camera.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "base/failure.h"
#include "base/log.h"
#include "engine/frame_section.h"
#include "platform/paths.h"
#include "vcam/companion_codes.h"

namespace qm {
namespace {

// Companion outcomes as statuses: 0x8A56xxxx with xxxx the companion's exit code.
constexpr HResult kCompanionBase = 0x8A560000;
constexpr HResult kCompanionCrashed = kCompanionBase | 0xFF;
constexpr HResult kCompanionTooSlow = kCompanionBase | 0xFE;
constexpr auto kStopWait = std::chrono::seconds(10);

pid_t companion = 0;

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

HResult statusFromExit(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        int code = WEXITSTATUS(waitStatus);
        return code == 0 ? kOk : kCompanionBase | static_cast<HResult>(code);
    }
    return kCompanionCrashed;
}

// Starts the companion; the exec error comes back through a close-on-exec pipe.
HResult spawnCompanion(const std::string& path, const std::vector<std::string>& args, pid_t* child) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return hresultFromErrno(errno);
    pid_t pid = fork();
    if (pid < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        return hresultFromErrno(error);
    }
    if (pid == 0) {
        close(report[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execv(path.c_str(), argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int error = 0;
    ssize_t got;
    do
        got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        waitpid(pid, nullptr, 0);
        return hresultFromErrno(error);
    }
    *child = pid;
    return kOk;
}

// True once the companion's own section (its process id, then the magic) is in place.
bool sectionReady(const std::string& name, pid_t owner) {
    int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info {};
    bool ready = false;
    if (fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(kSectionBytes)) {
        void* view = mmap(nullptr, kSectionPixelsOffset, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            uint32_t magic, pid;
            std::memcpy(&magic, static_cast<uint8_t*>(view) + kSectionMagicOffset, sizeof magic);
            std::memcpy(&pid, static_cast<uint8_t*>(view) + kSectionOwnerOffset, sizeof pid);
            ready = magic == kFrameMagic && pid == static_cast<uint32_t>(owner);
            munmap(view, kSectionPixelsOffset);
        }
    }
    close(fd);
    return ready;
}

// Waits for the section, or for the companion to give up.
HResult waitUntilReady(const std::string& section, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(companion, &status, WNOHANG);
        if (done == companion) {
            companion = 0;
            HResult hr = statusFromExit(status);
            return failed(hr) ? hr : kCompanionCrashed;
        }
        if (sectionReady(section, companion)) return kOk;
        if (std::chrono::steady_clock::now() > deadline) return kCompanionTooSlow;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Asks the companion to end and reaps it; a companion that does not end in time is killed.
HResult endCompanion() {
    if (companion == 0) return kOk;
    int status = 0;
    pid_t done = waitpid(companion, &status, WNOHANG);
    if (done == 0) {
        kill(companion, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + kStopWait;
        while ((done = waitpid(companion, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            kill(companion, SIGKILL);
            waitpid(companion, &status, 0);
            companion = 0;
            return kCompanionCrashed;
        }
    }
    companion = 0;
    return done < 0 ? hresultFromErrno(errno) : statusFromExit(status);
}

}  // namespace

bool startVirtualCamera(const VirtualCameraConfig& config, std::string* failureText) {
    addStatusTranslator(translateCompanion);
    // Steps: identifier, release a camera left from before, create (start the companion), start (wait
    // until it serves the section).
    endCompanion();
    const std::string section = config.sectionName.empty() ? kFrameSectionName : config.sectionName;
    const std::string path =
        config.companionPath.empty() ? executableDir() + kCompanionName : config.companionPath;
    std::vector<std::string> args = {"--section", section, "--parent", std::to_string(getpid())};
    if (!config.record.empty()) {
        args.push_back("--output");
        args.push_back(config.record);
    }

    HResult hr = spawnCompanion(path, args, &companion);
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
    return endCompanion();
}

}  // namespace qm
