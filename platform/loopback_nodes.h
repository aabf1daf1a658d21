// v4l2loopback's devices as the system describes them, without opening any: their names from sysfs, the
// module's version, and which processes hold a device open (and whether they write to it).
#pragma once

#include <string>
#include <vector>

namespace qm {

struct LoopbackNode {
    std::string path;  // "/dev/video9"
    std::string name;  // the card label given to the module, at most 31 bytes
};

// The virtual video devices (/sys/devices/virtual/video4linux/videoN/name), in node-number order. Real
// cameras live elsewhere in sysfs and are never listed, so nothing here opens a camera.
std::vector<LoopbackNode> listLoopbackNodes(const std::string& sysRoot = "/sys");

// The loaded module's version ("0.12.7"); empty when the module is not loaded, "unknown" when it is
// loaded but does not say.
std::string loopbackModuleVersion(const std::string& sysRoot = "/sys");

struct NodeUser {
    int pid = 0;
    std::string command;  // the process's name (/proc/PID/comm)
    bool writes = false;  // opened for writing: it feeds the device
};

// The processes other than this one that hold `path` open, in process-id order. Only processes this user
// may inspect are seen.
std::vector<NodeUser> processesUsing(const std::string& path, const std::string& procRoot = "/proc");

}  // namespace qm
