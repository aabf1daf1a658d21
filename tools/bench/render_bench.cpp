// Per-frame drawing costs: the blur alone, and whole composed frames for each back layer and face kind,
// at 1280 × 720 and 640 × 480 sources. Run from the program's folder (the pictures lie there).
#include <benchmark/benchmark.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "render/affine_blit.h"
#include "render/composition.h"
#include "render/effects.h"
#include "render/graphics.h"
#include "render/pictures.h"
#include "render/torso_painter.h"
#include "render/visitor_painter.h"
#include "tests/support/synthetic_face.h"

namespace {

using namespace qm;

Graphics& sharedGraphics() {
    static std::unique_ptr<Graphics> graphics = [] {
        auto g = std::make_unique<Graphics>();
        if (initialiseGraphics(*g, GraphicsOptions{}) != kOk) std::abort();
        return g;
    }();
    return *graphics;
}

std::vector<uint8_t> cameraFrame(int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(x * 7 + y), p[1] = static_cast<uint8_t>(y * 3),
            p[2] = static_cast<uint8_t>(x ^ y), p[3] = 255;
        }
    return frame;
}

std::vector<uint8_t> personMask() {
    std::vector<uint8_t> mask(kMaskBytes);
    for (int y = 0; y < kMaskHeight; ++y)
        for (int x = 0; x < kMaskWidth; ++x) {
            const float dx = (x - 128) / 60.0f, dy = (y - 100) / 80.0f;
            const float v = std::clamp(1.5f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f);
            std::memset(&mask[(y * kMaskWidth + x) * 4], static_cast<int>(v * 255), 4);
        }
    return mask;
}

// A face that wobbles, turns a little and talks, about a fifth of the frame wide.
FaceGeometry movingFace(int width, int height, int frame) {
    const float scale = width / 640.0f;
    return test::syntheticFace({width * 0.5f + std::sin(frame * 0.2f) * 10 * scale, height * 0.45f,
                                60 * scale, 0.1f * std::sin(frame * 0.1f),
                                0.15f + 0.15f * std::sin(frame * 0.3f), 0.28f});
}

enum Back { kCameraOnly, kPicture, kBlur };

RowHelper* gSharedRows = nullptr;  // set: the frames share their large loops' rows, as on two cores

void wearPhoto(Composer& composer);

void composeBench(benchmark::State& state, Back back, int faceKind, bool bodyless = false,
                  const char* torso = "", float exposure = 0) {
    Graphics& g = sharedGraphics();
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    createSourceBitmap(g, width, height);
    const std::vector<uint8_t> frame = cameraFrame(width, height), mask = personMask();
    // One composer for every benchmark: loading its pictures takes longer than many frames.
    static Composer* composerMade = nullptr;
    if (!composerMade) {
        composerMade = new Composer(g);
        composerMade->load();
    }
    Composer& composer = *composerMade;
    FrameFilters filters;
    filters.filtering = true;
    filters.faceKind = faceKind;
    filters.blur = back == kBlur;
    filters.backgroundPath = back == kPicture ? assetPath("orange.png") : std::string();
    filters.bodyless = bodyless;
    filters.torso = torso;
    filters.photo.exposure = exposure;
    if (faceKind == kFaceCustom) wearPhoto(composer);
    composer.prepare(filters);
    composer.waitForLoads();
    std::vector<uint8_t> out(kCanvasWidth * kCanvasHeight * 4);
    int index = 0;
    for (auto _ : state) {
        const FaceGeometry face = movingFace(width, height, index);
        FrameInput input;
        input.sourcePixels = frame.data();
        input.sourceStride = width * 4;
        input.personMask = mask.data();
        input.face = faceKind != kFaceNone || bodyless || *torso ? &face : nullptr;
        input.timeMs = 1000 + index * 33.3;
        input.frameIndex = index++;
        input.rowHelper = gSharedRows;
        composer.composeFrame(input, filters);
        cairo_surface_flush(g.canvas.get());
        benchmark::DoNotOptimize(cairo_image_surface_get_data(g.canvas.get()));
    }
}

// A 1024-pixel face photo with a face measured on it, as preparation would leave it (the morvel picture,
// with a synthetic face over its eyes and mouth), worn with its mouth, eyes and brows animated.
void wearPhoto(Composer& composer) {
    auto photo = std::make_unique<FacePhoto>();
    int w = 0, h = 0;
    if (!loadPhoto(assetPath("morvel.png"), &photo->pixels, &w, &h)) std::abort();
    photo->pixelWidth = w, photo->pixelHeight = h;
    photo->width = static_cast<float>(w), photo->height = static_cast<float>(h);
    const float d = 0.4f * w;
    photo->geometry = test::syntheticFace({0.5f * w, 0.5f * h, d, 0, 0, 0.3f});
    const FaceGeometry& g = photo->geometry;
    photo->faceFound = true;
    photo->mouthLeft = {g.mouthCentre.x - g.mouthWidth / 2, g.mouthCentre.y};
    photo->mouthRight = {g.mouthCentre.x + g.mouthWidth / 2, g.mouthCentre.y};
    for (int i = 0; i < 21; ++i) {
        const float a = static_cast<float>(M_PI) * i / 20;
        photo->jawPoints[i] = {g.faceCentre.x + 0.5f * g.faceWidth * std::cos(a),
                               g.faceCentre.y + 0.6f * g.faceWidth * std::sin(a)};
    }
    photo->anchors = photoAnchors(g, photo->width, photo->height);
    applyNeck(*photo, 0);
    composer.setFacePhoto(std::move(photo));
}

void BM_CameraOnly(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceNone);
}
void BM_BackgroundPicture(benchmark::State& s) {
    composeBench(s, kPicture, kFaceNone);
}
void BM_BackgroundBlur(benchmark::State& s) {
    composeBench(s, kBlur, kFaceNone);
}
void BM_FaceMorvel(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceMorvel);
}
void BM_FaceOrange(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceOrange);
}
void BM_FaceBanana(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceBanana);
}
void BM_FaceKitten(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceKitten);
}
void BM_FaceGoogly(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceGoogly);
}

// Body-less mode: the learned room behind, the head cut out over it; then with each torso under the head
// (and the morvel face over it, as on the sample). Their cost over BM_FaceMorvel is what hiding the body
// adds to the person mask.
void BM_Bodyless(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceNone, true);
}
void BM_BodylessMorvel(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceMorvel, true);
}
void BM_TorsoSuit(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceMorvel, true, "suit");
}
void BM_TorsoHoodie(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceMorvel, true, "hoodie");
}
void BM_TorsoAstronaut(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceMorvel, true, "astronaut");
}

// The same two, the affine blits one pixel at a time (the path processors without AVX2 take).
void BM_FaceMorvelOnePixelBlits(benchmark::State& s) {
    useVectorBlit(false);
    composeBench(s, kCameraOnly, kFaceMorvel);
    useVectorBlit(true);
}
void BM_TorsoSuitOnePixelBlits(benchmark::State& s) {
    useVectorBlit(false);
    composeBench(s, kCameraOnly, kFaceMorvel, true, "suit");
    useVectorBlit(true);
}

// Two of them with the large loops' rows shared with a second thread, as the engine draws on two cores.
void BM_FaceMorvelSharedRows(benchmark::State& s) {
    RowHelper helper;
    gSharedRows = &helper;
    composeBench(s, kCameraOnly, kFaceMorvel);
    gSharedRows = nullptr;
}
void BM_TorsoSuitSharedRows(benchmark::State& s) {
    RowHelper helper;
    gSharedRows = &helper;
    composeBench(s, kCameraOnly, kFaceMorvel, true, "suit");
    gSharedRows = nullptr;
}

#define SOURCES Args({1280, 720})->Args({640, 480})->Unit(benchmark::kMillisecond)
void BM_FacePhoto(benchmark::State& s) {
    composeBench(s, kCameraOnly, kFaceCustom, false, "", 0.3f);
}

BENCHMARK(BM_CameraOnly)->SOURCES;
BENCHMARK(BM_FacePhoto)->SOURCES;
BENCHMARK(BM_BackgroundPicture)->SOURCES;
BENCHMARK(BM_BackgroundBlur)->SOURCES;
BENCHMARK(BM_FaceMorvel)->SOURCES;
BENCHMARK(BM_FaceOrange)->SOURCES;
BENCHMARK(BM_FaceBanana)->SOURCES;
BENCHMARK(BM_FaceKitten)->SOURCES;
BENCHMARK(BM_FaceGoogly)->SOURCES;
BENCHMARK(BM_Bodyless)->SOURCES;
BENCHMARK(BM_BodylessMorvel)->SOURCES;
BENCHMARK(BM_TorsoSuit)->SOURCES;
BENCHMARK(BM_TorsoHoodie)->SOURCES;
BENCHMARK(BM_TorsoAstronaut)->SOURCES;
BENCHMARK(BM_FaceMorvelOnePixelBlits)->SOURCES;
BENCHMARK(BM_TorsoSuitOnePixelBlits)->SOURCES;
BENCHMARK(BM_FaceMorvelSharedRows)->SOURCES;
BENCHMARK(BM_TorsoSuitSharedRows)->SOURCES;

void BM_GaussianBlur(benchmark::State& state) {
    const int width = 1280, height = 720;
    std::vector<uint8_t> src = cameraFrame(width, height), dst(src.size());
    GaussianBlur blur;
    const float sigma = static_cast<float>(state.range(0));
    for (auto _ : state)
        blur.apply({src.data(), width, height, width * 4}, {dst.data(), width, height, width * 4}, sigma);
}
BENCHMARK(BM_GaussianBlur)->Arg(15)->Unit(benchmark::kMillisecond);

void BM_BackgroundBlurLayer(benchmark::State& state) {
    Graphics& g = sharedGraphics();
    createSourceBitmap(g, 1280, 720);
    BlurredLayer layer;
    for (auto _ : state)
        benchmark::DoNotOptimize(blurBitmap(g.source.get(), 1280 * 0.012f, layer));
}
BENCHMARK(BM_BackgroundBlurLayer)->Unit(benchmark::kMillisecond);

}  // namespace

// One visitor drawn alone on a 1280 × 720 canvas, averaged over the frames of its animation (the shadow and
// the sprite; the frames between appearances cost nothing).
void BM_Visitor(benchmark::State& state, const char* name, bool ghost) {
    Graphics& g = sharedGraphics();
    if (createSourceBitmap(g, 1280, 720) != kOk) std::abort();
    VisitorPainter painter;
    painter.choose(g.assetFolder, name);
    if (!painter.waitUntilLoaded()) {
        state.SkipWithError("visitor not loaded");
        return;
    }
    FrameFilters filters;
    filters.visitor = name;
    filters.ghost = ghost;
    filters.visitorEvery = 6;
    cairo_t* cr = g.cr.get();
    cairo_identity_matrix(cr);
    const double fps = 15;
    int frame = 0, drawn = 0;
    for (auto _ : state) {
        painter.draw(g, filters, frame * 1000 / fps);
        drawn += painter.lastPlacement().visible;
        frame = painter.lastPlacement().visible || frame == 0 ? frame + 1 : 0;
        if (frame == 0) painter.restart();
    }
    cairo_surface_flush(g.canvas.get());
    state.counters["in_view"] = benchmark::Counter(drawn, benchmark::Counter::kAvgIterations);
}
BENCHMARK_CAPTURE(BM_Visitor, cat, "cat", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Visitor, penguin, "penguin", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Visitor, giraffe, "giraffe", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Visitor, ghost, "ghost", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Visitor, balloon, "balloon", false)->Unit(benchmark::kMillisecond);

// Reading and cutting a visitor's sheet (done beside the engine loop).
void BM_VisitorLoad(benchmark::State& state, const char* name) {
    Graphics& g = sharedGraphics();
    for (auto _ : state)
        benchmark::DoNotOptimize(loadVisitor(g.assetFolder, name));
}
BENCHMARK_CAPTURE(BM_VisitorLoad, cat, "cat")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_VisitorLoad, giraffe, "giraffe")->Unit(benchmark::kMillisecond)->Iterations(3);

// Reading and cutting a torso's sheets (done beside the engine loop).
void BM_TorsoLoad(benchmark::State& state, const char* name) {
    Graphics& g = sharedGraphics();
    for (auto _ : state) {
        benchmark::DoNotOptimize(loadTorso(g.assetFolder, name));
    }
}
BENCHMARK_CAPTURE(BM_TorsoLoad, suit, "suit")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_TorsoLoad, astronaut, "astronaut")->Unit(benchmark::kMillisecond)->Iterations(3);

// Reading a background picture (done beside the engine loop): the shipped 1024 × 1024 picture and a
// phone photo's 4032 × 3024 JPEG of noisy detail.
void BM_BackgroundPictureLoad(benchmark::State& state, bool photo) {
    Graphics& g = sharedGraphics();
    std::string path = g.assetFolder + "orange.png";
    if (photo) {
        path = "/tmp/qm_bench_photo.jpg";
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4032, 3024);
        guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        uint32_t seed = 1;
        for (int y = 0; y < 3024; ++y)
            for (int x = 0; x < 4032 * 3; ++x) {
                seed = seed * 1664525u + 1013904223u;
                pixels[y * stride + x] = static_cast<guchar>((x / 3 + y) / 28 + (seed >> 28));
            }
        gdk_pixbuf_save(pixbuf, path.c_str(), "jpeg", nullptr, "quality", "90", nullptr);
        g_object_unref(pixbuf);
    }
    for (auto _ : state) {
        Picture picture;
        benchmark::DoNotOptimize(loadPicture(path, false, &picture));
    }
}
BENCHMARK_CAPTURE(BM_BackgroundPictureLoad, shipped, false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_BackgroundPictureLoad, photo, true)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
