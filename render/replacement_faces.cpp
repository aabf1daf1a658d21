#include "render/replacement_faces.h"

namespace qm {

float blinkAmount(float, float) {
    return 0;
}
float kittenMouthOpening(float) {
    return 0;
}
void stepPupils(GooglyState&, float, float, float) {}
FacePicturePlacement drawFacePicture(Graphics&, const FacePicture&, const FaceGeometry&, float, float, float,
                                     float, const cairo_matrix_t&, const GooglyDrive*) {
    return {};
}
void drawKitten(Graphics&, const FaceGeometry&, float, float, float, float, const cairo_matrix_t&, float) {}
void pasteFeature(Graphics&, const FaceGeometry&, float, float, float, float, float, float, float, float,
                  const cairo_matrix_t&, const cairo_matrix_t&) {}

}  // namespace qm
