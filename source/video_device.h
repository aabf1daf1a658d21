// The device layer under the video source: what a camera or a video file can do, with no operating-system
// or library type in sight. The system implementation (V4L2 cameras, FFmpeg decoding) lives in
// system_video.cpp; tests drive the engine with a scripted fake through the same interface.
//
// Contract: one VideoBackend per engine, used only on the engine thread. A VideoReader is one open camera
// or file; it owns its decoder and its BGRA output buffer, and the pixels it returns stay valid until the
// next call on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace qm {

// One native format a camera offers; a missing rate reads as 0 / 1.
struct NativeFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rateNumerator = 0;
    uint32_t rateDenominator = 1;
};

struct CameraDevice {
    std::string name;  // friendly name (the V4L2 card name)
    std::string path;  // how the backend opens it
};

enum class ReadKind { Sample, Gap, EndOfStream, Failed };

// The outcome of one read. A size change may come with or without a sample; width and height then
// hold the new size. A sample is BGRA rows `pitch` bytes apart, `bytes` in all.
struct ReadResult {
    ReadKind kind = ReadKind::Gap;
    HResult hr = kOk;  // for Failed
    bool sizeChanged = false;
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* pixels = nullptr;
    long pitch = 0;
    size_t bytes = 0;
};

class VideoReader {
public:
    virtual ~VideoReader() = default;
    // The camera's native formats in its own order (empty for files and unknown devices).
    virtual std::vector<NativeFormat> nativeFormats() { return {}; }
    // Makes native format `index` the one captured; without a call the device keeps its current format.
    virtual HResult setNativeFormat(size_t index) {
        (void)index;
        return kOk;
    }
    // Starts BGRA output and reports the frame size.
    virtual HResult startOutput(uint32_t* width, uint32_t* height) = 0;
    // One read attempt. Blocks at most a few tens of milliseconds (a camera with nothing to give
    // answers Gap).
    virtual ReadResult readSample() = 0;
    // The same, for a caller that keeps the frame in `frame` (packed BGRA rows of the size last reported):
    // a reader that can convert straight into it does so, and the sample's pixels are then `frame`'s, which
    // saves a copy and a buffer of the frame's size. Others answer as readSample().
    virtual ReadResult readSampleInto(std::vector<uint8_t>& frame) {
        (void)frame;
        return readSample();
    }
    // Files: back to the first frame.
    virtual HResult rewind() = 0;
};

class VideoBackend {
public:
    virtual ~VideoBackend() = default;
    // Every video-capture device in enumeration order; errors give a shorter list.
    virtual std::vector<CameraDevice> cameras() = 0;
    virtual HResult openFile(const std::string& path, std::unique_ptr<VideoReader>* reader) = 0;
    // Activates a camera; `shared` leaves its format as another application set it.
    virtual HResult openCamera(const CameraDevice& device, bool shared,
                               std::unique_ptr<VideoReader>* reader) = 0;
};

// V4L2 cameras and FFmpeg decoding.
std::unique_ptr<VideoBackend> makeSystemVideoBackend();

}  // namespace qm
