// Per-inference cost of the face detector, the face mesh and the person mask (input filling included),
// on one and on two threads (workers never spin), on data/astronaut.png enlarged twice on
// a 1280 × 720 frame (a face of about 190 × 260 pixels, as a webcam at arm's length gives). Each repetition
// is one inference; the median and the 95th percentile are reported. The models must sit beside the program.
//
// The touch-up looks run on frame 40 of data/sample.mp4 (1280 × 720, a face about 300 pixels wide,
// tracked by the same models), on this thread only; each repetition is one frame, with the frame put
// back between repetitions outside the timing. The "allocations" counter is the number of heap
// allocations per frame, which must be 0 once the look's buffers have their size.
// Run: build/bin/bench_tracking
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "tests/support/allocation_counter.h"
#include "tests/tracking/test_pictures.h"
#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"
#include "tracking/tools/picture_file.h"
#include "tracking/touch_up_look.h"

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

// One loaded tracker per thread setting (0 = chosen for this machine). Never destroyed: at exit the
// runtime may already be unloaded, and releasing its sessions then crashes.
FaceTracker& trackerFor(int threads) {
    static auto* trackers = new std::map<int, std::unique_ptr<FaceTracker>>;
    auto& slot = (*trackers)[threads];
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

struct LookScene {
    PictureBuffer frame;
    LandmarkSet landmarks;
    FaceGeometry face;
    bool found = false;
};

const LookScene& lookScene() {
    static LookScene s = [] {
        LookScene made;
        made.frame = test::dataVideoFrame("sample.mp4", 40);
        if (made.frame.pixels.empty()) return made;
        FaceTracker& tracker = trackerFor(1);
        const SourcePicture source = made.frame.view();
        FaceRegion region;
        if (!detectFace(tracker, source, region)) return made;
        trackFace(tracker, source, region);
        region = regionFromLandmarks(tracker.landmarks);
        made.found = trackFace(tracker, source, region) >= 0.5f;
        made.landmarks = tracker.landmarks;
        made.face = computeGeometry(made.landmarks);
        return made;
    }();
    return s;
}

// Arguments: the look (1 natural, 2 glam, 3 bold) and masculine (0 or 1).
void BM_Look(benchmark::State& state) {
    const LookScene& scene = lookScene();
    if (!scene.found) {
        state.SkipWithError("no face in frame 40 of data/sample.mp4");
        return;
    }
    const int look = static_cast<int>(state.range(0));
    const bool masculine = state.range(1) != 0;
    static LookBuffers buffers;
    PictureBuffer frame = scene.frame;
    const LookPixels pixels{frame.pixels.data(), frame.width, frame.height, frame.width * 4};
    const LookRegion roi = applyLook(buffers, pixels, scene.landmarks, scene.face, look, masculine, 1);
    long allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.pixels.data(), scene.frame.pixels.data(), frame.pixels.size());
        const long before = qm::test::allocationCount();
        state.ResumeTiming();
        applyLook(buffers, pixels, scene.landmarks, scene.face, look, masculine, 1);
        allocations += qm::test::allocationCount() - before;
    }
    state.counters["allocations"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["faceWidth"] = scene.face.faceWidth;
    state.counters["region"] = roi.width;
}

void perInference(benchmark::internal::Benchmark* b) {
    b->ArgName("threads")
        ->Arg(1)
        ->Arg(2)
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true);
    b->ComputeStatistics("p95", percentile95)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Detector)->Apply(perInference);
BENCHMARK(BM_Mesh)->Apply(perInference);
BENCHMARK(BM_PersonMask)->Apply(perInference);
BENCHMARK(BM_Look)
    ->ArgNames({"look", "masculine"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({3, 1})
    ->Repetitions(10)
    ->ReportAggregatesOnly(true)
    // The fastest repetition too: on a shared machine it is the figure least disturbed by others.
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillInput)->ArgName("model")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
