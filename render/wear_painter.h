// The wear painter: hair, hats, glasses and beards from the wear catalogue, worn on the user's real face and
// on the replacement face pictures (never on the kitten).
//
// Contract: the engine thread owns one WearPainter beside the frame composer. It loads the catalogue's
// pictures once (load), and the composer calls it once per frame: drawOnRealFace for face kind 0,
// drawOnPicture after a face picture was drawn, reset when the face is lost. It owns its pictures, its
// brushes, its smoothing filters, the bald cap's skin colour and the beard's jaw-warp bitmap; it draws on the
// cairo_t it is given and touches nothing else. Drawing allocates nothing but the cap's gradient, made again
// only when the sampled skin colour changes (at most every sixth frame); the jaw-warp bitmap is made when
// the beard changes.
//
// The composer's side, in short:
//   WearPainter wear;
//   wear.load(g.assetFolder, g.onHardware, morvelPicture);  // at start: "worn items: %d pictures"
//   per frame, no face:                 wear.reset();
//   face kind 0, wear.active(filters):  wear.drawOnRealFace(g, filters, face, landmarks, index, t, P);
//   face kinds 1, 2, 3, 5, 6:           wear.drawOnPicture(g, filters, drawnFace, P);
#pragma once

#include <cairo.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/frame_filters.h"
#include "render/cairo_handles.h"
#include "render/face_painter.h"
#include "render/graphics.h"
#include "render/one_euro_filter.h"
#include "render/pictures.h"
#include "render/replacement_faces.h"
#include "render/wear_geometry.h"
#include "tracking/face_types.h"

namespace qm {

// A frame's four slots (FrameFilters::wear).
using WearSlots = WornItem[kWearSlots];

// A loaded wear picture.
struct WornPicture {
    SurfacePtr bitmap;      // premultiplied ARGB32
    SurfacePtr reduced[2];  // half and quarter size (high quality only): drawn when nearer the size
    int width = 0, height = 0;
    float holeFraction = 0;       // hair
    std::vector<uint8_t> pixels;  // beards: premultiplied BGRA rows of width × 4 bytes, for the jaw warp
};

class WearPainter {
public:
    WearPainter();

    // Loads every catalogue picture from the folder (with a trailing '/'), logging "missing picture %s" for
    // each one that doesn't load and "worn items: %d pictures" at the end; returns the count. The morvel
    // picture is the reference hair is sized against. highQuality: pictures are drawn from the reduced
    // copy nearest their size; otherwise straight from the full picture, bilinear.
    int load(const std::string& assetFolder, bool highQuality, const FacePicture& reference);

    // Filters are on and at least one slot has an entry (the bald cap counts: it needs no picture).
    bool active(const FrameFilters& filters) const;
    // The face was lost: the own-face filters start again from the next face's raw measures.
    void reset();
    // The slot's picture, or null when the slot is empty, its entry has no file or the file didn't load.
    const WornPicture* pictureFor(const WearSlots& slots, int slot) const;

    // On a face picture just drawn (drawn.picture null: nothing), onto the canvas.
    void drawOnPicture(Graphics& g, const FrameFilters& filters, const DrawnFacePicture& drawn,
                       const cairo_matrix_t& placement);
    // On the user's own face, onto the canvas; the bald cap samples its skin colour from the source bitmap.
    // elapsed: seconds since the last frame with a face.
    void drawOnRealFace(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                        const LandmarkSet& landmarks, int frameIndex, double elapsed,
                        const cairo_matrix_t& placement);

    // What the last drawn wig and hat covered, in the face frame (for tests and tools).
    struct Drawn {
        bool wig = false, hat = false;
        float wigTop = 0, wigWidth = 0;
        float hatBottom = 0, hatWidth = 0;
        float beardRows = 0;  // rows of the beard picture drawn (its height, more when the jaw warp ran)
        float leftExtent = 1, rightExtent = 1;
    };
    const Drawn& lastDrawn() const { return drawn_; }

private:
    void drawItems(cairo_t* cr, const WearSlots& slots, const HeadFrame& head,
                   const cairo_matrix_t& faceToCanvas, bool realFace, const FaceGeometry* face);
    void drawPicture(cairo_t* cr, const WornPicture& picture, const Affine& pictureToFace,
                     const cairo_matrix_t& faceToCanvas);
    void drawBeard(cairo_t* cr, int entry, const WornPicture& picture, const HeadFrame& head, const Fit& fit,
                   const cairo_matrix_t& faceToCanvas, bool realFace, const FaceGeometry* face);
    void drawBaldCap(cairo_t* cr, const Fit& fit, const FaceGeometry& face, const HeadFrame& head,
                     Graphics& g, int frameIndex, const cairo_matrix_t& faceToCanvas);
    bool ensureScratch(cairo_t* cr);
    cairo_surface_t* warpedBeard(int entry, const WornPicture& picture, const JawWarp& warp, int* rows);

    std::map<std::string, WornPicture> pictures_;  // keyed by file name
    const WornPicture* byEntry_[32] = {};          // the catalogue's entries → their pictures
    ReferenceHead reference_;
    bool highQuality_ = true;

    PatternPtr edgeVignette72_, edgeVignette50_, whiteGlow_, verticalFadeIn_, sideFade_;

    // Own-face smoothing.
    OneEuroFilter yaw_, pitch_, leftExtent_, rightExtent_, eyeDistance_, mouthX_, mouthY_;

    // This frame's own-face measures.
    float frontalEye_ = 0, headWidthFactor_ = 1.22f, yawNow_ = 0;
    float mouthHole_[4] = {0, 0, 1, 1};  // the mouth's ellipse in the face frame: centre, radii

    // Bald cap skin colour.
    float skin_[3] = {0, 0, 0};
    bool skinKnown_ = false;
    int skinFrame_ = 0;
    PatternPtr capGradient_;
    float capColour_[3] = {-1, -1, -1};

    // Jaw warp: one bitmap for the current beard, rebuilt when the beard changes.
    int warpEntry_ = -1;
    SurfacePtr warpBitmap_;
    std::vector<float> warpWeights_;
    int warpRowsLast_ = 0;

    // A canvas-sized layer for the pieces drawn through masks (beard halves, bald cap), made once.
    SurfacePtr scratch_;
    ContextPtr scratchCr_;

    Drawn drawn_;
};

}  // namespace qm
