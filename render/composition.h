// Frame composition: draws one whole output frame into the canvas — the back layer (background picture,
// blur, captured or learned room, or the camera picture), a visitor, the person through the person mask,
// the torso and head cut-out when the body is removed, and the face filter with the wear items — all
// through the cover transform that makes the source fill the 1280 × 720 canvas. Each feature is a painter
// of its own; the composer owns them, keeps the face smoothing state between frames and calls each at its
// step.
//
// Contract: the engine thread owns one Composer beside its Graphics. After initialiseGraphics it calls load
// once; then, per frame, prepare (which starts loading the pictures, torso and visitor the filters newly
// name beside the loop and takes the loads that have ended), plan (what this frame needs: the face, the
// person mask) and composeFrame, which copies the source frame and the person mask in. Afterwards the
// engine reads the canvas (readCanvas).
//
//   Graphics graphics;                       // at start, on the engine thread
//   initialiseGraphics(graphics, {software, processorName}); Composer composer(graphics); composer.load();
//   createSourceBitmap(graphics, w, h);      // whenever the source size changes
//   per frame: composer.prepare(filters); FramePlan plan = composer.plan(filters, maskModelLoaded);
//              composer.composeFrame({frame, stride, face or null, landmarks, mask or null, clockMs(),
//                                     frameIndex, room requests}, filters)
//              → a failure: "engine: drawing failed".
// A Cairo error is sticky: once the canvas's context has failed, every later frame fails too, so the
// painters skip degenerate pieces rather than risk one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/frame_filters.h"
#include "base/row_helper.h"
#include "base/status.h"
#include "render/face_painter.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "render/person_layer.h"
#include "render/photo_face.h"
#include "render/pictures.h"
#include "render/room_layer.h"
#include "render/side_load.h"
#include "render/torso_painter.h"
#include "render/visitor_painter.h"
#include "render/wear_painter.h"
#include "tracking/face_types.h"

namespace qm {

// What one frame needs, decided from the filters and what is loaded, before any tracking.
struct FramePlan {
    int faceKind = kFaceNone;  // the face to draw: none while filters are off, none for a photo not ready
    bool wear = false;         // a wear item is chosen
    bool removeBody = false;   // body-less or a torso, with the mask model loaded
    bool replaceBackground = false;  // a picture, blur or a visitor, with the mask model loaded
    bool needsFace(int look) const { return faceKind != kFaceNone || wear || removeBody || look != 0; }
    bool needsMask() const { return removeBody || replaceBackground; }
};

// Lets drawing begin before the frame's pixels are final: the touch-up look may still be retouching them
// on another thread. Composition calls wait once, before its first look at the camera picture.
class PixelsGate {
public:
    virtual void wait() = 0;

protected:
    ~PixelsGate() = default;
};

struct FrameInput {
    const uint8_t* sourcePixels = nullptr;  // BGRA, the size of the source bitmap (createSourceBitmap)
    int sourceStride = 0;
    const FaceGeometry* face = nullptr;      // null when no face was found
    const LandmarkSet* landmarks = nullptr;  // with face
    // This frame's person mask (256 × 144 BGRA, rows of 1024 bytes), or null when the plan needs none or
    // the mask model isn't loaded or failed.
    const uint8_t* personMask = nullptr;
    double timeMs = 0;
    int frameIndex = 0;
    RoomRequests room;
    PixelsGate* pixelsGate = nullptr;  // null: the pixels are final already
    // Shares the large blits' rows once nothing else runs beside the drawing (past the gate). Optional.
    RowHelper* rowHelper = nullptr;
};

class Composer {
public:
    explicit Composer(Graphics& graphics) : g_(graphics) {}

    // Loads every painter's pictures and brushes from the graphics' asset folder; the first failure is
    // returned (a missing face picture fails; missing wear pictures are only logged).
    HResult load();

    // Starts loading a newly named background picture ("background: cannot read %s" for a picture that
    // fails), torso or visitor beside the loop; each shows from the first frame prepared after its load
    // ended, and a background picture in use stays until then.
    void prepare(const FrameFilters& filters);
    // Blocks until the loads under way have ended and takes them (tests, benchmarks).
    void waitForLoads() {
        if (std::unique_ptr<Picture> picture; backgroundLoad_.wait(&picture))
            installBackground(std::move(picture));
        torso_.waitUntilLoaded();
        visitor_.waitUntilLoaded();
    }
    FramePlan plan(const FrameFilters& filters, bool maskModelLoaded) const;

    // Draws the frame; returns the first failure (the source copy), after which the engine stops.
    HResult composeFrame(const FrameInput& input, const FrameFilters& filters);

    // The engine hands each prepared face photo to drawing (null: none).
    void setFacePhoto(std::unique_ptr<FacePhoto> photo) { photoFace_.setPhoto(std::move(photo)); }
    void restartVisitor() { visitor_.restart(); }
    void releaseTorso() { torso_.release(); }

    const FaceBaselines& baselines() const { return baselines_; }
    float headVelocityX() const { return headVelocityX_; }
    float headVelocityY() const { return headVelocityY_; }
    bool roomIsCaptured() const { return room_.captured(); }
    const GooglyState& googly() const { return faces_.googly(); }
    const FacePainter& faces() const { return faces_; }
    const WearPainter& wear() const { return wear_; }

private:
    HResult takePixels(const FrameInput& input);
    bool hasBackground() const { return background_.bitmap != nullptr; }
    bool backIsPicture(bool maskReady) const { return maskReady && hasBackground(); }
    void drawBackLayer(const FrameFilters& filters, bool maskReady, bool bodyGone);
    void installBackground(std::unique_ptr<Picture> picture);
    void drawBackgroundPicture(const Picture& picture);
    void drawPerson();
    void drawFaceFilter(const FrameInput& input, const FrameFilters& filters, const FramePlan& plan,
                        const SmoothedAnchors& s, double elapsed, const cairo_matrix_t& placement);

    Graphics& g_;
    FacePainter faces_;
    WearPainter wear_;
    PhotoFace photoFace_;
    TorsoPainter torso_;
    VisitorPainter visitor_;
    RoomLayer room_;
    PersonLayer personLayer_;

    FaceBaselines baselines_;
    AnchorFilters anchors_;
    double lastFaceTime_ = 0;
    bool hasPreviousCentre_ = false;
    float previousCentreX_ = 0, previousCentreY_ = 0;
    float headVelocityX_ = 0, headVelocityY_ = 0;
    bool pixelsTaken_ = false;  // this frame's camera picture is in the source bitmap

    // The chosen background picture, and its crop drawn once per source size onto a canvas-sized layer,
    // then copied each frame.
    std::string backgroundPath_;
    int backgroundVersion_ = 0;
    Picture background_;
    SideLoad<Picture> backgroundLoad_;
    SurfacePtr backgroundLayer_;
    const cairo_surface_t* backgroundLayerPicture_ = nullptr;
    uint64_t backgroundLayerSerial_ = 0;
    int backgroundLayerWidth_ = 0, backgroundLayerHeight_ = 0;
};

}  // namespace qm
