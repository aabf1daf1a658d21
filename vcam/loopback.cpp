#include "vcam/loopback.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/frame_section.h"
#include "platform/loopback_nodes.h"
#include "platform/video_nodes.h"
#include "vcam/pixel_formats.h"

namespace qm {
namespace {

constexpr size_t kYuyvBytes = size_t(kFrameWidth) * kFrameHeight * 2;
constexpr auto kWatchCheckEvery = std::chrono::seconds(2);

std::string fourcc(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

int systemOpen(const char* path, int flags) {
    return ::open(path, flags);
}
ssize_t systemWrite(int fd, const void* data, size_t bytes) {
    return ::write(fd, data, bytes);
}
int systemClose(int fd) {
    return ::close(fd);
}

}  // namespace

DeviceCalls systemDeviceCalls() {
    return {systemOpen, videoIoctl, systemWrite, systemClose};
}

LoopbackOutput::LoopbackOutput(DeviceCalls calls, LoopbackRoots roots)
    : calls_(calls), roots_(std::move(roots)) {}

LoopbackOutput::~LoopbackOutput() {
    close();
}

bool LoopbackOutput::open(const std::string& label, std::string* message) {
    std::string busy;
    for (const LoopbackNode& node : listLoopbackNodes(roots_.sys)) {
        if (node.name != label) continue;
        path_ = node.path;
        if (claim(message)) return true;
        close();
        busy = *message;
    }
    path_.clear();
    *message = busy.empty() ? "no v4l2loopback device labelled \"" + label + "\"" : busy;
    return false;
}

bool LoopbackOutput::claim(std::string* message) {
    fd_ = calls_.open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        *message = path_ + ": " + std::strerror(errno);
        return false;
    }
    // With exclusive_caps the device announces output only while nobody feeds it.
    v4l2_capability caps{};
    if (calls_.ioctl(fd_, VIDIOC_QUERYCAP, &caps) != 0) {
        *message = path_ + ": not a video device (" + std::strerror(errno) + ")";
        return false;
    }
    const uint32_t own = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    if (!(own & V4L2_CAP_VIDEO_OUTPUT)) {
        *message = path_ + " is busy: another program already feeds it";
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
    if (calls_.ioctl(fd_, VIDIOC_S_FMT, &format) != 0) {
        *message = path_ + ": the device refused YUYV 1280 x 720 (" + std::strerror(errno) + ")";
        return false;
    }
    // The driver answers with the format it keeps, which may be one another program set: frames written
    // in ours would then reach applications scrambled.
    const v4l2_pix_format& kept = format.fmt.pix;
    const uint32_t rowBytes = kept.bytesperline ? kept.bytesperline : kept.width * 2;
    if (kept.width != kFrameWidth || kept.height != kFrameHeight || kept.pixelformat != V4L2_PIX_FMT_YUYV ||
        rowBytes != kFrameWidth * 2 || kept.sizeimage < kYuyvBytes) {
        *message = path_ + " keeps " + std::to_string(kept.width) + " x " + std::to_string(kept.height) +
                   " " + fourcc(kept.pixelformat) +
                   " set by another program; close the programs using it or reload v4l2loopback";
        return false;
    }
    v4l2_streamparm rate{};
    rate.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    rate.parm.output.timeperframe.numerator = 1;
    rate.parm.output.timeperframe.denominator = 30;
    calls_.ioctl(fd_, VIDIOC_S_PARM, &rate);  // older modules ignore it; the frames still come at 30 a second
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    if (calls_.ioctl(fd_, VIDIOC_STREAMON, &type) != 0) {
        *message = path_ + ": the device refused to start streaming (" + std::strerror(errno) + ")";
        return false;
    }
    streaming_ = true;
    yuyv_.resize(kYuyvBytes);
    fillPlaceholder(PixelFormat::Yuyv, kFrameWidth, kFrameHeight, yuyv_.data());
    return true;
}

void LoopbackOutput::setFrame(const uint8_t* bgra, size_t stride) {
    convertFromBgra(bgra, stride, kFrameWidth, kFrameHeight, PixelFormat::Yuyv, yuyv_.data());
}

bool LoopbackOutput::writeFrame() {
    if (fd_ < 0) return false;
    const uint8_t* data = yuyv_.data();
    size_t bytes = yuyv_.size();
    while (bytes > 0) {
        const ssize_t written = calls_.write(fd_, data, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

bool LoopbackOutput::watched() {
    const auto now = std::chrono::steady_clock::now();
    if (fd_ >= 0 && now >= nextWatchCheck_) {
        watched_ = !processesUsing(path_, roots_.proc).empty();
        nextWatchCheck_ = now + kWatchCheckEvery;
    }
    return fd_ >= 0 && watched_;
}

void LoopbackOutput::close() {
    if (fd_ < 0) return;
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        calls_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    calls_.close(fd_);
    fd_ = -1;
}

}  // namespace qm
