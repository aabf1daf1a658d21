// engine_bench: the whole pipeline on the sample video, one configuration after another (each in a fresh
// process), the real engine headless with the companion recording its frames. For each configuration it
// prints the per-frame stage medians and 95th percentiles (read, track, mask, draw, send, total), the
// engine's and the companion's processor time per frame, the frame rate and the engine's resident memory;
// then the start-up of the real program to its first sent frame, and reference floors (one frame copy, one
// colour conversion).
//
//   build/bin/engine_bench [--frames N] [--only NAME] [data/sample.mp4]
//
// The sample is also scaled to 640 × 480 and 1920 × 1080 (once, into /tmp) to show how the cost grows
// with the source size. Run it on a quiet machine: every figure is wall or processor time. "mask" is the
// time the engine waits for the person mask after the face models (it runs beside them on a second
// core; alone, without a face, it is all of the mask's time).
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "engine/engine.h"
#include "platform/frame_section.h"
#include "platform/paths.h"
#include "platform/process_usage.h"
#include "vcam/pixel_formats.h"

namespace {

using namespace qm;

constexpr int kWarmUpFrames = 30;  // model and cache warm-up, left out of the figures

struct Configuration {
    const char* name;
    std::vector<std::string> arguments;
};

pid_t startCompanion(const std::string& section, const std::string& output) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 2);
        std::string path = executableDir() + "quillmere-vcam";
        execl(path.c_str(), path.c_str(), "--section", section.c_str(), "--output", output.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

// Processor time of an ended child in ms.
double childCpuMs(pid_t pid) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return 0;
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5))];
}

struct Samples {
    std::vector<double> read, track, mask, draw, send, total;
    double firstFrameMs = 0, lastFrameMs = 0;
    uint64_t residentBytes = 0;
    int frames = 0;
};

void printHeader() {
    std::printf("%-30s %-9s | %-11s %-11s %-11s %-11s %-11s %-11s | %5s %7s %7s %5s\n", "configuration",
                "source", "read", "track", "mask", "draw", "send", "total", "fps", "engine", "compan.", "MB");
    std::printf("%-30s %-9s | %-11s %-11s %-11s %-11s %-11s %-11s | %5s %7s %7s %5s\n", "", "", "median/p95",
                "median/p95", "median/p95", "median/p95", "median/p95", "median/p95", "", "cpu ms", "cpu ms",
                "RSS");
}

void runHere(const Configuration& configuration, const std::string& sample, const char* sizeName,
             int frames) {
    char folder[] = "/tmp/qmbench-XXXXXX";
    if (!mkdtemp(folder)) return;
    const std::string section = "/qmbench-" + std::to_string(getpid());
    setLogPath(std::string(folder) + "/log.txt");
    const pid_t companion = startCompanion(section, std::string(folder) + "/out.mp4");
    usleep(300000);

    std::vector<std::string> arguments = configuration.arguments;
    arguments.insert(arguments.end(), {"--file", sample, "--frames", std::to_string(frames)});
    LaunchOptions options = parseLaunchOptions(arguments);

    Samples samples;
    for (auto* list :
         {&samples.read, &samples.track, &samples.mask, &samples.draw, &samples.send, &samples.total})
        list->reserve(frames);
    SharedState shared;
    EngineSetup setup = programEngineSetup();
    setup.shared = &shared;
    setup.sectionName = section;
    setup.onFrameTimes = [&](const FrameStageTimes& t) {
        const int index = samples.frames++;
        if (index == kWarmUpFrames) samples.firstFrameMs = clockMs();
        if (index < kWarmUpFrames) return;
        samples.read.push_back(t.read);
        samples.track.push_back(t.track);
        samples.mask.push_back(t.mask);
        samples.draw.push_back(t.draw);
        samples.send.push_back(t.send);
        samples.total.push_back(t.track + t.mask + t.draw + t.send);
        samples.lastFrameMs = clockMs();
        if (index == frames - 1) samples.residentBytes = processResidentBytes();
    };
    uint64_t cpuBefore = 0, cpuAfter = 0;
    {
        Engine engine(setup);
        const Event* ended = engine.start(options);
        // The engine's processor time from its first measured frame on (start-up is reported apart).
        while (samples.frames < kWarmUpFrames && !ended->isSet())
            usleep(2000);
        cpuBefore = processCpu100ns();
        ended->wait();
        cpuAfter = processCpu100ns();
    }
    kill(companion, SIGTERM);
    const double companionMs = childCpuMs(companion);
    setLogPath("");
    std::system(("rm -rf " + std::string(folder)).c_str());

    const int measured = static_cast<int>(samples.total.size());
    if (measured < 2) {
        std::printf("%-30s %-9s | no frames drawn\n", configuration.name, sizeName);
        return;
    }
    auto cell = [](const std::vector<double>& v) {
        static char text[8][32];
        static int next = 0;
        char* out = text[next++ % 8];
        std::snprintf(out, 32, "%5.2f/%5.2f", percentile(v, 0.5), percentile(v, 0.95));
        return out;
    };
    const double fps = (measured - 1) * 1000.0 / std::max(samples.lastFrameMs - samples.firstFrameMs, 1.0);
    std::printf("%-30s %-9s | %s %s %s %s %s %s | %5.1f %7.1f %7.1f %5u\n", configuration.name, sizeName,
                cell(samples.read), cell(samples.track), cell(samples.mask), cell(samples.draw),
                cell(samples.send), cell(samples.total), fps, (cpuAfter - cpuBefore) / 1e4 / measured,
                companionMs / frames, static_cast<unsigned>(samples.residentBytes >> 20));
    std::fflush(stdout);
}

// Each configuration in a process of its own: its memory figure is its own, not what the ones before left
// in the heap.
void run(const Configuration& configuration, const std::string& sample, const char* sizeName, int frames) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        runHere(configuration, sample, sizeName, frames);
        std::fflush(stdout);
        _exit(0);
    }
    if (child > 0) waitpid(child, nullptr, 0);
}

// The sample scaled to another size, made once with the ffmpeg program.
std::string scaledSample(const std::string& sample, int width, int height) {
    const std::string path =
        "/tmp/qmbench-sample-" + std::to_string(width) + "x" + std::to_string(height) + ".mp4";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && info.st_size > 0) return path;
    const std::string command = "ffmpeg -v error -y -i '" + sample + "' -vf scale=" + std::to_string(width) +
                                ":" + std::to_string(height) + " -c:v libx264 -preset fast -crf 18 '" + path +
                                "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}

// Wall time from launching the real program to its first frame on disk (the dump of frame 0), through
// the same start-up as a user's run: settings, the companion, the models, the face picture.
double startUpMs(const std::string& sample) {
    char folder[] = "/tmp/qmbench-start-XXXXXX";
    if (!mkdtemp(folder)) return -1;
    const std::string dump = std::string(folder) + "/first.bmp";
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", folder, 1);
        setenv("XDG_STATE_HOME", folder, 1);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1), dup2(null, 2);
        const std::string program = executableDir() + "quillmere";
        const std::string record = std::string(folder) + "/out.mp4";
        execl(program.c_str(), program.c_str(), "--headless", "--file", sample.c_str(), "--frames", "30",
              "--dump", dump.c_str(), "--dump-at", "0", "--record", record.c_str(), nullptr);
        _exit(127);
    }
    double ms = -1;
    struct stat info {};
    for (int i = 0; i < 4000; ++i) {
        if (stat(dump.c_str(), &info) == 0 && info.st_size > 0) {
            ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
            break;
        }
        usleep(1000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::system(("rm -rf " + std::string(folder)).c_str());
    return ms;
}

template <typename Work>
double bestOfMs(int repetitions, Work work) {
    double best = 1e9;
    for (int i = 0; i < repetitions; ++i) {
        const double start = clockMs();
        work();
        best = std::min(best, clockMs() - start);
    }
    return best;
}

void printFloors() {
    std::vector<uint8_t> frame(kFrameBytes, 90), copy(kFrameBytes),
        nv12(pixelFormatBytes(PixelFormat::Nv12, kFrameWidth, kFrameHeight));
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    const double copyMs = bestOfMs(50, [&] { std::memcpy(copy.data(), frame.data(), frame.size()); });
    const double convertMs = bestOfMs(50, [&] {
        convertFromBgra(frame.data(), kFrameRowBytes, kFrameWidth, kFrameHeight, PixelFormat::Nv12,
                        nv12.data());
    });
    std::printf(
        "floors: one 1280 x 720 frame copy %.2f ms; BGRA -> NV12 %.2f ms; the models alone: "
        "build/bin/bench_tracking\n",
        copyMs, convertMs);
}

}  // namespace

int main(int argc, char** argv) {
    std::string sample = "data/sample.mp4", only;
    int frames = 300;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc)
            frames = std::max(kWarmUpFrames + 10, std::atoi(argv[++i]));
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else
            sample = a;
    }
    if (access(sample.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "engine_bench: cannot read %s (run scripts/bootstrap first)\n", sample.c_str());
        return 1;
    }
    std::string background = executableDir() + "astronaut.png";
    if (access(background.c_str(), R_OK) != 0) background = "data/astronaut.png";
    const std::vector<std::string> everything = {
        "--face",     "morvel",    "--hat",  "cowboy",       "--glasses", "aviator",
        "--beard",    "full",      "--look", "bold",         "--torso",   "suit",
        "--bodyless", "--visitor", "cat",    "--background", background};
    const std::vector<Configuration> configurations = {
        {"--plain", {"--plain"}},
        {"morvel", {"--face", "morvel"}},
        {"blur, no face", {"--face", "none", "--blur"}},
        {"background + morvel", {"--face", "morvel", "--background", background}},
        {"blur + morvel", {"--face", "morvel", "--blur"}},
        {"everything on", everything},
    };

    returnLargeBlocksWhenFreed();  // as the program does
    printHeader();
    for (const Configuration& c : configurations)
        if (only.empty() || only == c.name) run(c, sample, "1280x720", frames);
    if (only.empty()) {
        for (auto [w, h, name] : {std::tuple{640, 480, "640x480"}, std::tuple{1920, 1080, "1920x1080"}}) {
            const std::string scaled = scaledSample(sample, w, h);
            if (scaled.empty()) continue;
            run(configurations.front(), scaled, name, frames);
            run(configurations.back(), scaled, name, frames);
        }
        std::vector<double> starts;
        for (int i = 0; i < 3; ++i)
            starts.push_back(startUpMs(sample));
        std::printf("start-up to the first frame (the program, 3 runs): median %.0f ms, worst %.0f ms\n",
                    percentile(starts, 0.5), percentile(starts, 1.0));
    }
    printFloors();
    return 0;
}
