#include "render/face_smoothing.h"

#include <cmath>
#include <initializer_list>

namespace qm {

void updateBaselines(FaceBaselines& b, const FaceGeometry& face) {
    // Eyes open wide quickly but the reference sinks slowly, so a blink doesn't lower it.
    const float eyeStep = face.eyeOpen > b.eyeOpenReference ? 0.2f : 0.005f;
    b.eyeOpenReference += (face.eyeOpen - b.eyeOpenReference) * eyeStep;
    b.gazeSlowX += (face.gazeX - b.gazeSlowX) * 0.03f;
    b.gazeSlowY += (face.gazeY - b.gazeSlowY) * 0.03f;
    b.gazeFastX += (face.gazeX - b.gazeFastX) * 0.45f;
    b.gazeFastY += (face.gazeY - b.gazeFastY) * 0.45f;
    // A raised brow (8 % above the baseline or more) doesn't drag the baseline up.
    if (b.browBaseline <= 0)
        b.browBaseline = face.browRaise;
    else if (b.browBaseline * 1.08f > face.browRaise)
        b.browBaseline += (face.browRaise - b.browBaseline) * 0.03f;
    if (face.mouthOpen < 0.06f) {
        if (b.closedMouthWidth <= 0)
            b.closedMouthWidth = face.mouthWidth;
        else
            b.closedMouthWidth += (face.mouthWidth - b.closedMouthWidth) * 0.05f;
    }
}

SmoothedAnchors AnchorFilters::filter(const FaceGeometry& face, double elapsed) {
    SmoothedAnchors s;
    s.centreX = static_cast<float>(centreX.filter(face.faceCentre.x, elapsed));
    s.centreY = static_cast<float>(centreY.filter(face.faceCentre.y, elapsed));
    s.eyeMidX = static_cast<float>(eyeMidX.filter((face.leftEye.x + face.rightEye.x) / 2, elapsed));
    s.eyeMidY = static_cast<float>(eyeMidY.filter((face.leftEye.y + face.rightEye.y) / 2, elapsed));
    s.faceWidth = static_cast<float>(faceWidth.filter(face.faceWidth, elapsed));
    s.eyeDistance = static_cast<float>(eyeDistance.filter(
        std::hypot(face.rightEye.x - face.leftEye.x, face.rightEye.y - face.leftEye.y), elapsed));
    s.roll = static_cast<float>(roll.filter(face.roll, elapsed));
    return s;
}

void AnchorFilters::reset() {
    for (OneEuroFilter* f : {&centreX, &centreY, &eyeMidX, &eyeMidY, &faceWidth, &eyeDistance, &roll})
        f->reset();
}

}  // namespace qm
