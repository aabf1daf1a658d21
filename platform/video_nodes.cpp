#include "platform/video_nodes.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {

int videoIoctl(int fd, unsigned long request, void* arg) {
    int result;
    do
        result = ioctl(fd, request, arg);
    while (result == -1 && errno == EINTR);
    return result;
}

std::vector<VideoNode> listVideoNodes() {
    std::vector<VideoNode> nodes;
    for (int i = 0; i < 256; ++i) {
        const std::string path = "/dev/video" + std::to_string(i);
        if (access(path.c_str(), F_OK) != 0) continue;
        const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability caps{};
        if (videoIoctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
            const char* card = reinterpret_cast<const char*>(caps.card);
            const uint32_t own =
                (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
            nodes.push_back({path, std::string(card, strnlen(card, sizeof caps.card)), own});
        }
        close(fd);
    }
    return nodes;
}

}  // namespace qm
