// The person mask: separates the person from the room at 256×144. Composition calls segmentPerson on
// the engine thread once per frame in which a body or background effect is on; the face-photo
// preparation calls it on a photo. Results stay in the tracker: personMask (the model's floats, for the
// room learning) and personMaskPixels (the grey picture), which uploadPersonMask copies into the
// drawing layer's mask bitmap.
//
// Model contract: input "input_1", float32 [1, 144, 256, 3] (rows, columns, R G B in 0..1, the frame
// stretched without bars); output "segment_back", 144×256 person probabilities.
#pragma once

#include "tracking/face_tracker.h"
#include "tracking/sample_bilinear.h"

namespace qm {

// False when there is no person-mask session (nothing else happens) or the bitmap copy fails; true
// otherwise. Throws ModelError when the runtime fails.
bool segmentPerson(FaceTracker& tracker, const SourcePicture& picture);

// The stretched input: 144 rows × 256 columns × (R, G, B) / 255.
void fillPersonMaskInput(const SourcePicture& picture, float* input);

// One pixel per value, all four bytes ⌊clamp(v, 0, 1) · 255⌋ (NaN reads 0).
void personMaskToPixels(const float* mask, uint8_t* pixels);

}  // namespace qm
