#include "engine/face_photo_preparation.h"

namespace qm {

// Photos are not prepared yet: every photo reads as unreadable and the face stays off.
std::unique_ptr<FacePhoto> prepareFacePhoto(const std::string&, FaceTracking&) {
    return nullptr;
}

}  // namespace qm
