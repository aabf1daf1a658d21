// The small records of the window's drawn controls: rectangles in DIPs, the clickable regions and the
// sliders that each paint rebuilds, the kinds of control, and the panel's colours.
//
// Everything here is plain data with no drawing-library type, so the layout and the click logic are
// tested without a display.
#pragma once

#include <cstdint>

namespace qm {

// A rectangle in DIPs (device-independent pixels, 96 per inch): left and top inclusive, right and
// bottom exclusive when hit-tested.
struct Rect {
    float left = 0, top = 0, right = 0, bottom = 0;
    float width() const { return right - left; }
    float height() const { return bottom - top; }
    bool contains(float x, float y) const { return x >= left && y >= top && x < right && y < bottom; }
    bool operator==(const Rect&) const = default;
};

// What a clickable region is; the region's index says which one of its kind.
enum HitKind : int {
    kHitNothing = 0,
    kHitFiltersSwitch = 1,
    kHitCameraChip = 2,
    kHitVirtualCameraButton = 3,
    kHitTab = 4,
    kHitWearSlotChip = 5,
    kHitFaceTile = 6,
    kHitWearTile = 7,
    kHitFitSlot = 8,
    kHitSliderTrack = 9,
    kHitSliderReset = 10,
    kHitResetAll = 11,
    kHitVirtualCameraCard = 12,
    kHitTorsoTile = 13,
    kHitBodylessSwitch = 14,
    kHitCaptureRoom = 15,
    kHitClearRoom = 16,
    kHitForgetRoom = 17,
    kHitLookSegment = 18,
    kHitMasculineSegment = 19,
    kHitBackgroundTile = 20,
    kHitAddBackground = 21,
    kHitSceneTile = 22,
    kHitSaveScene = 23,
    kHitBackgroundSwitch = 24,
    kHitRemoveAllFilters = 25,
    kHitUserFaceTile = 26,
    kHitAddFace = 27,
    kHitEyesSegment = 28,
    kHitMouthSegment = 29,
    kHitVisitorSegment = 30,
    kHitSendVisitor = 31,
    kHitGhostSwitch = 32,
};

// One clickable thing, appended in drawing order by the paint.
struct HitRegion {
    float left = 0, top = 0, right = 0, bottom = 0;
    int kind = kHitNothing;
    int index = 0;
    bool contains(float x, float y) const { return x >= left && y >= top && x < right && y < bottom; }
};

// One drawn slider; its position in the paint's list is the slider's index. `value` points into the
// FilterState; when `reversed` the stored value is the negation of the position's value (the screen
// direction is flipped by mirroring).
struct SliderBinding {
    float left = 0, top = 0, right = 0, bottom = 0;  // the track
    float* value = nullptr;
    float minimum = 0, maximum = 1;
    float defaultValue = 0;
    bool reversed = false;
};

// Colours as 0..1 floats.
struct Colour {
    float r = 0, g = 0, b = 0, a = 1;
    bool operator==(const Colour&) const = default;
};

namespace colours {
constexpr Colour hex(uint32_t rgb, float alpha = 1) {
    return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, alpha};
}
constexpr Colour kWindow = hex(0x1E1E1E);
constexpr Colour kPrimaryText = hex(0xECECEC);
constexpr Colour kSecondaryText = hex(0x9C9CA0);
constexpr Colour kAccent = hex(0xF0A83B);
constexpr Colour kAccentTint = {0.9412f, 0.6588f, 0.2314f, 0.16f};
constexpr Colour kLiveGreen = hex(0x34C759);
constexpr Colour kIdleOrange = hex(0xFF9F0A);
constexpr Colour kOffGrey = {0.5569f, 0.5569f, 0.5765f, 1};
constexpr Colour kDivider = {1, 1, 1, 0.12f};
constexpr Colour kStatusBar = {1, 1, 1, 0.06f};
constexpr Colour kTileHover = {1, 1, 1, 0.11f};
constexpr Colour kTabIdle = {1, 1, 1, 0.05f};
constexpr Colour kChip = {1, 1, 1, 0.09f};
constexpr Colour kChipHover = {1, 1, 1, 0.16f};
constexpr Colour kSegmentRow = {1, 1, 1, 0.07f};
constexpr Colour kSegmentSelected = {1, 1, 1, 0.22f};
constexpr Colour kTrack = {1, 1, 1, 0.14f};
constexpr Colour kSwitchOff = {1, 1, 1, 0.18f};
constexpr Colour kKnobIdle = hex(0xDADADA);
constexpr Colour kWhite = hex(0xFFFFFF);
constexpr Colour kPreviewGround = {0.0431f, 0.0431f, 0.0510f, 1};
constexpr Colour kCard = {0.1725f, 0.1725f, 0.1804f, 1};
}  // namespace colours

}  // namespace qm
