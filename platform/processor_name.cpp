#include "platform/processor_name.h"

#include <cstdio>
#include <cstring>

namespace qm {

std::string processorModelName() {
    FILE* info = std::fopen("/proc/cpuinfo", "r");
    if (!info) return {};
    char line[512];
    std::string name;
    while (std::fgets(line, sizeof line, info)) {
        if (std::strncmp(line, "model name", 10) != 0) continue;
        const char* colon = std::strchr(line, ':');
        if (!colon) break;
        name = colon + 1;
        size_t first = name.find_first_not_of(" \t");
        size_t last = name.find_last_not_of(" \t\r\n");
        name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        break;
    }
    std::fclose(info);
    return name;
}

}  // namespace qm
