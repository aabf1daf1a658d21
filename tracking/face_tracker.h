// FaceTracker: the engine's tracking state, created on the engine thread and used only there (and by the
// face-photo preparation on the same thread). It owns the runtime environment, the three model sessions,
// the detector anchors, every tensor buffer (allocated once, when the tracker is made) and the results
// the drawing side reads: the landmark set and the person mask.
//
// The engine calls loadModels once after the graphics device is ready, then per frame detectFace /
// trackFace / regionFromLandmarks (face_detector.h, face_mesh.h), computeGeometry (face_geometry.h) and
// segmentPerson (person_mask.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tracking/anchors.h"
#include "tracking/face_types.h"
#include "tracking/model_runtime.h"

namespace qm {

constexpr int kDetectorSide = 128;
constexpr int kMeshSide = 256;
constexpr int kPersonMaskWidth = 256;
constexpr int kPersonMaskHeight = 144;
constexpr int kPersonMaskValues = kPersonMaskWidth * kPersonMaskHeight;

// Copies the 256×144 grey mask picture (4 bytes per pixel, row pitch 1024 bytes) into the drawing
// layer's mask bitmap; returns whether the copy succeeded. Set by the drawing side; called on the
// engine thread from segmentPerson.
using PersonMaskUpload = std::function<bool(const uint8_t* pixels)>;

// The detector's chosen face in source pixels: the region for the mesh, the two eye keypoints its angle
// comes from, and the score.
struct DetectedFace {
    FaceRegion region;
    Point2 eyes[2];
    float score = 0;
};

struct FaceTracker {
    FaceTracker();
    FaceTracker(const FaceTracker&) = delete;
    FaceTracker& operator=(const FaceTracker&) = delete;

    RuntimeHandle<OrtEnv> environment;
    RuntimeHandle<OrtSession> detectorSession;
    RuntimeHandle<OrtSession> meshSession;
    RuntimeHandle<OrtSession> personMaskSession;  // may stay empty: person-mask features are then off

    int detectorRuns = 0;
    DetectorAnchors detectorAnchors{};
    DetectedFace detection;  // the detector's last face, for tools and tests

    std::vector<float> detectorInput;    // 3 planes of 128×128 (R, G, B)
    std::vector<float> meshInput;        // 3 planes of 256×256
    std::vector<float> personMaskInput;  // 144 rows × 256 columns × (R, G, B)

    LandmarkSet landmarks;

    std::vector<float> personMask;          // 256×144 person probabilities, as the model gave them
    std::vector<uint8_t> personMaskPixels;  // 256×144 pixels, all four bytes = the clamped probability
    PersonMaskUpload uploadPersonMask;      // empty: nothing to upload into
};

struct ModelSetup {
    bool useCpu = false;  // "--cpu"
    int threads = 0;      // "--threads"; 0 or less: automaticModelThreads
    std::string folder;   // where the model files are; empty means the program's folder
};

// The models' thread count when "--threads" sets none. The models are small (a few ms each) and run
// between the engine's drawing, the source's decoder, the companion and the call application itself:
// split over more threads, their short operators spend more on waking workers than they gain. On 2 cores
// one thread is the fastest for all three models; two sleeping workers are 15-50 % slower, and the
// runtime's own choice (spinning workers) 20-80 % slower while it keeps a second core busy.
constexpr int kAutomaticModelThreads = 1;

// Makes the environment and the sessions (replacing earlier ones) and builds the anchor table.
// Throws ModelError with the runtime's message when the environment, the options or the detector or mesh
// session cannot be made. A missing or broken "person_mask.onnx" is logged ("person mask model not
// loaded: %s") and leaves personMaskSession as it was.
//
// The GPU path (useCpu false) runs on the CUDA provider when the loaded runtime offers it, and otherwise
// on the CPU; the log line "face models loaded, running on %s (threads %d)" says which.
void loadModels(FaceTracker& tracker, const ModelSetup& setup);

}  // namespace qm
