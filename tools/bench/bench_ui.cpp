// The window's per-frame work: taking a preview frame from the shared block, and one whole paint of a
// 1200 × 740 window after a new frame, at display scale 1 and 2 (Cairo and Pango on an image surface, as
// on screen). The Faces tab is painted whole: the built-in tiles with their pictures, four photos of the
// user's own in a temporary faces folder, a photo face worn (its fit sliders and feature rows) and a look.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "settings/shared_state.h"
#include "ui/cairo_painter.h"
#include "ui/panel.h"
#include "ui/thumbnail_cache.h"
#include "ui/window_paint.h"

namespace {

// A faces folder of `count` photo-sized pictures (a gradient, so they are not trivially compressed).
std::string makeFacesFolder(int count) {
    char pattern[] = "/tmp/bench-ui-XXXXXX";
    const std::string root = mkdtemp(pattern) ? std::string(pattern) + "/" : std::string();
    if (root.empty()) return root;
    std::filesystem::create_directories(root + "faces");
    cairo_surface_t* photo = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 900, 1200);
    cairo_t* cr = cairo_create(photo);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 900, 1200);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.8, 0.6, 0.5);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.2, 0.3, 0.4);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
    cairo_destroy(cr);
    for (int i = 1; i <= count; ++i)
        cairo_surface_write_to_png(photo, (root + "faces/photo " + std::to_string(i) + ".png").c_str());
    cairo_surface_destroy(photo);
    return root;
}

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
    qm::ThumbnailCache thumbnails;
    std::string facesRoot;
    if (state.tab == 0) {
        facesRoot = makeFacesFolder(4);
        paths.folder = facesRoot;
        paths.assetDir = qm::executableDir();
        for (int i = 1; i <= 4; ++i)
            lists.faceIds.push_back("photo " + std::to_string(i) + ".png");
        state.face = qm::kFaceCustom;
        state.faceId = lists.faceIds[1];
        state.look = qm::kLookNatural;
        thumbnails.rebuild(paths, lists, {});
    }
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
            qm::CairoPainter painter(cr, fonts, &preview, state.tab == 0 ? &thumbnails : nullptr);
            qm::paintWindow(painter, panel, 1200, 740, engine);
        }
        cairo_destroy(cr);
        cairo_surface_flush(target);
    }
    cairo_surface_destroy(target);
    if (!facesRoot.empty()) std::filesystem::remove_all(facesRoot);
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
