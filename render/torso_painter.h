// The animated torso: a sprite figure under the head in body-less mode that gestures while the user talks.
// The painter owns the chosen torso's description (extras/torso), its sheets and its animation state.
//
// Contract: engine thread only. choose() runs when the chosen torso changes (loading, with its log lines:
// "torso %s: no json", "torso %s: %d clips, %.0f x %.0f"); the composer calls draw once per frame with a
// face while the body is hidden, after which the placement it passed in carries any full-length fit.
#pragma once

#include <string>
#include <vector>

#include "base/frame_filters.h"
#include "extras/torso.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "render/pictures.h"
#include "render/sprite_cells.h"
#include "tracking/face_types.h"

namespace qm {

// Torso files longer than this are refused as unreadable: real ones are a few hundred bytes.
constexpr size_t kLongestTorsoFile = 1 << 20;

// What the torso is drawn under this frame.
struct TorsoFace {
    bool kitten = false;  // the kitten face is drawn
    float kittenWidth = 0, kittenHeight = 0;
};

class TorsoPainter {
public:
    // Loads the named torso ("" for none) from the asset folder; false when none could be installed.
    bool choose(const std::string& assetFolder, const std::string& name);
    bool loaded() const { return installed_; }
    const std::string& chosen() const { return name_; }
    const TorsoDef& description() const { return def_; }
    // Releases the sheets (at engine shutdown).
    void release();

    // Advances the gestures with this face and draws the torso under the head; moves the placement so a
    // full-length figure fits the frame.
    void draw(Graphics& g, const FrameFilters& filters, const TorsoFace& kind, const FaceGeometry& face,
              const SmoothedAnchors& s, double timeMs, cairo_matrix_t* placement);

    // The clip drawn last (for tests), or "" when none.
    const std::string& lastClip() const;

private:
    std::string name_;
    bool installed_ = false;
    TorsoDef def_;
    // Each clip's frames cut out of its sheet, drawn with the affine blitter from their place in the cell.
    std::vector<std::vector<SpriteCell>> cells_;
    TorsoAnimator animator_;
    int lastClip_ = -1;
};

}  // namespace qm
