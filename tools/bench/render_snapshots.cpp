// Writes composed frames of every face kind over a still picture, for looking at the drawing by eye:
//   render_snapshots PICTURE OUTPUT_FOLDER
// The face measures are those of the astronaut picture in data/ (one face, eyes near (202, 101) and (247,
// 102)).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render/composition.h"
#include "render/pictures.h"
#include "tests/support/synthetic_face.h"

using namespace qm;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_snapshots PICTURE OUTPUT_FOLDER\n");
        return 2;
    }
    std::vector<uint8_t> photo;
    int width = 0, height = 0;
    if (!loadPhoto(argv[1], &photo, &width, &height)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    height = std::min(height, width * 9 / 16);  // the top rows, 16:9, so the face sits mid-frame
    Graphics g;
    if (initialiseGraphics(g, GraphicsOptions{}) != kOk || createSourceBitmap(g, width, height) != kOk)
        return 1;

    FaceGeometry face;
    face.leftEye = {202, 101};
    face.rightEye = {247, 102};
    face.leftBrow = {202, 90};
    face.rightBrow = {247, 91};
    face.mouthCentre = {223, 145};
    face.faceCentre = {225, 126};
    face.eyeWidth = 20;
    face.mouthWidth = 37;
    face.mouthHeight = 12;
    face.faceWidth = 102;
    face.roll = 0.02f;
    face.eyeOpen = 0.3f;

    struct Shot {
        const char* name;
        int kind;
        float mouthOpen, eyeOpen, roll;
    };
    const Shot shots[] = {{"morvel", kFaceMorvel, 0, 0.3f, 0.02f},
                          {"morvel_open", kFaceMorvel, 0.35f, 0.3f, 0.02f},
                          {"orange", kFaceOrange, 0.1f, 0.3f, -0.15f},
                          {"banana", kFaceBanana, 0.05f, 0.3f, 0.1f},
                          {"kitten", kFaceKitten, 0, 0.3f, 0.02f},
                          {"kitten_open", kFaceKitten, 0.3f, 0.3f, 0.02f},
                          {"kitten_blink", kFaceKitten, 0.12f, 0.15f, 0.02f},
                          {"googly", kFaceGoogly, 0.1f, 0.3f, 0.3f},
                          {"googly_blink", kFaceGoogly, 0.0f, 0.14f, 0.0f}};
    std::vector<uint8_t> canvas(kCanvasWidth * kCanvasHeight * 4);
    for (const Shot& shot : shots) {
        Composer composer(g);
        if (composer.load() != kOk) return 1;
        FrameFilters filters;
        filters.filtering = true;
        filters.faceKind = shot.kind;
        face.mouthOpen = shot.mouthOpen;
        face.roll = shot.roll;
        for (int frame = 0; frame < 30; ++frame) {
            // Eyes settle at their reference before the shot's own openness.
            face.eyeOpen = frame < 29 ? 0.3f : shot.eyeOpen;
            FrameInput input;
            input.sourcePixels = photo.data();
            input.sourceStride = width * 4;
            input.face = &face;
            input.timeMs = 1000 + frame * 33.3;
            composer.composeFrame(input, filters);
        }
        readCanvas(g, canvas.data());
        for (size_t i = 3; i < canvas.size(); i += 4)
            canvas[i] = 255;
        const std::string path = std::string(argv[2]) + "/" + shot.name + ".png";
        if (!savePng(path, canvas.data(), kCanvasWidth, kCanvasHeight))
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
    }

    // The room behind a person: a soft oval mask around head and shoulders, with the orange picture as the
    // background and then with blur.
    const std::vector<uint8_t> mask = test::headAndShouldersMask(width, height, 225, 120);
    for (int blur = 0; blur < 2; ++blur) {
        Composer composer(g);
        if (composer.load() != kOk) return 1;
        FrameFilters filters;
        filters.filtering = true;
        filters.blur = blur == 1;
        filters.backgroundPath = blur ? std::string() : assetPath("orange.png");
        composer.prepare(filters);
        composer.waitForLoads();
        FrameInput input;
        input.sourcePixels = photo.data();
        input.sourceStride = width * 4;
        input.personMask = mask.data();
        composer.composeFrame(input, filters);
        readCanvas(g, canvas.data());
        for (size_t i = 3; i < canvas.size(); i += 4)
            canvas[i] = 255;
        const std::string path = std::string(argv[2]) + (blur ? "/room_blur.png" : "/room_picture.png");
        if (!savePng(path, canvas.data(), kCanvasWidth, kCanvasHeight))
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
    }
    return 0;
}
