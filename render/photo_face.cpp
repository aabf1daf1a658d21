#include "render/photo_face.h"

#include "base/failure.h"

namespace qm {

HResult PhotoFace::load() {
    softEllipse45_ = makeSoftEllipse(0.45);
    softEllipse55_ = makeSoftEllipse(0.55);
    softEllipse70_ = makeSoftEllipse(0.7);
    softEllipse80_ = makeSoftEllipse(0.8);
    mouthCavity_ = makeRadialBrush({{0, 0.3, 0.07, 0.08, 1}, {1, 0.09, 0.02, 0.03, 1}});
    lips_ =
        makeRadialBrush({{0, 0.62, 0.26, 0.27, 1}, {0.88, 0.44, 0.14, 0.15, 1}, {1, 0.42, 0.12, 0.13, 0}});
    mouthRimShade_ =
        makeRadialBrush({{0, 0.05, 0.01, 0.01, 0}, {0.6, 0.05, 0.01, 0.01, 0}, {1, 0.05, 0.01, 0.01, 0.8}});
    teeth_ = makeRadialBrush({{0, 0.9, 0.87, 0.8, 1}, {1, 0.45, 0.38, 0.34, 1}});
    darkDot_ =
        makeRadialBrush({{0, 0.18, 0.13, 0.12, 1}, {0.4, 0.18, 0.13, 0.12, 1}, {1, 0.18, 0.13, 0.12, 0}});
    whiteFadeIn_ = makeLinearBrush(0, 0, 0, 1, {whiteStop(0, 0), whiteStop(1, 1)});
    blackFadeOut_ = makeLinearBrush(0, 0, 0, 1, {blackStop(0, 0.3), blackStop(1, 0)});
    for (auto* p : {&softEllipse45_, &softEllipse55_, &softEllipse70_, &softEllipse80_, &mouthCavity_, &lips_,
                    &mouthRimShade_, &teeth_, &darkDot_, &whiteFadeIn_, &blackFadeOut_})
        if (HResult hr = checkPattern(p->get()); hr != kOk) return reportFailure("Engine", __LINE__, hr);
    return kOk;
}

// The photo is animated and drawn once photos can be prepared.
void PhotoFace::updateLive(const FaceGeometry&) {}
DrawnFacePicture PhotoFace::draw(Graphics&, const FrameFilters&, const FaceGeometry&, const SmoothedAnchors&,
                                 const cairo_matrix_t&) {
    return {};
}

}  // namespace qm
