#include "platform/loopback_nodes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qm {
namespace {

// The first line of a small sysfs or procfs file, without its line end; empty when unreadable.
std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The number after `prefix` in a name such as "video12" or a process folder "4711"; -1 when there is none.
long numberAfter(const char* name, const char* prefix) {
    const size_t skip = std::strlen(prefix);
    if (std::strncmp(name, prefix, skip) != 0 || name[skip] == '\0') return -1;
    char* end = nullptr;
    const long value = std::strtol(name + skip, &end, 10);
    return (*end == '\0' && value >= 0) ? value : -1;
}

std::vector<long> numberedEntries(const std::string& folder, const char* prefix) {
    std::vector<long> numbers;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return numbers;
    while (const dirent* entry = readdir(dir)) {
        const long n = numberAfter(entry->d_name, prefix);
        if (n >= 0) numbers.push_back(n);
    }
    closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The access mode of an open descriptor, from the octal "flags:" line of its fdinfo.
bool openedForWriting(const std::string& fdinfo) {
    std::ifstream in(fdinfo);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags:", 0) != 0) continue;
        const long flags = std::strtol(line.c_str() + 6, nullptr, 8);
        return (flags & O_ACCMODE) != O_RDONLY;
    }
    return false;
}

}  // namespace

std::vector<LoopbackNode> listLoopbackNodes(const std::string& sysRoot) {
    std::vector<LoopbackNode> nodes;
    const std::string folder = sysRoot + "/devices/virtual/video4linux";
    for (long n : numberedEntries(folder, "video")) {
        const std::string name = firstLine(folder + "/video" + std::to_string(n) + "/name");
        nodes.push_back({"/dev/video" + std::to_string(n), name});
    }
    return nodes;
}

std::string loopbackModuleVersion(const std::string& sysRoot) {
    const std::string module = sysRoot + "/module/v4l2loopback";
    struct stat info {};
    if (stat(module.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    const std::string version = firstLine(module + "/version");
    return version.empty() ? "unknown" : version;
}

std::vector<NodeUser> processesUsing(const std::string& path, const std::string& procRoot) {
    std::vector<NodeUser> users;
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) return users;
    const long self = getpid();
    for (long pid : numberedEntries(procRoot, "")) {
        if (pid == self) continue;
        const std::string process = procRoot + "/" + std::to_string(pid);
        NodeUser user;
        bool holds = false;
        for (long fd : numberedEntries(process + "/fd", "")) {
            struct stat held {};
            if (stat((process + "/fd/" + std::to_string(fd)).c_str(), &held) != 0) continue;
            if (held.st_dev != target.st_dev || held.st_ino != target.st_ino) continue;
            holds = true;
            if (openedForWriting(process + "/fdinfo/" + std::to_string(fd))) user.writes = true;
        }
        if (!holds) continue;
        user.pid = static_cast<int>(pid);
        user.command = firstLine(process + "/comm");
        users.push_back(user);
    }
    return users;
}

}  // namespace qm
