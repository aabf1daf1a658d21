#include "engine/statistics.h"

#include <cstdio>
#include <cstring>

#include "platform/frame_section.h"

namespace qm {

std::string describeCameraOutputs(uint32_t outputs) {
    std::string text;
    auto add = [&](const char* name, bool up, bool watched) {
        if (!up) return;
        if (!text.empty()) text += ", ";
        text += name;
        if (watched) text += " watched";
    };
    add("recording", outputs & kOutputRecording, false);
    add("pipewire", outputs & kOutputPipeWire, outputs & kWatchedPipeWire);
    add("loopback", outputs & kOutputLoopback, outputs & kWatchedLoopback);
    return text.empty() ? "none" : text;
}

std::string formatStatistics(const StatisticsFigures& f) {
    const double n = kStatisticsEvery;
    char line[512];
    std::snprintf(
        line, sizeof line,
        "stats: %.1f fps | per frame: track %.2f ms, draw %.2f ms, readback+send %.2f ms, total %.2f ms "
        "(worst %.1f) | face in %d/%d | cpu %.0f%% of one core (%.1f%% of %u) | memory %u MB | detector "
        "runs %d | camera link %s%s%s",
        f.fps, f.times.track / n, f.times.draw / n, f.times.send / n,
        (f.times.track + f.times.draw + f.times.send) / n, f.times.worst, f.times.faces, kStatisticsEvery,
        f.cpu, f.cpuAll, f.processors, f.memoryMb, f.detectorRuns, f.linkUp ? "up" : "not yet",
        f.linkUp ? (" | outputs: " + describeCameraOutputs(f.outputs)).c_str() : "",
        f.resting ? " | resting: nobody watches" : "");
    return line;
}

}  // namespace qm
