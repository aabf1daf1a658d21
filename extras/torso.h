// The animated torso as a model without drawing: the torso file's description, the gesture state that
// reads the face (brows, smile, tilt, talking), the choice of clip and frame at each moment, and where
// a cell of the sprite sheets lands under the head. The torso painter (render/torso_painter) loads the
// sheets this description names and draws the chosen cell through placeTorso's transform.
//
// Contract: engine thread. parseTorso reads a file's text (any bytes: it never fails, never reads past
// the text); a TorsoAnimator is reset on every load and, per frame with a face, fed updateMood before
// frameAt. Nothing here allocates per frame: the mouth history is a fixed ring and clips are indices.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tracking/face_types.h"

namespace qm {

// A 2-D affine transform as x' = xx·x + xy·y + x0, y' = yx·x + yy·y + y0.
struct Affine2 {
    double xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;

    static Affine2 translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static Affine2 scaling(double s) { return {s, 0, 0, s, 0, 0}; }
    static Affine2 rotation(double radians);
    // This transform first, then `after`.
    Affine2 then(const Affine2& after) const;
    Point2 apply(double x, double y) const;
};

// A torso keeps at most this many clips (the later names of a longer list are ignored).
constexpr int kMostTorsoClips = 64;

struct TorsoClipDef {
    std::string name;
    int frames = 0;
    std::vector<bool> exits;  // frames + 1 bits: the frames at which a gesture may cut in
};

// A torso file: "torso_" + name + ".json" beside the program.
struct TorsoDef {
    std::string name;
    float frameW = 0, frameH = 0;  // one cell of the sheets, pixels
    int cols = 8;                  // cells per sheet row
    float fps = 15;
    float headX = 0, headY = 0, headW = 1;  // where the head sits in a cell, and how wide it is
    bool activity = false;                  // clips play one after another at random
    bool fullLength = false;                // a whole figure: composition keeps its feet in the frame
    bool hasEyes = false;                   // the figure's own eye points (x1, y1, x2, y2) in a cell
    float eyes[4] = {};
    std::vector<TorsoClipDef> clips;  // ordered by name; every clip has at least one frame
};

// Builds the description from a torso file's text. Clips with no frames are left out; the painter then
// drops the clips whose sheets do not load. Values that make no sense as sizes or rates (not finite,
// negative) are kept as read where the caller decides (frameW ≤ 0 means "not used") and otherwise
// brought back to the defaults, so nothing later divides by them.
TorsoDef parseTorso(std::string_view name, std::string_view json);

// Whether a described torso may be drawn: frameW and frameH positive and finite, at least one clip.
bool torsoUsable(const TorsoDef& def);

// The sheet a clip needs: enough cells for its frames at `cols` per row.
void sheetSizeNeeded(const TorsoDef& def, const TorsoClipDef& clip, double* width, double* height);

// The smoothed face measures the torso is placed from (source pixels, radians).
struct TorsoAnchors {
    float centreX = 0, centreY = 0;
    float eyeMidX = 0, eyeMidY = 0;
    float faceWidth = 0;
    float eyeDistance = 0;
    float roll = 0;
};

struct TorsoFit {
    float scale = 1, x = 0, y = 0;
};

// Cell pixels → source pixels. kittenFace: the kitten is drawn as the face (kittenWidth × kittenHeight is
// its picture's size); otherwise an ordinary head.
Affine2 placeTorso(const TorsoDef& def, bool kittenFace, float kittenWidth, float kittenHeight,
                   const TorsoAnchors& a, const TorsoFit& fit);

// A full-length figure shrinks about (face centre x, top of the head) so its feet stay above the lowest
// 3 % of the frame: the factor (0.2..1) and the point; 1 for a figure that fits.
struct FullLengthFit {
    double scale = 1;
    double x = 0, y = 0;
};
FullLengthFit fitFullLength(const TorsoDef& def, const Affine2& placement, const TorsoAnchors& a,
                            float sourceHeight);

// The cell to draw: a clip index into def.clips and its frame; clip −1 draws nothing.
struct TorsoFrame {
    int clip = -1;
    int frame = 0;
    int column = 0, row = 0;
};

// The gesture state of one loaded torso.
class TorsoAnimator {
public:
    // Resets everything for a newly loaded torso (def must outlive the animator's use of it).
    void reset(const TorsoDef* def, uint32_t seed = 1);

    // One frame's face at time t (seconds).
    void updateMood(const FaceGeometry& face, double t);
    // The gesture the face asks for now, or −1; remembers a talking gesture as the last one.
    int chooseGesture(double t);
    // Advances the clip choice to time t and returns the cell to draw.
    TorsoFrame frameAt(double t);

    int currentClip() const { return current_; }
    int clipIndex(std::string_view name) const;

private:
    bool available(int clip, double t) const;
    int random(int n);

    static constexpr int kMouthHistory = 256;
    const TorsoDef* def_ = nullptr;
    uint32_t random_ = 1;
    int current_ = -1;  // starts as "idle" (−1 when the torso has none)
    double start_ = -1;
    int lastGesture_ = -1;
    std::vector<double> lastStarted_;  // per clip; never started counts as −10 s
    double mouthTime_[kMouthHistory] = {};
    float mouthOpen_[kMouthHistory] = {};
    int mouthFirst_ = 0, mouthCount_ = 0;
    double browBaseline_ = -1, smileBaseline_ = -1;
    double raisedSince_ = -1, smileSince_ = -1, tiltSince_ = -1;
    int idle_ = -1, shrug_ = -1, celebrate_ = -1, explain_ = -1, count_ = -1, point_ = -1;
};

}  // namespace qm
