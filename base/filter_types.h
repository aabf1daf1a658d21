// The small value types of the filter state, shared by the command line, the settings file, the engine
// and the window.
#pragma once

namespace qm {

// Which replacement face is drawn.
enum FaceKind : int {
    kFaceNone = 0,
    kFaceMorvel = 1,
    kFaceOrange = 2,
    kFaceBanana = 3,
    kFaceKitten = 4,
    kFaceGoogly = 5,
    kFaceCustom = 6
};

// Which touch-up look is applied.
enum Look : int { kLookNone = 0, kLookNatural = 1, kLookGlam = 2, kLookBold = 3 };

// Placement adjustment of a face, visitor, torso or wear item; neutral is {1, 0, 0, 0}. For a wear item
// `fourth` is its rotation in radians; the other placements use only scale, x and y.
struct Fit {
    float scale = 1;
    float x = 0;
    float y = 0;
    float fourth = 0;
    bool operator==(const Fit&) const = default;
};

// The per-photo adjustment of a custom face.
struct PhotoFit {
    float x = 0;
    float y = 0;
    float tilt = 0;  // degrees
    float exposure = 0;
    float warmth = 0;
    float neck = 0;
    bool photoEyes = true;
    bool photoMouth = true;
    bool operator==(const PhotoFit&) const = default;
};

// Wear slots in their fixed order.
enum WearSlot : int { kWearHair = 0, kWearHat = 1, kWearGlasses = 2, kWearBeard = 3 };
constexpr int kWearSlots = 4;
constexpr const char* kWearSlotNames[kWearSlots] = {"hair", "hat", "glasses", "beard"};

}  // namespace qm
