// What the engine loop asks of tracking and drawing: one call per step of the loop. The engine creates
// both on its own thread (models and drawing resources belong to that thread) and is their only caller.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/status.h"
#include "settings/filter_types.h"
#include "tracking/face_types.h"

namespace qm {

// A source frame in BGRA, rows packed. Tracking may change the pixels (touch-up looks).
struct SourceFrame {
    uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The read-back canvas: 1280 × 720 BGRA rows `pitch` bytes apart, valid until endReadback.
struct CanvasView {
    const uint8_t* pixels = nullptr;
    long pitch = 0;
};

// The engine's per-frame copies of the published filters that drawing reads.
struct FrameFilters {
    std::string wearName[kWearSlots];
    int wearItem[kWearSlots] = {-1, -1, -1, -1};  // catalogue entry, -1 for none
    Fit wearFit[kWearSlots];
    bool hasWear = false;
    Fit faceFit, torsoFit, visitorFit;
    bool bodyless = false;
    std::string torsoName, visitorName;
    float visitorEvery = 15;
    bool ghost = false;
    double visitorRestartAt = 0;
    std::string backgroundPath, facePath;
    float tilt = 0, exposure = 0, warmth = 0, neck = 0;
    bool photoEyes = true, photoMouth = true;
    bool blur = false;
    int frameIndex = 0;
};

// What one frame's composition is asked to do.
struct DrawRequest {
    const FaceGeometry* face = nullptr;      // null: no face this frame
    const LandmarkSet* landmarks = nullptr;  // with face
    // This frame's person mask (256 × 144 BGRA, rows of 1024 bytes) when a body or background effect
    // needs it and the mask model gave one; null otherwise.
    const uint8_t* personMask = nullptr;
    int effectiveFace = 0;
    double timeMs = 0;
    bool removeBody = false;
    bool replaceBackground = false;
    const FrameFilters* filters = nullptr;
};

// Raised by the model runtime; the engine logs it as a face model error and stops.
struct FaceModelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class FaceTracking {
public:
    virtual ~FaceTracking() = default;
    virtual bool personMaskLoaded() const { return false; }
    virtual int detectorRuns() const { return 0; }
    // Finds a face to follow; false when there is none.
    virtual bool detectFace(const SourceFrame& frame, FaceRegion* region) = 0;
    // Runs the face mesh on the region; returns its confidence.
    virtual float trackFace(const SourceFrame& frame, const FaceRegion& region, LandmarkSet* landmarks) = 0;
    virtual FaceRegion regionFromLandmarks(const LandmarkSet& landmarks) = 0;
    virtual FaceGeometry computeGeometry(const LandmarkSet& landmarks) = 0;
    // Runs the person mask on the frame; the 256 × 144 mask pixels, or null when there is none.
    virtual const uint8_t* segmentPerson(const SourceFrame& frame) {
        (void)frame;
        return nullptr;
    }
    // Retouches the face in the frame's pixels (touch-up looks); called after computeGeometry.
    virtual void applyLook(SourceFrame& frame, const LandmarkSet& landmarks, const FaceGeometry& face,
                           int look, bool masculine, float strength) {
        (void)frame, (void)landmarks, (void)face, (void)look, (void)masculine, (void)strength;
    }
};

class FrameDrawing {
public:
    virtual ~FrameDrawing() = default;
    // The frame-size hook: resources that depend on the source size.
    virtual HResult frameSizeChanged(uint32_t width, uint32_t height) = 0;
    // Loads of changed assets; each answers whether it now has the asset.
    virtual int findWear(int slot, const std::string& name) {
        (void)slot, (void)name;
        return -1;
    }
    virtual void loadTorso(const std::string& name) { (void)name; }
    virtual bool torsoLoaded() const { return false; }
    virtual void loadVisitor(const std::string& name) { (void)name; }
    virtual bool visitorLoaded() const { return false; }
    virtual bool loadBackground(const std::string& path) { return path.empty(); }
    virtual bool backgroundLoaded() const { return false; }
    virtual bool prepareFacePhoto(const std::string& path) { return path.empty(); }
    virtual bool facePhotoReady() const { return false; }
    virtual void redoNeck(float neck) { (void)neck; }
    virtual void freeTorso() {}
    // Composes the frame onto the canvas; false on a drawing failure.
    virtual bool compose(const SourceFrame& frame, const DrawRequest& request) = 0;
    virtual HResult readback(CanvasView* view) = 0;
    virtual void endReadback() {}
};

}  // namespace qm
