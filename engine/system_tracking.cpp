#include "engine/system_tracking.h"

#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"

namespace qm {
namespace {

SourcePicture pictureOf(const SourceFrame& frame) {
    return packedPicture(frame.pixels, static_cast<int>(frame.width), static_cast<int>(frame.height));
}

}  // namespace

ModelFaceTracking::ModelFaceTracking(const LaunchOptions& options) {
    ModelSetup setup;
    setup.useCpu = options.cpu;
    setup.threads = options.threads;
    loadModels(tracker_, setup);
}

bool ModelFaceTracking::detectFace(const SourceFrame& frame, FaceRegion* region) {
    return qm::detectFace(tracker_, pictureOf(frame), *region);
}

float ModelFaceTracking::trackFace(const SourceFrame& frame, const FaceRegion& region,
                                   LandmarkSet* landmarks) {
    float confidence = qm::trackFace(tracker_, pictureOf(frame), region);
    *landmarks = tracker_.landmarks;
    return confidence;
}

FaceRegion ModelFaceTracking::regionFromLandmarks(const LandmarkSet& landmarks) {
    return qm::regionFromLandmarks(landmarks);
}

FaceGeometry ModelFaceTracking::computeGeometry(const LandmarkSet& landmarks) {
    return qm::computeGeometry(landmarks);
}

const uint8_t* ModelFaceTracking::segmentPerson(const SourceFrame& frame) {
    if (!qm::segmentPerson(tracker_, pictureOf(frame))) return nullptr;
    return tracker_.personMaskPixels.data();
}

void ModelFaceTracking::applyLook(SourceFrame& frame, const LandmarkSet& landmarks, const FaceGeometry& face,
                                  int look, bool masculine, float strength) {
    const LookPixels pixels{frame.pixels, static_cast<int>(frame.width), static_cast<int>(frame.height),
                            static_cast<int>(frame.width) * 4};
    qm::applyLook(lookBuffers_, pixels, landmarks, face, look, masculine, strength);
}

}  // namespace qm
