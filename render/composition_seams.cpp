// The composer's calls into features that arrive later (wear items, the photo face, the torso, visitors,
// the learned room and head cut-out). Each is called at its step of composeFrame; until its feature lands
// it does nothing and reports that nothing is active.
#include "render/composition.h"

namespace qm {

bool Composer::wearActive() const {
    return false;
}
void Composer::resetWearFilters() {}
void Composer::updatePhotoLive(const FaceGeometry&) {}
bool Composer::photoLoaded() const {
    return false;
}
void Composer::drawPhotoFace(const FaceGeometry&, float, float, float, float, const cairo_matrix_t&) {}
void Composer::drawWearOnRealFace(const FaceGeometry&, double, const cairo_matrix_t&) {}
void Composer::drawWearOnPicture(const FacePicture&, const FacePicturePlacement&, float, float, float,
                                 const cairo_matrix_t&) {}
void Composer::drawVisitor() {}
bool Composer::torsoChosen() const {
    return false;
}
void Composer::drawTorso(const FaceGeometry&, const SmoothedAnchors&, double, cairo_matrix_t*) {}
void Composer::drawHeadCutout(const SmoothedAnchors&, const cairo_matrix_t&) {}
void Composer::updateLearnedRoom() {}
cairo_surface_t* Composer::learnedRoom() const {
    return nullptr;
}

}  // namespace qm
