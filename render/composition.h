// Frame composition: draws one whole output frame into the canvas — the back layer (background picture,
// blur, captured or learned room, or the camera picture), visitors, the person through the person mask,
// the torso and head cut-out when the body is removed, and the face filter or wear items — all through
// the cover transform that makes the source fill the 1280 × 720 canvas.
//
// Contract: the engine thread owns one Composer beside its Graphics and calls composeFrame once per frame,
// after it has uploaded nothing itself: composeFrame copies the source frame and the person mask in. The
// composer keeps the face smoothing state between frames. The room flags are atomics shared with the
// window; everything else is engine-private. Afterwards the engine reads the canvas with readCanvas.
//
// The engine's side, in short:
//   Graphics graphics;                       // at start, on the engine thread
//   if (initialiseGraphics(graphics, {software, processorName}) != kOk) → "engine: graphics failed, stopping"
//   Composer composer(graphics);
//   createSourceBitmap(graphics, w, h);      // whenever the source size changes
//   per frame: composer.composeFrame({frame, stride, face or null, landmarks, mask or null, clockMs(),
//                                     frameIndex, {&captureRoomRequest, &forgetRoomRequest, &roomCaptured}},
//                                    {faceKind, faceFit, blur, removeBody, replaceBackground, &background})
//              → a failure: "engine: drawing failed"; then readCanvas(graphics, out).
// A Cairo error is sticky: once the canvas's context has failed, every later frame fails too, so the
// painters skip degenerate pieces rather than risk one.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/filter_types.h"
#include "base/status.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "render/person_layer.h"
#include "render/replacement_faces.h"
#include "tracking/face_types.h"

namespace qm {

// The engine's copies of the published filters that drawing uses (taken under filterLock each frame).
struct ComposeFilters {
    int faceKind = kFaceNone;  // 0 when filters are off or plain; 0 instead of 6 while the photo isn't ready
    Fit faceFit;
    float photoTilt = 0;  // radians, added to the roll for the photo face
    bool blur = false;
    bool removeBody = false;  // filters on, not plain, body-less or a torso, and the mask model loaded
    bool replaceBackground =
        false;  // filters on, not plain, a picture, blur or a visitor, and the mask model loaded
    const Picture* backgroundPicture = nullptr;  // the loaded background picture, owned by the engine
};

// The room requests and state shared with the window (the engine points these at the shared block).
struct RoomFlags {
    std::atomic<bool>* captureRoomRequest = nullptr;
    std::atomic<bool>* forgetRoomRequest = nullptr;
    std::atomic<bool>* roomCaptured = nullptr;
};

struct ComposeInput {
    const uint8_t* sourcePixels = nullptr;  // BGRA, the size of the source bitmap (createSourceBitmap)
    int sourceStride = 0;
    const FaceGeometry* face = nullptr;      // null when no face was found
    const LandmarkSet* landmarks = nullptr;  // with face
    // This frame's person mask (256 × 144 BGRA, rows of 1024 bytes), or null when the mask model isn't
    // loaded or failed. The engine runs the model only when removeBody or replaceBackground is set.
    const uint8_t* personMask = nullptr;
    double timeMs = 0;
    int frameIndex = 0;
    RoomFlags room;
};

class Composer {
public:
    explicit Composer(Graphics& graphics) : g_(graphics) {}

    // Draws the frame; returns the first failure (the source copy), after which the engine stops.
    HResult composeFrame(const ComposeInput& input, const ComposeFilters& filters);

    const FaceBaselines& baselines() const { return baselines_; }
    float headVelocityX() const { return headVelocityX_; }
    float headVelocityY() const { return headVelocityY_; }
    bool roomIsCaptured() const { return static_cast<bool>(capturedRoom_); }
    const GooglyState& googly() const { return googly_; }

private:
    void applyRoomRequests(const ComposeInput& input);
    void drawBackLayer(const ComposeFilters& filters, bool maskReady, bool bodyGone);
    void drawBackgroundPicture(const Picture& picture);
    void drawPerson();
    void drawFaceFilter(const ComposeInput& input, const ComposeFilters& filters, const SmoothedAnchors& s,
                        double elapsed, const cairo_matrix_t& placement);

    // Seams that later features fill in (composition_seams.cpp): each is called at its step and does nothing
    // yet.
    bool wearActive() const;
    void resetWearFilters();
    void updatePhotoLive(const FaceGeometry& face);
    bool photoLoaded() const;
    void drawPhotoFace(const FaceGeometry& face, float x, float y, float width, float angle,
                       const cairo_matrix_t& p);
    void drawWearOnRealFace(const FaceGeometry& face, double elapsed, const cairo_matrix_t& p);
    void drawWearOnPicture(const FacePicture& picture, const FacePicturePlacement& where, float x, float y,
                           float angle, const cairo_matrix_t& p);
    void drawVisitor();
    bool torsoChosen() const;
    void drawTorso(const FaceGeometry& face, const SmoothedAnchors& s, double timeMs, cairo_matrix_t* p);
    void drawHeadCutout(const SmoothedAnchors& s, const cairo_matrix_t& p);
    void updateLearnedRoom();
    cairo_surface_t* learnedRoom() const;

    Graphics& g_;
    FaceBaselines baselines_;
    AnchorFilters anchors_;
    double lastFaceTime_ = 0;
    bool hasPreviousCentre_ = false;
    float previousCentreX_ = 0, previousCentreY_ = 0;
    float headVelocityX_ = 0, headVelocityY_ = 0;
    GooglyState googly_;
    SurfacePtr capturedRoom_;
    PersonLayer personLayer_;

    // The background picture drawn once per source size onto a canvas-sized layer, then copied each frame.
    SurfacePtr backgroundLayer_;
    const cairo_surface_t* backgroundLayerPicture_ = nullptr;
    uint64_t backgroundLayerSerial_ = 0;
    int backgroundLayerWidth_ = 0, backgroundLayerHeight_ = 0;
};

}  // namespace qm
