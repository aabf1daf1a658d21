// What the engine loop asks of tracking and drawing: one call per step of the loop. The engine creates
// both on its own thread (models and drawing resources belong to that thread) and is their only caller.
#pragma once

#include <cstdint>
#include <memory>

#include "base/frame_filters.h"
#include "base/status.h"
#include "render/composition.h"
#include "render/face_photo.h"
#include "tracking/face_types.h"
#include "tracking/model_error.h"

namespace qm {

// A source frame in BGRA, rows packed. Tracking may change the pixels (touch-up looks).
struct SourceFrame {
    uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The read-back canvas: 1280 × 720 BGRA rows `pitch` bytes apart, valid until the next frame is drawn.
struct CanvasView {
    const uint8_t* pixels = nullptr;
    long pitch = 0;
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
    // Loads what the filters newly name (background picture, torso, visitor) and says what this frame
    // needs.
    virtual FramePlan prepare(const FrameFilters& filters, bool maskModelLoaded) = 0;
    // A newly prepared face photo, or null for none.
    virtual void setFacePhoto(std::unique_ptr<FacePhoto> photo) = 0;
    virtual void restartVisitor() = 0;
    // Composes the frame onto the canvas; false on a drawing failure.
    virtual bool compose(const FrameInput& input, const FrameFilters& filters) = 0;
    // Whether an empty room is captured (for the window).
    virtual bool roomCaptured() const = 0;
    // The finished canvas, valid until the next frame is drawn.
    virtual HResult readback(CanvasView* view) = 0;
};

}  // namespace qm
