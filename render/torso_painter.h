// The animated torso: a sprite figure under the head in body-less mode that gestures while the user talks.
// The painter owns the chosen torso's description (extras/torso), its sheets and its animation state.
//
// Contract: engine thread only. choose() runs when the chosen torso changes: the file and its sheets are
// read and cut beside the loop (a torso's sheets take 0.4–1.3 s, which would freeze the picture), with the
// log lines "torso %s: no json", "torso %s: %d clips, %.0f x %.0f"; the finished load is taken by poll()
// on a later frame. The composer calls draw once per frame with a face while the body is hidden, after
// which the placement it passed in carries any full-length fit.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/frame_filters.h"
#include "extras/torso.h"
#include "render/face_smoothing.h"
#include "render/graphics.h"
#include "render/pictures.h"
#include "render/side_load.h"
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

// A torso read and its clips' frames cut out of their sheets, ready to draw.
struct LoadedTorso {
    TorsoDef def;
    std::vector<std::vector<SpriteCell>> cells;  // per clip kept, its frames
};

// Reads "torso_<name>.json" and its clips' sheets from the asset folder (with a trailing '/'), logging as
// above; null when the torso cannot be shown. Any thread.
std::unique_ptr<LoadedTorso> loadTorso(const std::string& assetFolder, const std::string& name);

class TorsoPainter {
public:
    ~TorsoPainter();

    // Drops the current torso and starts loading the named one ("" for none).
    void choose(const std::string& assetFolder, const std::string& name);
    // Takes a finished load; true while a torso is installed.
    bool poll();
    // Blocks until the load under way has ended (tests, benchmarks); returns loaded().
    bool waitUntilLoaded();
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
    void install(std::unique_ptr<LoadedTorso> torso);

    std::string name_;
    SideLoad<LoadedTorso> load_;
    bool installed_ = false;
    TorsoDef def_;
    // Each clip's frames cut out of its sheet, drawn with the affine blitter from their place in the cell.
    std::vector<std::vector<SpriteCell>> cells_;
    TorsoAnimator animator_;
    int lastClip_ = -1;
};

}  // namespace qm
