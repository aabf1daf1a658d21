#include "source/v4l2_devices.h"

#include "platform/video_nodes.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {
namespace {

void addIntervals(int fd, uint32_t pixelFormat, uint32_t width, uint32_t height,
                  std::vector<V4l2Format>& out) {
    v4l2_frmivalenum interval{};
    interval.pixel_format = pixelFormat;
    interval.width = width;
    interval.height = height;
    bool any = false;
    for (interval.index = 0; videoIoctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
        V4l2Format entry;
        entry.pixelFormat = pixelFormat;
        entry.format.width = width;
        entry.format.height = height;
        // A frame interval of n/d seconds is a rate of d/n frames per second.
        const v4l2_fract& fraction =
            interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        entry.format.rateNumerator = fraction.denominator;
        entry.format.rateDenominator = fraction.numerator;
        out.push_back(entry);
        any = true;
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
    }
    if (!any) out.push_back({{width, height, 0, 1}, pixelFormat});
}

}  // namespace

std::vector<CameraDevice> listCaptureDevices() {
    std::vector<CameraDevice> devices;
    for (const VideoNode& node : listVideoNodes())
        if (node.capabilities & V4L2_CAP_VIDEO_CAPTURE) devices.push_back({node.card, node.path});
    return devices;
}

std::vector<V4l2Format> enumerateV4l2Formats(int fd) {
    std::vector<V4l2Format> formats;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (description.index = 0; videoIoctl(fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index) {
        uint32_t pixelFormat = description.pixelformat;
        v4l2_frmsizeenum size{};
        size.pixel_format = pixelFormat;
        for (size.index = 0; videoIoctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                addIntervals(fd, pixelFormat, size.discrete.width, size.discrete.height, formats);
            } else {
                addIntervals(fd, pixelFormat, size.stepwise.max_width, size.stepwise.max_height, formats);
                break;
            }
        }
    }
    return formats;
}

std::string ffmpegInputFormatName(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return "mjpeg";
        case V4L2_PIX_FMT_H264:
            return "h264";
        case V4L2_PIX_FMT_YUYV:
            return "yuyv422";
        case V4L2_PIX_FMT_UYVY:
            return "uyvy422";
        case V4L2_PIX_FMT_NV12:
            return "nv12";
        case V4L2_PIX_FMT_YUV420:
            return "yuv420p";
        case V4L2_PIX_FMT_RGB24:
            return "rgb24";
        case V4L2_PIX_FMT_BGR24:
            return "bgr24";
        case V4L2_PIX_FMT_GREY:
            return "gray";
        default:
            return {};
    }
}

}  // namespace qm
