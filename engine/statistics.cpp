#include "engine/statistics.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

namespace qm {

std::string formatStatistics(const StatisticsFigures& f) {
    const double n = kStatisticsEvery;
    char line[512];
    std::snprintf(
        line, sizeof line,
        "stats: %.1f fps | per frame: track %.2f ms, draw %.2f ms, readback+send %.2f ms, total %.2f ms "
        "(worst %.1f) | face in %d/%d | cpu %.0f%% of one core (%.1f%% of %u) | memory %u MB | detector "
        "runs %d | camera link %s",
        f.fps, f.times.track / n, f.times.draw / n, f.times.send / n,
        (f.times.track + f.times.draw + f.times.send) / n, f.times.worst, f.times.faces, kStatisticsEvery,
        f.cpu, f.cpuAll, f.processors, f.memoryMb, f.detectorRuns, f.linkUp ? "up" : "not yet");
    return line;
}

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

}  // namespace qm
