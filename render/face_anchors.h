// The built-in replacement faces: where on each picture the user's face centre, eyes and mouth go, and
// the head box measured from the picture's alpha so that hats and hair can sit on it. Pure data and maths.
#pragma once

#include <cstdint>

namespace qm {

// Positions are fractions of the picture's width (x) or height (y).
struct FaceAnchors {
    float centreX, centreY;
    float leftEyeX, leftEyeY;
    float rightEyeX, rightEyeY;
    float mouthX, mouthY;
    float faceWidthFraction;  // part of the picture width that matches the user's face width
    float featureScale;       // enlargement of the pasted eyes and mouth
    float verticalScale;      // vertical scale relative to the horizontal one
    int topFromMorvel;        // measure the head top from the morvel's proportions, not the pixels
};

enum FacePictureIndex : int { kMorvelPicture = 0, kOrangePicture = 1, kBananaPicture = 2 };
constexpr int kFacePictureCount = 3;

constexpr FaceAnchors kFaceAnchors[kFacePictureCount] = {
    {0.5f, 0.5f, 0.3f, 0.38f, 0.7f, 0.38f, 0.5f, 0.64f, 0.571429f, 1.4f, 1.0f, 0},    // morvel
    {0.5f, 0.5f, 0.33f, 0.42f, 0.67f, 0.42f, 0.5f, 0.68f, 0.476191f, 1.4f, 1.0f, 0},  // orange
    {0.33f, 0.44f, 0.25f, 0.37f, 0.53f, 0.37f, 0.39f, 0.535f, 0.5f, 1.2f, 0.8f, 1},   // banana
};
constexpr const char* kFacePictureFiles[kFacePictureCount] = {"morvel.png", "orange.png", "banana.png"};

// The kitten picture's eye points as fractions of its size; their midpoint is its anchor.
constexpr float kKittenLeftEyeX = 0.365f, kKittenLeftEyeY = 0.63f;
constexpr float kKittenRightEyeX = 0.694f, kKittenRightEyeY = 0.625f;
constexpr const char* kKittenPictureFile = "kitten_face.png";

// Head box in picture pixels.
struct HeadBox {
    float foreheadX = 0;      // centre x of the head at forehead height
    float headTop = 0;        // y of the top of the head
    float foreheadWidth = 0;  // width of the head at forehead height
    float eyeLevelWidth = 0;  // width of the head at eye height
};

// Measures the head box from the alpha channel of premultiplied BGRA pixels (rows of width × 4 bytes);
// alpha above 128 counts as opaque. relativeTop (may be null) places the head top that many face units
// above the eyes instead of scanning for it.
HeadBox measureHeadBox(const uint8_t* pixels, int width, int height, const FaceAnchors& anchors,
                       const float* relativeTop);

// The morvel's head top above its eyes in face units (0 for a morvel of no width).
float relativeHeadTop(const HeadBox& morvelBox, const FaceAnchors& morvel, float morvelWidth,
                      float morvelHeight);

}  // namespace qm
