// Per-inference cost of the face detector, the face mesh and the person mask (input filling included),
// single-threaded and with the runtime's default thread count, on data/astronaut.png enlarged twice on
// a 1280 × 720 frame (a face of about 190 × 260 pixels, as a webcam at arm's length gives). Each repetition
// is one inference; the median and the 95th percentile are reported. The models must sit beside the program.
// Run: build/bin/bench_tracking
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "tracking/face_detector.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"
#include "tracking/tools/picture_file.h"

namespace {

using namespace qm;

constexpr int kRepetitions = 150;

struct Scene {
    PictureBuffer frame;
};

// A 1280 × 720 frame with the enlarged astronaut (nearest pixels), its top-left corner at (200, -80).
const Scene& scene() {
    static Scene s = [] {
        Scene made;
        PictureBuffer astronaut;
        std::string error;
        if (!readPictureFile(std::string(QM_SOURCE_DIR) + "/data/astronaut.png", astronaut, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        made.frame.width = 1280;
        made.frame.height = 720;
        made.frame.pixels.assign(1280 * 720 * 4, 40);
        for (int y = 0; y < 720; ++y)
            for (int x = 200; x < 1280; ++x) {
                const int sx = (x - 200) / 2, sy = (y + 80) / 2;
                if (sx >= astronaut.width || sy >= astronaut.height) continue;
                std::copy_n(&astronaut.pixels[(static_cast<size_t>(sy) * astronaut.width + sx) * 4], 4,
                            &made.frame.pixels[(static_cast<size_t>(y) * 1280 + x) * 4]);
            }
        return made;
    }();
    return s;
}

// One loaded tracker per thread setting (0 = the runtime's default).
FaceTracker& trackerFor(int threads) {
    static std::map<int, std::unique_ptr<FaceTracker>> trackers;
    auto& slot = trackers[threads];
    if (!slot) {
        slot = std::make_unique<FaceTracker>();
        loadModels(*slot, {true, threads, {}});
    }
    return *slot;
}

double percentile95(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1,
                           static_cast<size_t>(0.95 * static_cast<double>(sorted.size())))];
}

void BM_Detector(benchmark::State& state) {
    FaceTracker& tracker = trackerFor(static_cast<int>(state.range(0)));
    const SourcePicture frame = scene().frame.view();
    FaceRegion region;
    for (auto _ : state)
        benchmark::DoNotOptimize(detectFace(tracker, frame, region));
}

void BM_Mesh(benchmark::State& state) {
    FaceTracker& tracker = trackerFor(static_cast<int>(state.range(0)));
    const SourcePicture frame = scene().frame.view();
    FaceRegion region;
    if (!detectFace(tracker, frame, region)) {
        state.SkipWithError("no face in the benchmark frame");
        return;
    }
    trackFace(tracker, frame, region);
    region = regionFromLandmarks(tracker.landmarks);
    for (auto _ : state)
        benchmark::DoNotOptimize(trackFace(tracker, frame, region));
}

void BM_PersonMask(benchmark::State& state) {
    FaceTracker& tracker = trackerFor(static_cast<int>(state.range(0)));
    const SourcePicture frame = scene().frame.view();
    for (auto _ : state)
        benchmark::DoNotOptimize(segmentPerson(tracker, frame));
}

// The input filling alone (the tracker's own share of each inference): 0 detector, 1 mesh, 2 person mask.
void BM_FillInput(benchmark::State& state) {
    static FaceTracker tracker;
    const SourcePicture frame = scene().frame.view();
    const FaceRegion region{650, 170, 320, 0.06f};
    const Letterbox box = letterboxFor(frame.width, frame.height, kDetectorSide);
    for (auto _ : state) {
        switch (state.range(0)) {
            case 0:
                fillDetectorInput(frame, box, tracker.detectorInput.data());
                break;
            case 1:
                fillMeshInput(frame, region, tracker.meshInput.data());
                break;
            default:
                fillPersonMaskInput(frame, tracker.personMaskInput.data());
                break;
        }
        benchmark::ClobberMemory();
    }
}

void perInference(benchmark::internal::Benchmark* b) {
    b->ArgName("threads")
        ->Arg(1)
        ->Arg(0)
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true);
    b->ComputeStatistics("p95", percentile95)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Detector)->Apply(perInference);
BENCHMARK(BM_Mesh)->Apply(perInference);
BENCHMARK(BM_PersonMask)->Apply(perInference);
BENCHMARK(BM_FillInput)->ArgName("model")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
