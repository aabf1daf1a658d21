// V4L2 capture devices: enumeration with their card names and the native formats a device offers.
// Engine thread only; nothing here keeps a device open.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "source/video_device.h"

namespace qm {

// A native format with the V4L2 pixel format it came with.
struct V4l2Format {
    NativeFormat format;
    uint32_t pixelFormat = 0;
};

// /dev/video* nodes that capture video, in node-number order.
std::vector<CameraDevice> listCaptureDevices();

// Every (pixel format, frame size, frame interval) the open device offers; discrete sizes and
// intervals only, stepwise ranges give their largest size at its fastest interval.
std::vector<V4l2Format> enumerateV4l2Formats(int fd);

// FFmpeg's name for a V4L2 pixel format ("mjpeg", "yuyv422", ...); empty when unknown.
std::string ffmpegInputFormatName(uint32_t pixelFormat);

}  // namespace qm
