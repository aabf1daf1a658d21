// The engine's video source: opening the chosen camera (never the program's own) or a video file, and
// reading its frames as BGRA pixels.
//
// Contract: called only on the engine thread. SourceState is the engine's own record (it owns the open
// reader and the last frame); the shared block is touched only for the source label, under filterLock,
// and for reading the status, which keeps repeated failures quiet in the log while it is 3.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "settings/shared_state.h"
#include "source/video_device.h"

namespace qm {

// Friendly names containing this are the program's own virtual camera.
constexpr const char* kOwnCameraWord = "Quillmere";

struct SourceState {
    std::string camera;  // requested camera; empty = the first real one
    std::string file;    // non-empty selects the file source
    std::unique_ptr<VideoReader> reader;
    bool isFile = false;
    bool shareCamera = false;  // open the camera in shared mode on the next attempt
    uint32_t frameWidth = 0;
    uint32_t frameHeight = 0;
    std::vector<uint8_t> frame;  // frameWidth × frameHeight × 4, rows packed
    // The last file that failed to open and why: the same failure again is retried quietly.
    std::string failedFile;
    HResult failedFileStatus = kOk;
};

// What the source needs from the engine that owns it.
struct SourceContext {
    VideoBackend& backend;
    SharedState& shared;
    const std::atomic<bool>& stop;
    // Called after the frame size changed mid-stream: the frame-size hook of the drawing and the
    // tracking reset. False stops the read.
    std::function<bool()> frameSizeChanged;
};

// Opens `file` when set, otherwise a camera. kNotFound when no acceptable camera could be activated.
HResult openSource(SourceState& source, SourceContext& context);

// Fills source.frame with the next frame; false when none could be had within 200 attempts, on a read
// failure, at the end of a camera stream, or when stop is set.
bool readFrame(SourceState& source, SourceContext& context);

// Friendly names of every camera except the program's own, in enumeration order.
std::vector<std::string> listCameras(VideoBackend& backend);
// The same for this machine's cameras (the window's camera menu; any thread).
std::vector<std::string> listCameras();

// The file-name part of a path (after the last '/').
std::string fileNamePart(const std::string& path);

}  // namespace qm
