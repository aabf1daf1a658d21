#include "vcam/loopback.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/frame_section.h"
#include "platform/video_nodes.h"

namespace qm {
namespace {

constexpr size_t kYuyvBytes = size_t(kFrameWidth) * kFrameHeight * 2;

// Writes every byte, going on after partial writes and interruptions.
bool writeAll(int fd, const uint8_t* data, size_t bytes) {
    while (bytes > 0) {
        ssize_t written = write(fd, data, bytes);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

LoopbackOutput::~LoopbackOutput() {
    if (fd_ >= 0) close(fd_);
    sws_freeContext(scaler_);
}

std::string LoopbackOutput::findDevice(const std::string& label) {
    // With exclusive_caps the node shows as output until something writes to it.
    for (const VideoNode& node : listVideoNodes())
        if (node.card == label && (node.capabilities & (V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_VIDEO_CAPTURE)))
            return node.path;
    return {};
}

bool LoopbackOutput::open(const std::string& path, std::string* message) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        *message = path + ": " + std::strerror(errno);
        return false;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = kFrameWidth;
    format.fmt.pix.height = kFrameHeight;
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = kFrameWidth * 2;
    format.fmt.pix.sizeimage = kYuyvBytes;
    format.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
    if (videoIoctl(fd_, VIDIOC_S_FMT, &format) != 0) {
        *message = path + ": the device refused YUYV 1280 x 720: " + std::strerror(errno);
        return false;
    }
    v4l2_streamparm rate{};
    rate.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    rate.parm.output.timeperframe.numerator = 1;
    rate.parm.output.timeperframe.denominator = 30;
    videoIoctl(fd_, VIDIOC_S_PARM, &rate);  // older modules ignore it; the frames still come at 30 per second
    yuyv_.assign(kYuyvBytes, 0);
    scaler_ = sws_getContext(kFrameWidth, kFrameHeight, AV_PIX_FMT_BGRA, kFrameWidth, kFrameHeight,
                             AV_PIX_FMT_YUYV422, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler_) {
        *message = "no colour converter";
        return false;
    }
    fillPlaceholder();
    return true;
}

void LoopbackOutput::fillPlaceholder() {
    for (size_t i = 0; i + 1 < yuyv_.size(); i += 2) {
        yuyv_[i] = 24;       // dark grey
        yuyv_[i + 1] = 128;  // no colour
    }
}

void LoopbackOutput::setFrame(const uint8_t* bgra) {
    const uint8_t* planes[1] = {bgra};
    const int strides[1] = {static_cast<int>(kFrameRowBytes)};
    uint8_t* out[1] = {yuyv_.data()};
    const int outStrides[1] = {static_cast<int>(kFrameWidth * 2)};
    sws_scale(scaler_, planes, strides, 0, kFrameHeight, out, outStrides);
}

bool LoopbackOutput::writeFrame() {
    return fd_ >= 0 && writeAll(fd_, yuyv_.data(), yuyv_.size());
}

}  // namespace qm
