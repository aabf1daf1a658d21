// FacePhoto: a user's face photo prepared for wearing as a face. The engine prepares it (loading the picture
// upright, cutting it out with the person mask, finding and measuring its face with the camera's tracker)
// and hands the finished record to drawing, which owns it from then on.
#pragma once

#include <cstdint>
#include <vector>

#include "render/cairo_handles.h"
#include "render/face_anchors.h"
#include "tracking/face_types.h"

namespace qm {

struct Colour3 {
    float r = 0, g = 0, b = 0;
};

struct FacePhoto {
    HeadBox box;                  // measured like a built-in face picture's
    SurfacePtr bitmap;            // the trimmed photo (made by the neck step)
    float width = 0, height = 0;  // the photo's size
    FaceAnchors anchors{};        // as a built-in face picture's; topFromMorvel is always 0
    float jawY = -1;  // a quarter of the way from the chin up to the mouth, as a fraction of the height
    std::vector<uint8_t> pixels;         // premultiplied BGRA, cut out when it was cut out
    std::vector<uint8_t> trimmedPixels;  // pixels after the neck step
    uint32_t pixelWidth = 0, pixelHeight = 0;
    bool faceFound = false;
    FaceGeometry geometry;  // in photo pixels
    Point2 jawPoints[21];
    Point2 mouthLeft, mouthRight;
    float restEyeOpen = 0.3f;
    Colour3 skinColour;
    bool skinColourFound = false;
    float neck = 0;  // the neck value last applied
};

// Average colour of the two cheeks below the eyes (0.62 eye distances to the side and below the eye line),
// from BGRA pixels (premultiplied or straight). With preferBrighter, a cheek much brighter than the other
// (over 1.8 times) is taken alone, so a shadowed cheek does not darken the tone. False when neither cheek
// square lies inside the picture.
// The neck step: trims the photo below its jaw line (neck 0: just below it; 1: 0.3 face widths lower) into
// trimmedPixels and makes bitmap from them. A photo without a face is kept whole.
void applyNeck(FacePhoto& photo, float neck);

// The anchors of a face found in a photo of `width` × `height` pixels, in the built-in pictures' terms.
FaceAnchors photoAnchors(const FaceGeometry& face, float width, float height);

bool sampleSkinColour(bool premultiplied, const uint8_t* pixels, int width, int height, float leftEyeX,
                      float leftEyeY, float rightEyeX, float rightEyeY, bool preferBrighter, Colour3* colour);

}  // namespace qm
