#include "render/face_painter.h"

#include <algorithm>
#include <cmath>

namespace qm {

HResult FacePainter::load(const std::string& assetFolder) {
    folder_ = assetFolder;
    std::fill(std::begin(unreadable_), std::end(unreadable_), false);
    return loadFaceArt(assetFolder, &art_, FaceArtLoading::OnFirstUse);
}

bool FacePainter::prepare(int faceKind) {
    int index = -1;
    switch (faceKind) {
        case kFaceMorvel:
        case kFaceGoogly:
            index = kMorvelPicture;
            break;
        case kFaceOrange:
        case kFaceBanana:
            index = faceKind - kFaceMorvel;
            break;
        case kFaceKitten:
            index = kFacePictureCount;
            break;
        default:
            return false;
    }
    if (unreadable_[index]) return false;
    const HResult hr = index == kFacePictureCount ? loadKittenArt(folder_, &art_)
                                                  : loadFacePictureArt(folder_, index, &art_);
    // The picture read at start and has gone or changed since: that face draws nothing from now on
    // (the failure was logged by the picture reader).
    if (hr != kOk) unreadable_[index] = true;
    return hr == kOk;
}

DrawnFacePicture FacePainter::draw(Graphics& g, int faceKind, const FaceGeometry& face,
                                   const SmoothedAnchors& s, const Fit& fit, const HeadMotion& motion,
                                   const cairo_matrix_t& placement) {
    DrawnFacePicture drawn;
    if (!prepare(faceKind)) return drawn;
    // The fit moves the face along its own axes, in face widths.
    const float w = s.faceWidth * fit.scale;
    const float ox = fit.x * w, oy = -fit.y * w;
    const float c = std::cos(s.roll), sn = std::sin(s.roll);
    const float offsetX = c * ox - sn * oy, offsetY = sn * ox + c * oy;
    switch (faceKind) {
        case kFaceMorvel:
        case kFaceOrange:
        case kFaceBanana:
        case kFaceGoogly: {
            const FacePicture& picture =
                art_.faces[faceKind == kFaceGoogly ? kMorvelPicture : faceKind - kFaceMorvel];
            GooglyDrive googly{&googly_, motion.velocityX, motion.velocityY, motion.eyeOpenReference};
            drawn.picture = &picture;
            drawn.x = s.centreX + offsetX;
            drawn.y = s.centreY + offsetY;
            drawn.angle = s.roll;
            drawn.where = drawFacePicture(g, art_, picture, face, drawn.x, drawn.y, w, s.roll, placement,
                                          faceKind == kFaceGoogly ? &googly : nullptr);
            break;
        }
        case kFaceKitten:
            drawKitten(g, art_, face, s.eyeMidX + offsetX, s.eyeMidY + offsetY, s.eyeDistance * fit.scale,
                       s.roll, placement, motion.eyeOpenReference);
            break;
        default:
            break;
    }
    return drawn;
}

}  // namespace qm
