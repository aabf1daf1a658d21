#include "render/face_painter.h"

#include <cmath>

namespace qm {

DrawnFacePicture FacePainter::draw(Graphics& g, int faceKind, const FaceGeometry& face,
                                   const SmoothedAnchors& s, const Fit& fit, const HeadMotion& motion,
                                   const cairo_matrix_t& placement) {
    DrawnFacePicture drawn;
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
