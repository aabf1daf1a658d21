// The wear items' drawing cost: all four slots on a real face (with the jaw warp running) and on the
// morvel, on a 1280 × 720 canvas. Run from the program's folder (the pictures lie there).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/wear_catalogue.h"
#include "render/pictures.h"
#include "render/wear_painter.h"

namespace {

using namespace qm;

struct Scene {
    FacePicture morvel;
    WearPainter painter;
    Graphics g;  // the canvas over a 1280 × 720 grey source: P is the identity
    cairo_matrix_t identity;
    explicit Scene(bool highQuality) {
        GraphicsOptions options;
        options.software = !highQuality;
        initialiseGraphics(g, options);
        createSourceBitmap(g, 1280, 720);
        const std::vector<uint8_t> frame(1280 * 720 * 4, 150);
        uploadSourceFrame(g, frame.data(), 1280 * 4);
        loadFacePicture(assetPath("morvel.png"), kFaceAnchors[kMorvelPicture], nullptr, &morvel);
        painter.load(assetPath(""), highQuality, morvel);
        cairo_matrix_init_identity(&identity);
    }
};

FrameFilters fourSlots(const char* hair, const char* hat, const char* glasses, const char* beard) {
    FrameFilters filters;
    filters.filtering = true;
    const char* ids[kWearSlots] = {hair, hat, glasses, beard};
    for (int slot = 0; slot < kWearSlots; ++slot) {
        filters.wear[slot].id = ids[slot];
        filters.wear[slot].entry = findWearEntry(slot, ids[slot]);
    }
    return filters;
}

void BM_WearRealFace(benchmark::State& state) {
    Scene scene(state.range(0) != 0);
    const FrameFilters wear = fourSlots("curls", "tophat", "aviator", "full");
    FaceGeometry face;
    LandmarkSet landmarks;
    int index = 0;
    for (auto _ : state) {
        // An eye distance of 120 pixels (a face filling a third of the frame), talking and turning a little.
        const float turn = 10 * std::sin(index * 0.1f);
        face.leftEye = {580, 300}, face.rightEye = {700, 300};
        face.faceCentre = {640, 380}, face.mouthCentre = {640, 420}, face.innerMouth = {640, 418};
        face.mouthWidth = 100, face.mouthHeight = 36, face.mouthOpen = 0.2f + 0.15f * std::sin(index * 0.3f);
        face.roll = 0.05f * std::sin(index * 0.07f);
        for (int i = 0; i < kLandmarkCount; ++i)
            landmarks.landmarks[i] = face.faceCentre;
        landmarks.landmarks[234] = {505, 330}, landmarks.landmarks[454] = {775, 330};
        landmarks.landmarks[10] = {640, 210}, landmarks.landmarks[152] = {640, 510};
        landmarks.landmarks[33] = {556, 300}, landmarks.landmarks[133] = {604, 300};
        landmarks.landmarks[362] = {676, 300}, landmarks.landmarks[263] = {724, 300};
        landmarks.landmarks[132] = {520, 400}, landmarks.landmarks[361] = {760, 400};
        landmarks.landmarks[13] = {640 + turn, 418};
        scene.painter.drawOnRealFace(scene.g, wear, face, landmarks, index, 1 / 30.0, scene.identity);
        ++index;
    }
}
BENCHMARK(BM_WearRealFace)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_WearBaldRealFace(benchmark::State& state) {
    Scene scene(true);
    const FrameFilters wear = fourSlots("bald", "crown", "round", "santa");
    FaceGeometry face;
    face.leftEye = {580, 300}, face.rightEye = {700, 300};
    face.faceCentre = {640, 380}, face.mouthCentre = {640, 420}, face.innerMouth = {640, 418};
    face.mouthWidth = 100, face.mouthHeight = 36, face.mouthOpen = 0.25f;
    LandmarkSet landmarks;
    for (int i = 0; i < kLandmarkCount; ++i)
        landmarks.landmarks[i] = face.faceCentre;
    landmarks.landmarks[234] = {505, 330}, landmarks.landmarks[454] = {775, 330};
    landmarks.landmarks[10] = {640, 210}, landmarks.landmarks[152] = {640, 510};
    landmarks.landmarks[132] = {520, 400}, landmarks.landmarks[361] = {760, 400};
    landmarks.landmarks[13] = {640, 418};
    int index = 0;
    for (auto _ : state)
        scene.painter.drawOnRealFace(scene.g, wear, face, landmarks, index++, 1 / 30.0, scene.identity);
}
BENCHMARK(BM_WearBaldRealFace)->Unit(benchmark::kMillisecond);

void BM_WearMorvel(benchmark::State& state) {
    Scene scene(true);
    const FrameFilters wear = fourSlots("curls", "tophat", "aviator", "full");
    // The morvel drawn 300 pixels wide, as on a face filling a third of the frame.
    const float h = 300 / scene.morvel.width;
    FacePicturePlacement where{};
    const float W = scene.morvel.width, H = scene.morvel.height;
    where.anchorX = 0.5f * W, where.anchorY = 0.5f * H, where.horizontalScale = h;
    where.leftEyeX = 0.3f * W, where.leftEyeY = 0.38f * H, where.rightEyeX = 0.7f * W,
    where.rightEyeY = 0.38f * H;
    where.mouthX = 0.5f * W, where.mouthY = 0.64f * H;
    DrawnFacePicture drawn;
    drawn.picture = &scene.morvel;
    drawn.x = 640, drawn.y = 400, drawn.angle = 0.05f;
    int index = 0;
    for (auto _ : state) {
        where.mouthDrop = 20 + 15 * std::sin(index++ * 0.3f);
        drawn.where = where;
        scene.painter.drawOnPicture(scene.g, wear, drawn, scene.identity);
    }
}
BENCHMARK(BM_WearMorvel)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
