#include "tracking/face_detector.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {
constexpr int kBoxValues = 16;
}

void fillDetectorInput(const SourcePicture& picture, const Letterbox& box, float* input) {
    constexpr int kPlane = kDetectorSide * kDetectorSide;
    for (int y = 0; y < kDetectorSide; ++y) {
        for (int x = 0; x < kDetectorSide; ++x) {
            const Point2 at = letterboxSamplePoint(box, x, y);
            const Rgb rgb = sampleBilinear(picture, at.x, at.y);
            const int i = y * kDetectorSide + x;
            input[i] = rgb.r * kHalfByteScale - 1;
            input[kPlane + i] = rgb.g * kHalfByteScale - 1;
            input[2 * kPlane + i] = rgb.b * kHalfByteScale - 1;
        }
    }
}

bool decodeBestFace(const float* boxes, const float* logits, const DetectorAnchors& anchors,
                    const Letterbox& box, DetectedFace& face) {
    int best = -1;
    float bestScore = 0.5f;
    for (int i = 0; i < kDetectorAnchorCount; ++i) {
        const float score = logistic(logits[i]);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (best < 0) return false;

    const float* row = boxes + best * kBoxValues;
    const Point2 anchor = {anchors[best].x * kDetectorSide, anchors[best].y * kDetectorSide};
    const Point2 centre = letterboxToSource(box, {anchor.x + row[0], anchor.y + row[1]});
    const float s = box.scale;
    FaceRegion found;
    found.centreX = centre.x;
    found.centreY = centre.y;
    found.size = std::max(row[2] * s, row[3] * s) * 1.5f;
    found.angle = std::atan2(s * (row[7] - row[5]), s * (row[6] - row[4]));
    // A model that returns NaN or a collapsed box has not found a face the mesh could read.
    if (!std::isfinite(found.centreX) || !std::isfinite(found.centreY) || !std::isfinite(found.size) ||
        !std::isfinite(found.angle) || !(found.size > 0))
        return false;
    face.region = found;
    face.eyes[0] = letterboxToSource(box, {anchor.x + row[4], anchor.y + row[5]});
    face.eyes[1] = letterboxToSource(box, {anchor.x + row[6], anchor.y + row[7]});
    face.score = bestScore;
    return true;
}

bool detectFace(FaceTracker& tracker, const SourcePicture& picture, FaceRegion& region) {
    ++tracker.detectorRuns;
    if (!picture.pixels || picture.width <= 0 || picture.height <= 0) return false;
    const Letterbox box = letterboxFor(picture.width, picture.height, kDetectorSide);
    fillDetectorInput(picture, box, tracker.detectorInput.data());

    static constexpr int64_t shape[] = {1, 3, kDetectorSide, kDetectorSide};
    static constexpr const char* outputNames[] = {"out0", "out1"};
    static constexpr size_t expected[] = {kDetectorAnchorCount * kBoxValues, kDetectorAnchorCount};
    ModelOutputs outputs;
    runModel(tracker.detectorSession.get(), "face_detector.onnx",
             {"image", tracker.detectorInput.data(), tracker.detectorInput.size(), shape, 4}, outputNames,
             expected, 2, outputs);
    if (!decodeBestFace(outputs.data[0], outputs.data[1], tracker.detectorAnchors, box, tracker.detection))
        return false;
    region = tracker.detection.region;
    return true;
}

}  // namespace qm
