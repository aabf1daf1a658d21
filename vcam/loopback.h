// The v4l2loopback output: finds the device whose card label is the camera's name, sets YUYV 1280 × 720
// at 30 frames per second, and writes whole frames to it (partial writes are continued).
//
// Contract: the companion's main thread only; owns the device descriptor and the YUYV frame buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SwsContext;

namespace qm {

class LoopbackOutput {
public:
    LoopbackOutput() = default;
    LoopbackOutput(const LoopbackOutput&) = delete;
    LoopbackOutput& operator=(const LoopbackOutput&) = delete;
    ~LoopbackOutput();

    // Finds the first output device labelled `label`; empty when there is none.
    static std::string findDevice(const std::string& label);

    // Opens the device and sets the format; false with a message.
    bool open(const std::string& path, std::string* message);
    // A quiet dark frame, shown until the program's first frame.
    void fillPlaceholder();
    // Converts one 1280 × 720 BGRA frame into the output frame.
    void setFrame(const uint8_t* bgra);
    // Writes the current output frame; false when the device refused it.
    bool writeFrame();

private:
    int fd_ = -1;
    std::vector<uint8_t> yuyv_;
    SwsContext* scaler_ = nullptr;
};

}  // namespace qm
