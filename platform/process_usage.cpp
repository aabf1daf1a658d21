#include "platform/process_usage.h"

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qm {

uint64_t processCpu100ns() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    auto toUnits = [](const timeval& t) { return uint64_t(t.tv_sec) * 10000000 + uint64_t(t.tv_usec) * 10; };
    return toUnits(usage.ru_utime) + toUnits(usage.ru_stime);
}

uint64_t processResidentBytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    uint64_t kilobytes = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kilobytes = std::strtoull(line + 6, nullptr, 10);
            break;
        }
    std::fclose(status);
    return kilobytes * 1024;
}

void returnLargeBlocksWhenFreed() {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

}  // namespace qm
