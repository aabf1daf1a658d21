// The system's video device nodes (/dev/videoN): listing them with what they say of themselves, and the
// ioctl call that the camera source and the loopback output share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

struct VideoNode {
    std::string path;           // "/dev/video0"
    std::string card;           // the driver's card name (a camera's friendly name)
    uint32_t capabilities = 0;  // the node's own capabilities (V4L2_CAP_*)
};

// Every /dev/videoN (N < 256) that opens and answers the capability query, in node-number order.
std::vector<VideoNode> listVideoNodes();

// An ioctl on a video node, repeated while a signal interrupts it; -1 with errno on failure.
int videoIoctl(int fd, unsigned long request, void* arg);

}  // namespace qm
