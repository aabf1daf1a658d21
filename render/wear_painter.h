// Wear items: hair, hats, glasses and beards from the catalogue, worn on the real face or on a face picture
// (never on the kitten). The painter owns the items' pictures, loaded once at start, and their brushes.
//
// Contract: engine thread only; the composer calls it once per frame with a face, after the face filter.
#pragma once

#include <map>
#include <string>

#include "base/frame_filters.h"
#include "render/face_painter.h"
#include "render/graphics.h"
#include "render/pictures.h"
#include "tracking/face_types.h"

namespace qm {

// One loaded item picture.
struct WearPicture {
    Picture picture;  // hair and beards keep their pixels
    int width = 0;
    int height = 0;
};

class WearPainter {
public:
    // Loads every catalogue picture from the asset folder: "missing picture %s" for each one that is
    // missing, then "worn items: %d pictures". Returns the count.
    int load(const std::string& assetFolder, bool highQuality);

    // Something is chosen that this painter can draw.
    bool active(const FrameFilters& filters) const;
    // The face was lost: the own-face smoothing starts afresh.
    void reset() {}

    void drawOnPicture(Graphics& g, const FrameFilters& filters, const DrawnFacePicture& face,
                       const cairo_matrix_t& placement);
    void drawOnRealFace(Graphics& g, const FrameFilters& filters, const FaceGeometry& face,
                        const LandmarkSet& landmarks, int frameIndex, double elapsed,
                        const cairo_matrix_t& placement);

    const std::map<std::string, WearPicture>& pictures() const { return pictures_; }

private:
    std::map<std::string, WearPicture> pictures_;  // keyed by file name
    bool highQuality_ = true;
    PatternPtr edgeVignette72_, edgeVignette50_, whiteGlow_, verticalFadeIn_;
};

}  // namespace qm
