// The window's per-frame work: taking a preview frame from the shared block, and one whole paint of a
// 1200 × 740 window after a new frame, at display scale 1 and 2 (Cairo and Pango on an image surface, as
// on screen).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <string>

#include "settings/shared_state.h"
#include "ui/cairo_painter.h"
#include "ui/panel.h"
#include "ui/window_paint.h"

namespace {

void takeFrame(benchmark::State& run) {
    qm::SharedState shared;
    shared.previewBuffer.assign(1280 * 720 * 4, 90);
    std::vector<uint8_t> copy;
    for (auto _ : run) {
        shared.previewReady = true;
        benchmark::DoNotOptimize(qm::takePreviewFrame(shared, copy));
    }
}
BENCHMARK(takeFrame)->Unit(benchmark::kMicrosecond);

void paintWindow(benchmark::State& run) {
    const int scale = static_cast<int>(run.range(0));
    const bool cardOpen = run.range(1) != 0;  // the card adds a wrapped note and a border
    qm::FilterState state;
    qm::SettingsLists lists;
    qm::SharedState shared;
    qm::SettingsPaths paths;  // no settings file: nothing is saved
    qm::PanelHost host;
    qm::Panel panel{state, lists, shared, paths, host, {}};
    panel.ui.hasPreviewFrame = run.range(2) != 0;
    panel.ui.cardOpen = cardOpen;
    state.tab = static_cast<int>(run.range(3));
    if (state.tab == 4)  // the Scenes tab with eight scenes (their snapshots not loaded)
        for (int i = 1; i <= 8; ++i) {
            lists.scenes.push_back("s" + std::to_string(i));
            lists.sceneNames.push_back("Scene " + std::to_string(i));
        }
    qm::EngineView engine{qm::kStatusRunning, "sample.mp4", 11.5f, false};

    // Every paint of a live preview follows a new frame: the frame copy is part of the measure.
    std::vector<uint8_t> frame(1280 * 720 * 4);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    qm::PreviewPicture preview(1280, 720);
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200 * scale, 740 * scale);
    qm::FontSet fonts;
    for (auto _ : run) {
        preview.setFrame(frame.data());
        cairo_t* cr = cairo_create(target);
        cairo_scale(cr, scale, scale);
        {
            qm::CairoPainter painter(cr, fonts, &preview, nullptr);
            qm::paintWindow(painter, panel, 1200, 740, engine);
        }
        cairo_destroy(cr);
        cairo_surface_flush(target);
    }
    cairo_surface_destroy(target);
}
// Arguments: display scale, card open, preview frame shown, tab.
BENCHMARK(paintWindow)
    ->Args({1, 0, 1, 0})
    ->Args({1, 1, 1, 0})
    ->Args({1, 0, 0, 0})
    ->Args({2, 0, 1, 0})
    ->Args({2, 0, 0, 0})
    ->Args({1, 0, 1, 4})
    ->Args({1, 0, 0, 4})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
