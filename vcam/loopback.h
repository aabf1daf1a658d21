// The v4l2loopback output: finds the device whose sysfs name is the camera's label, claims it in the
// driver's own terms (the format set and read back, the frame interval, STREAMON before the first write
// and STREAMOFF before closing, so the device announces itself again for the next start) and writes
// whole YUYV 1280 × 720 frames to it, continuing partial writes.
//
// Contract: the companion's main thread only; owns the device descriptor and the YUYV frame. The device
// calls are passed in so tests can stand in for the driver.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

struct DeviceCalls {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* arg);  // repeated while interrupted
    ssize_t (*write)(int fd, const void* data, size_t bytes);
    int (*close)(int fd);
};
DeviceCalls systemDeviceCalls();

struct LoopbackRoots {
    std::string sys = "/sys";
    std::string proc = "/proc";
};

class LoopbackOutput {
public:
    explicit LoopbackOutput(DeviceCalls calls = systemDeviceCalls(), LoopbackRoots roots = {});
    LoopbackOutput(const LoopbackOutput&) = delete;
    LoopbackOutput& operator=(const LoopbackOutput&) = delete;
    ~LoopbackOutput();

    // Finds the device named `label` and claims it: false with a message when there is none, when another
    // program already feeds it, or when it keeps a format other than ours.
    bool open(const std::string& label, std::string* message);
    const std::string& path() const { return path_; }
    // Converts one 1280 × 720 BGRA frame (rows `stride` bytes apart) into the output frame.
    void setFrame(const uint8_t* bgra, size_t stride);
    // Writes the current output frame; false when the device refused it.
    bool writeFrame();
    // Another process holds the device open (an application reading it); looked up at most every two
    // seconds.
    bool watched();
    // STREAMOFF and close; the device is then free for the next start.
    void close();

private:
    bool claim(std::string* message);

    DeviceCalls calls_;
    LoopbackRoots roots_;
    int fd_ = -1;
    bool streaming_ = false;
    std::string path_;
    std::vector<uint8_t> yuyv_;
    bool watched_ = false;
    std::chrono::steady_clock::time_point nextWatchCheck_{};
};

}  // namespace qm
