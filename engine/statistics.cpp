#include "engine/statistics.h"

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

}  // namespace qm
