// The two mappings between a source picture and a model's square input: the detector's letterbox
// (whole frame, aspect kept, bars) and the face mesh's rotated crop of a FaceRegion. Pure maths, any
// thread; the detector and the mesh fill their inputs and map their outputs back with these.
#pragma once

#include <algorithm>
#include <cmath>

#include "tracking/face_types.h"

namespace qm {

// Source pixels per input pixel and the bar widths, in input pixels.
struct Letterbox {
    float scale = 1;
    float padX = 0;
    float padY = 0;
};

inline Letterbox letterboxFor(int width, int height, int side) {
    Letterbox box;
    box.scale = static_cast<float>(std::max(width, height)) / static_cast<float>(side);
    box.padX = (static_cast<float>(side) - static_cast<float>(width) / box.scale) / 2;
    box.padY = (static_cast<float>(side) - static_cast<float>(height) / box.scale) / 2;
    return box;
}

// A point in input pixels (model output coordinates) to source pixels.
inline Point2 letterboxToSource(const Letterbox& box, Point2 input) {
    return {(input.x - box.padX) * box.scale, (input.y - box.padY) * box.scale};
}

// Where the centre of input pixel (x, y) reads the source (the sampler's pixel-centre convention).
inline Point2 letterboxSamplePoint(const Letterbox& box, int x, int y) {
    return {(static_cast<float>(x) + 0.5f - box.padX) * box.scale - 0.5f,
            (static_cast<float>(y) + 0.5f - box.padY) * box.scale - 0.5f};
}

// The rotated square of a FaceRegion as seen by a side × side input.
struct RegionCrop {
    float cosAngle = 1;
    float sinAngle = 0;
    float scale = 1;  // source pixels per input pixel
    float centreX = 0;
    float centreY = 0;
    float half = 0;  // side / 2
};

inline RegionCrop cropFor(const FaceRegion& region, int side) {
    return {std::cos(region.angle), std::sin(region.angle), region.size / static_cast<float>(side),
            region.centreX,         region.centreY,         static_cast<float>(side) / 2};
}

// A point in input pixels to source pixels (turned by the region's angle about its centre).
inline Point2 cropToSource(const RegionCrop& crop, Point2 input) {
    const float px = (input.x - crop.half) * crop.scale;
    const float py = (input.y - crop.half) * crop.scale;
    return {px * crop.cosAngle - py * crop.sinAngle + crop.centreX,
            px * crop.sinAngle + py * crop.cosAngle + crop.centreY};
}

// Where the centre of input pixel (x, y) reads the source.
inline Point2 cropSamplePoint(const RegionCrop& crop, int x, int y) {
    const float u = (static_cast<float>(x) + 0.5f - crop.half) * crop.scale;
    const float v = (static_cast<float>(y) + 0.5f - crop.half) * crop.scale;
    return {u * crop.cosAngle - v * crop.sinAngle + crop.centreX - 0.5f,
            u * crop.sinAngle + v * crop.cosAngle + crop.centreY - 0.5f};
}

}  // namespace qm
