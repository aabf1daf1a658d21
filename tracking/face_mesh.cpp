#include "tracking/face_mesh.h"

#include <algorithm>
#include <cmath>

namespace qm {

void fillMeshInput(const SourcePicture& picture, const FaceRegion& region, float* input) {
    constexpr int kPlane = kMeshSide * kMeshSide;
    const RegionCrop crop = cropFor(region, kMeshSide);
    for (int y = 0; y < kMeshSide; ++y) {
        // The rotation folded into per-row terms: along a row only u changes.
        const float v = (static_cast<float>(y) + 0.5f - crop.half) * crop.scale;
        const float rowX = -v * crop.sinAngle + crop.centreX - 0.5f;
        const float rowY = v * crop.cosAngle + crop.centreY - 0.5f;
        float* r = input + y * kMeshSide;
        for (int x = 0; x < kMeshSide; ++x) {
            const float u = (static_cast<float>(x) + 0.5f - crop.half) * crop.scale;
            const Rgb rgb = sampleBilinear(picture, u * crop.cosAngle + rowX, u * crop.sinAngle + rowY);
            r[x] = rgb.r * kByteScale;
            r[kPlane + x] = rgb.g * kByteScale;
            r[2 * kPlane + x] = rgb.b * kByteScale;
        }
    }
}

void landmarksFromMesh(const float* points, const FaceRegion& region, LandmarkSet& landmarks) {
    const RegionCrop crop = cropFor(region, kMeshSide);
    for (int i = 0; i < kLandmarkCount; ++i) {
        const float* p = points + i * 3;
        landmarks.landmarks[i] = cropToSource(crop, {p[0], p[1]});
        landmarks.depths[i] = p[2] * crop.scale;
    }
    landmarks.region = region;
}

float trackFace(FaceTracker& tracker, const SourcePicture& picture, const FaceRegion& region) {
    fillMeshInput(picture, region, tracker.meshInput.data());

    static constexpr int64_t shape[] = {1, 3, kMeshSide, kMeshSide};
    static constexpr const char* outputNames[] = {"out0", "out1"};
    static constexpr size_t expected[] = {kLandmarkCount * 3, 1};
    ModelOutputs outputs;
    runModel(tracker.meshSession.get(), "face_mesh.onnx",
             {"image", tracker.meshInput.data(), tracker.meshInput.size(), shape, 4}, outputNames, expected,
             2, outputs);
    landmarksFromMesh(outputs.data[0], region, tracker.landmarks);
    // A NaN logit is no face: report 0 so the caller's "below 0.5" test drops the track.
    const float confidence = std::isnan(outputs.data[1][0]) ? 0.0f : logistic(outputs.data[1][0]);
    tracker.landmarks.tracking = confidence >= 0.5f;
    return confidence;
}

FaceRegion regionFromLandmarks(const LandmarkSet& set) {
    const Point2* l = set.landmarks;
    const float angle = std::atan2(l[263].y - l[33].y, l[263].x - l[33].x);
    const float c = std::cos(angle), s = std::sin(angle);
    float minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
    for (int i = 0; i < kLandmarkCount; ++i) {
        const float x = l[i].x * c + l[i].y * s;
        const float y = -l[i].x * s + l[i].y * c;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const float mx = (minX + maxX) / 2, my = (minY + maxY) / 2;
    FaceRegion region;
    region.centreX = mx * c - my * s;
    region.centreY = mx * s + my * c;
    region.size = 1.5f * std::max(maxX - minX, maxY - minY);
    region.angle = angle;
    return region;
}

}  // namespace qm
