// The engine's statistics line, logged every 90 frames: frame rate, per-frame stage times, faces found,
// processor and memory use, detector runs and the camera link. Engine thread only.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

constexpr int kStatisticsEvery = 90;

// One frame's stage times in ms: the source read, tracking, the person mask, the rest of the drawing and
// the readback with the hand-over to the camera.
struct FrameStageTimes {
    double read = 0, track = 0, mask = 0, draw = 0, send = 0;
};

// Stage times summed over the frames since the last line.
struct FrameTimes {
    double track = 0, draw = 0, send = 0;
    double worst = 0;
    int faces = 0;
};

struct StatisticsFigures {
    double fps = 0;
    FrameTimes times;
    double cpu = 0;     // percent of one core
    double cpuAll = 0;  // percent of all cores
    unsigned processors = 1;
    unsigned memoryMb = 0;
    int detectorRuns = 0;
    bool linkUp = false;
    uint32_t outputs = 0;  // CameraOutputs bits
    bool resting = false;
};

// "pipewire watched, loopback" / "recording" / "none": the camera's outputs and who reads them.
std::string describeCameraOutputs(uint32_t outputs);

std::string formatStatistics(const StatisticsFigures& figures);

}  // namespace qm
