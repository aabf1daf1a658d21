// The companion's per-frame work for each output format: the section copy and the conversion from the
// engine's BGRA frame (run from build/bin).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/frame_section.h"
#include "vcam/pixel_formats.h"

namespace {

std::vector<uint8_t> sampleFrame() {
    std::vector<uint8_t> bgra(qm::kFrameBytes);
    for (size_t i = 0; i < bgra.size(); ++i)
        bgra[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    return bgra;
}

void BM_Convert(benchmark::State& state) {
    const auto format = static_cast<qm::PixelFormat>(state.range(0));
    const std::vector<uint8_t> bgra = sampleFrame();
    std::vector<uint8_t> out(qm::pixelFormatBytes(format, qm::kFrameWidth, qm::kFrameHeight));
    for (auto _ : state) {
        qm::convertFromBgra(bgra.data(), qm::kFrameRowBytes, qm::kFrameWidth, qm::kFrameHeight, format,
                            out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Convert)->Arg(0)->Arg(1)->Arg(2)->ArgName("yuyv0_nv12_1_i420_2")->Unit(benchmark::kMillisecond);

void BM_SectionCopy(benchmark::State& state) {
    const std::vector<uint8_t> bgra = sampleFrame();
    std::vector<uint8_t> out(qm::kFrameBytes);
    for (auto _ : state) {
        std::memcpy(out.data(), bgra.data(), bgra.size());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_SectionCopy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
