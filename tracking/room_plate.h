// The empty room learned while the user moves about: every frame the pixels that the person mask shows as
// room (steadily, for three frames, away from the person) are kept in a half-size plate, and the places
// never seen are filled with a smooth colour field made from the nearby room colours. The result,
// `output`, is what composition draws where the body was when no captured room or background picture
// is in use.
//
// Contract: engine thread; pure (no drawing types). The plate's buffers are sized when the frame size
// changes or the room is forgotten; a frame of the same size allocates nothing.
//
//   RoomPlate room;
//   per frame: if (learnRoom(room, frame, forgetRequested)) { remake the bitmap over room.output }
#pragma once

#include <cstdint>
#include <vector>

namespace qm {

constexpr int kRoomMaskWidth = 256;
constexpr int kRoomMaskHeight = 144;

// One frame and its person mask as the room learning reads them.
struct RoomFrame {
    const uint8_t* pixels = nullptr;  // B, G, R, A rows `stride` bytes apart
    int width = 0, height = 0, stride = 0;
    // 256 × 144 mask pixels of 4 bytes (the person probability × 255 in every byte), rows of 1024 bytes.
    const uint8_t* mask = nullptr;
};

struct RoomPlate {
    int frameWidth = 0, frameHeight = 0;  // the size last used
    int width = 0, height = 0;            // the plate: half the frame
    int gridColumns = 0, gridRows = 0;    // the colour field: about 32 frame pixels a cell
    std::vector<uint8_t> plate;           // width × height × 4: the room as learned
    std::vector<uint8_t> known;           // width × height: 1 once a plate pixel was learned
    std::vector<uint8_t> output;          // width × height × 4: plate blended over the colour field
    std::vector<float> seen;              // 256 × 144: 1 where the room has been seen steadily (sticky)
    std::vector<uint8_t> history[3];      // 256 × 144 room maps of the last three frames (ring)
    int frames = 0;                       // frames since the last reset

    // Per-frame work buffers, sized with the plate.
    std::vector<uint8_t> person, near, far, steady, spread;
    std::vector<float> coverage, grid, blurScratch;
    std::vector<float> coverageRow, fillRow;  // one plate row's coverage (256) and field (columns × 4)
    std::vector<int> cellColumn, coverageColumn, gridColumn;  // per plate column
    std::vector<float> coverageColumnWeight, gridColumnWeight;
};

// Brightness below which a pixel close to the person is not learned (0.3 R + 0.6 G + 0.1 B): the
// mask's edge often lies in the person's dark hair and clothes.
constexpr float kRoomDarkLimit = 51;

// Learns from one frame. `forget` drops everything learned. Returns true when the plate was (re)made this
// frame, so `output` moved: the caller makes its bitmap over it again.
bool learnRoom(RoomPlate& room, const RoomFrame& frame, bool forget);

// m = 1 where any pixel of the input within `across` columns, then within `down` rows, is 1 (windows
// clipped at the edges). `scratch` is one map's size.
void dilate(const uint8_t* in, uint8_t* out, int width, int height, int across, int down, uint8_t* scratch);

}  // namespace qm
