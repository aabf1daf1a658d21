// Face photo preparation: turns a user's face photo into a FacePhoto for drawing, with the same tracker
// that follows the camera (person mask for the cut-out, detector and mesh for the face).
//
// The work is cut into stages of at most one model run each (detect, detect again unpadded, mesh, mesh
// again, cut-out), and the engine runs one stage per pass; decoding, encoding the cut-out and the pixel
// measures run on worker threads meanwhile. A photo never holds the live picture up for much more than one
// model run, and the face worn so far stays on until the new one is ready.
//
// Contract: engine thread only. The tracker's calls take the photo as their frame explicitly; the engine
// searches afresh for the camera's face after a stage that ran the mesh (restartsTracking).
#pragma once

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_seams.h"
#include "render/face_photo.h"

namespace qm {

class FacePhotoPreparation {
public:
    ~FacePhotoPreparation();  // waits for a cut-out still being written
    // Starts preparing the photo at `path`, dropping any preparation under way.
    void start(const std::string& path);
    bool busy() const { return stage_ != Stage::Idle; }
    const std::string& path() const { return path_; }
    // Runs the next stage. True when the preparation has ended: take() then gives the photo, or null when
    // the picture can't be read.
    bool step(FaceTracking& tracking);
    std::unique_ptr<FacePhoto> take() { return std::move(photo_); }

private:
    enum class Stage {
        Idle,
        Load,
        Loading,
        Detect,
        DetectUnpadded,
        Mesh,
        MeshAgain,
        CutOut,
        Measure,
        Finishing
    };
    struct Loaded {
        std::unique_ptr<FacePhoto> photo;  // null when the picture can't be read
        std::vector<uint8_t> padded;
        int paddedWidth = 0, paddedHeight = 0, offsetX = 0, offsetY = 0;
        bool needsCutOut = false;
    };
    static Loaded loadForPreparation(const std::string& path);
    static void finishMeasures(FacePhoto& photo);

    Stage stage_ = Stage::Idle;
    std::string path_;
    std::unique_ptr<FacePhoto> photo_;
    std::vector<uint8_t> padded_;
    int paddedWidth_ = 0, paddedHeight_ = 0, offsetX_ = 0, offsetY_ = 0;
    bool needsCutOut_ = false;
    FaceRegion region_;
    LandmarkSet landmarks_;
    // Decoding, encoding the cut-out and the pixel measures run beside the loop.
    std::future<Loaded> loading_;
    std::future<std::unique_ptr<FacePhoto>> finishing_;
    std::future<void> saving_;
};

// The whole preparation at once (tests, benchmarks): the prepared photo, or null when the picture can't be
// read.
std::unique_ptr<FacePhoto> prepareFacePhoto(const std::string& path, FaceTracking& tracking);

}  // namespace qm
