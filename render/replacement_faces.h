// The replacement-face painters: a face picture carrying the user's own eyes and mouth (morvel, orange,
// banana), the googly-eyed morvel and the kitten. Composition calls one painter per frame with an anchor,
// a size and an angle already smoothed, and the placement transform P (source pixels → canvas).
//
// Contract: engine thread only; they draw on graphics.cr with the pictures and brushes of a FaceArt made
// once at start, and keep no state but the googly pupils, which their caller owns and passes in.
#pragma once

#include <cairo.h>

#include <string>

#include "render/graphics.h"
#include "render/pictures.h"
#include "tracking/face_types.h"

namespace qm {

// The replacement faces' own pictures and brushes, made once at start.
struct FaceArt {
    FacePicture faces[kFacePictureCount];
    Picture kitten;
    int kittenWidth = 0;
    int kittenHeight = 0;
    PatternPtr kittenBrush;
    SurfacePtr kittenCopies[3];  // full, half and quarter size: the one nearest the drawn size is drawn
    PatternPtr eyeball, eyeShadow, morvelSkin;  // googly eyes
    PatternPtr kittenMouth;  // the kitten's open mouth, dark at the top (linear (0, 0) → (0, 1))
};

enum class FaceArtLoading { Everything, OnFirstUse };

// Loads the three face pictures (morvel first: the banana measures its head top from the morvel's), makes
// the brushes, then loads the kitten and its reduced copies. A missing picture fails. OnFirstUse makes
// only the morvel and the brushes now and checks that the other pictures decode; loadFacePictureArt and
// loadKittenArt make them when a face first needs them (each about 20 MB with its shadow and copies).
HResult loadFaceArt(const std::string& assetFolder, FaceArt* art,
                    FaceArtLoading loading = FaceArtLoading::Everything);
// Face picture `index` (kMorvelPicture ...) and what it needs; a no-op once made.
HResult loadFacePictureArt(const std::string& assetFolder, int index, FaceArt* art);
HResult loadKittenArt(const std::string& assetFolder, FaceArt* art);

// The two googly pupils: offsets and velocities in eye radii. They rest at the bottom of the eye.
struct GooglyState {
    float x[2] = {0, 0};
    float y[2] = {0.42f, 0.42f};
    float vx[2] = {0, 0};
    float vy[2] = {0, 0};
    float previousVelocityX = 0, previousVelocityY = 0;
    bool reset = true;  // set at start and while no face is seen: the next frame applies no kick
};

// What the googly eyes need each frame: their state, the head velocity (source pixels per 1/30 s) and the
// eye-open reference for the blink.
struct GooglyDrive {
    GooglyState* state;
    float headVelocityX, headVelocityY;
    float eyeOpenReference;
};

constexpr float kPupilTravel = 0.42f;  // the farthest a pupil's centre gets from the eye's, in eye radii

// Blink amount shared by the googly eyes and the kitten: 0 open, 1 shut.
float blinkAmount(float eyeOpen, float eyeOpenReference);
// The kitten's mouth opening: 0 until mouthOpen 0.03, 1 from 0.25, smooth between.
float kittenMouthOpening(float mouthOpen);
// One step of the pupils' physics for eye radius r (in source pixels).
void stepPupils(GooglyState& state, float headVelocityX, float headVelocityY, float r);

// Where a face picture landed, for the wear items drawn on it.
struct FacePicturePlacement {
    cairo_matrix_t pictureTransform;  // T: picture pixels → source pixels
    float anchorX, anchorY;           // the picture's centre anchor in picture pixels
    float horizontalScale;            // h
    float leftEyeX, leftEyeY, rightEyeX, rightEyeY, mouthX, mouthY;  // destinations in picture pixels
    float mouthDrop;  // featureScale × inner-lip opening, source pixels
};

// Face kinds 1–3 (googly null) and 5 (the morvel with googly set).
FacePicturePlacement drawFacePicture(Graphics& g, const FaceArt& art, const FacePicture& picture,
                                     const FaceGeometry& face, float x, float y, float width, float angle,
                                     const cairo_matrix_t& placement, const GooglyDrive* googly);

// Face kind 4: anchored at the user's eye midpoint (x, y); d = smoothed eye distance × fit scale.
void drawKitten(Graphics& g, const FaceArt& art, const FaceGeometry& face, float x, float y, float d,
                float angle, const cairo_matrix_t& placement, float eyeOpenReference);

// Pastes the camera's pixels around source point (sx, sy) (an ellipse of radii rx, ry, upright in the
// face's frame) at picture point (qx, qy), turned by angle and scaled by k, through T then P.
void pasteFeature(Graphics& g, const FaceGeometry& face, float sx, float sy, float rx, float ry, float qx,
                  float qy, float angle, float k, const cairo_matrix_t& pictureTransform,
                  const cairo_matrix_t& placement);

}  // namespace qm
