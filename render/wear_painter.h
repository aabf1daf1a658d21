// The wear painter: hair, hats, glasses and beards from the wear catalogue, worn on the user's real face and
// on the replacement face pictures (never on the kitten).
//
// Contract: the engine thread owns one WearPainter beside the frame composer. It loads the catalogue's
// pictures once (load), and the composer calls it once per frame: drawOnRealFace for face kind 0,
// drawOnPicture after a face picture was drawn, reset when the face is lost. It owns its pictures, its
// pictures, its smoothing filters, the bald cap's skin colour and the beard's jaw-warp bitmap; it draws
// straight into the canvas pixels (our own affine blit, no Cairo groups or masks), reads the source bitmap
// for the cap's skin colour and touches nothing else. Drawing allocates nothing but the cap's gradient,
// made again only when the sampled skin colour moves (at most every sixth frame); the jaw-warp bitmap is
// made when the beard or its size changes.
//
// The composer's side, in short:
//   WearPainter wear;
//   wear.load(g.assetFolder, g.onHardware, morvelPicture);  // at start: "worn items: %d pictures"
//   per frame, no face:                 wear.reset();
//   face kind 0, wear.active(filters):  wear.drawOnRealFace(g, filters, face, landmarks, index, t, P);
//   face kinds 1, 2, 3, 5, 6:           wear.drawOnPicture(g, filters, drawnFace, P);
#pragma once

#include <cairo.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/frame_filters.h"
#include "render/affine_blit.h"
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

// One size of a wear picture, cropped to its opaque pixels (beards keep their whole rows and columns, for
// the jaw warp): its pixel (i, j) covers the picture's point ((i + x) · stepX, (j + y) · stepY).
struct WornLevel {
    SurfacePtr bitmap;           // premultiplied ARGB32; null when the picture has no opaque pixel
    std::vector<RowSpan> spans;  // one per bitmap row: what the blit may skip
    int x = 0, y = 0;
    double stepX = 1, stepY = 1;
};

// A loaded wear picture.
struct WornPicture {
    WornLevel levels[3];  // full, half and quarter size (the reduced ones in high quality only)
    int width = 0, height = 0;
    float holeFraction = 0;  // hair
};

class WearPainter {
public:
    WearPainter();

    // Checks every catalogue picture in the folder (with a trailing '/'), logging "missing picture %s" for
    // each one that doesn't read and "worn items: %d pictures" at the end; returns the count. The pictures
    // themselves are made when first worn (prepare, called by the draw functions). The morvel
    // picture is the reference hair is sized against. highQuality: pictures are drawn from the reduced
    // copy nearest their size; otherwise straight from the full picture, bilinear.
    int load(const std::string& assetFolder, bool highQuality, const FacePicture& reference);

    // Filters are on and at least one slot has an entry (the bald cap counts: it needs no picture).
    bool active(const FrameFilters& filters) const;
    // The face was lost: the own-face filters start again from the next face's raw measures.
    void reset();
    // Makes the pictures of the slots' items that are not made yet.
    void prepare(const WearSlots& slots);
    // The slot's picture, or null when the slot is empty, its entry has no file, the file didn't load or
    // the item was never prepared.
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
        bool cap = false;     // the bald cap was drawn
        float leftExtent = 1, rightExtent = 1;
    };
    const Drawn& lastDrawn() const { return drawn_; }
    // The file was found readable at load.
    bool found(const std::string& file) const;
    // The pictures made so far, keyed by file name.
    const std::map<std::string, WornPicture>& pictures() const { return pictures_; }

private:
    void drawItems(cairo_surface_t* canvas, const WearSlots& slots, const HeadFrame& head,
                   const cairo_matrix_t& faceToCanvas, bool realFace);
    // The size nearest the drawn one (always the full one in low quality).
    int levelFor(const WornPicture& picture, const cairo_matrix_t& pictureToCanvas) const;
    void drawPicture(cairo_surface_t* canvas, const WornPicture& picture, const Affine& pictureToFace,
                     const cairo_matrix_t& faceToCanvas);
    void drawBeard(cairo_surface_t* canvas, int entry, const WornPicture& picture, const HeadFrame& head,
                   const Fit& fit, const cairo_matrix_t& faceToCanvas, bool realFace);
    void drawBaldCap(cairo_surface_t* canvas, const Fit& fit, const FaceGeometry& face, const HeadFrame& head,
                     Graphics& g, int frameIndex, const cairo_matrix_t& faceToCanvas);
    bool paintCap();
    cairo_surface_t* warpedBeard(int entry, const WornPicture& picture, int level, const JawWarp& warp,
                                 int* rows);

    const WornPicture* makeWornPicture(int entry);

    std::string folder_;
    std::map<std::string, WornPicture> pictures_;  // keyed by file name
    const WornPicture* byEntry_[32] = {};          // the catalogue's entries → their pictures, once made
    bool found_[32] = {};                          // the entry's file read at load
    ReferenceHead reference_;
    bool highQuality_ = true;

    // Own-face smoothing.
    OneEuroFilter yaw_, pitch_, leftExtent_, rightExtent_, eyeDistance_, mouthX_, mouthY_;

    // This frame's own-face measures.
    float frontalEye_ = 0, headWidthFactor_ = 1.22f, yawNow_ = 0;
    float mouthHole_[4] = {0, 0, 1, 1};  // the mouth's ellipse in the face frame: centre, radii

    // Bald cap: the skin colour, and the cap's colours (its gradient and shine over the unit disc, in a
    // square bitmap) painted again only when that colour moves.
    float skin_[3] = {0, 0, 0};
    bool skinKnown_ = false;
    int skinFrame_ = 0;
    SurfacePtr capBitmap_;
    float capColour_[3] = {-1, -1, -1};

    // Jaw warp: one bitmap for the current beard and size, warped again when the opening or band moves by
    // half a pixel or more.
    int warpEntry_ = -1, warpLevel_ = -1;
    SurfacePtr warpBitmap_;
    std::vector<RowSpan> warpSpans_;
    std::vector<float> warpWeights_;
    int warpRowsLast_ = 0;
    JawWarp warpLast_;

    Drawn drawn_;
};

}  // namespace qm
