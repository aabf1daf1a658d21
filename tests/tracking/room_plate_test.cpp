// Room learning on synthetic frames and masks: a 256 × 144 frame, so mask cells and frame pixels match and
// plate pixel (x, y) is frame pixel (2x, 2y).
#include "tracking/room_plate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qm {
namespace {

constexpr int W = 256, H = 144;

struct Scene {
    std::vector<uint8_t> frame = std::vector<uint8_t>(W * H * 4);
    std::vector<uint8_t> mask = std::vector<uint8_t>(W * H * 4, 0);

    void paint(int x0, int x1, uint8_t b, uint8_t g, uint8_t r) {
        for (int y = 0; y < H; ++y)
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = &frame[(y * W + x) * 4];
                p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
            }
    }
    // The person covers columns [x0, x1) of the mask, all rows.
    void person(int x0, int x1) {
        std::fill(mask.begin(), mask.end(), 0);
        for (int y = 0; y < H; ++y)
            std::memset(&mask[(y * W + x0) * 4], 255, (x1 - x0) * 4);
    }
    RoomFrame view() const { return {frame.data(), W, H, W * 4, mask.data()}; }
};

const uint8_t* outputAt(const RoomPlate& room, int x, int y) {
    return &room.output[(y * room.width + x) * 4];
}

TEST(RoomPlate, SeenPlacesKeptUnseenFilledSmoothly) {
    Scene scene;
    scene.paint(0, W, 40, 160, 90);  // a green room ...
    for (int x = 150; x < W; x += 10)
        scene.paint(x, x + 2, 250, 250, 250);  // ... with white stripes
    scene.paint(0, 100, 200, 30, 30);          // the person, blue, on the left
    scene.person(0, 100);
    RoomPlate room;
    EXPECT_TRUE(learnRoom(room, scene.view(), false));
    ASSERT_EQ(room.width, 128);
    ASSERT_EQ(room.height, 72);
    // Far from the person the plate is the frame exactly, stripes and all.
    for (int x = 80; x < 128; ++x)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(outputAt(room, x, 36)[c], scene.frame[(72 * W + 2 * x) * 4 + c]) << x;
    // Where the person stood, the field of the room's colours, never the person's blue.
    for (int x = 0; x < 40; ++x) {
        const uint8_t* p = outputAt(room, x, 36);
        EXPECT_LT(p[0], 120) << x;
        EXPECT_GT(p[1], 120) << x;
    }
    // Across the border (up to the stripes) the green channel changes in small steps.
    for (int x = 1; x < 75; ++x)
        EXPECT_LE(std::abs(outputAt(room, x, 36)[1] - outputAt(room, x - 1, 36)[1]), 30) << x;
    EXPECT_FALSE(room.known[36 * 128 + 40]);  // inside the person's near band: never learned
    EXPECT_TRUE(room.known[36 * 128 + 60]);

    // The person walks away: the next frames learn the room behind them; three room frames in a row are
    // needed once the history is full.
    Scene empty;
    empty.paint(0, W, 40, 160, 90);
    for (int frame = 0; frame < 2; ++frame) {
        learnRoom(room, empty.view(), false);
        EXPECT_FALSE(room.known[36 * 128 + 20]) << frame;
    }
    EXPECT_FALSE(learnRoom(room, empty.view(), false));
    EXPECT_TRUE(room.known[36 * 128 + 20]);
    EXPECT_EQ(outputAt(room, 20, 36)[1], 160);

    // Forgetting starts over, like a frame of another size.
    EXPECT_TRUE(learnRoom(room, scene.view(), true));
    EXPECT_FALSE(room.known[36 * 128 + 20]);
    Scene small;
    small.frame.resize(128 * 96 * 4, 90);
    EXPECT_TRUE(learnRoom(room, {small.frame.data(), 128, 96, 128 * 4, small.mask.data()}, false));
    EXPECT_EQ(room.width, 64);
    EXPECT_EQ(room.height, 48);
}

TEST(RoomPlate, StreaksOfRoomAndDarkPixelsNearThePerson) {
    // Column 200 is person in frame 1 and room from frame 2 on: with k = 2 and then 3 it must be room in
    // every frame of the history, so it is seen first in frame 4.
    Scene scene;
    scene.paint(0, W, 120, 120, 120);
    RoomPlate room;
    std::vector<int> seenAt;
    for (int frame = 1; frame <= 5; ++frame) {
        if (frame == 1)
            scene.person(190, 210);
        else
            scene.person(0, 1);
        learnRoom(room, scene.view(), false);
        if (room.seen[72 * W + 200] > 0) seenAt.push_back(frame);
    }
    EXPECT_EQ(seenAt, (std::vector<int>{4, 5}));

    // Dark room: not learned within the wide band around the person (28 columns), learned beyond it.
    Scene dark;
    dark.paint(0, W, 20, 20, 20);
    dark.person(0, 100);
    RoomPlate darkRoom;
    learnRoom(darkRoom, dark.view(), false);
    EXPECT_FALSE(darkRoom.known[36 * 128 + 110 / 2]);  // cell 110: outside near (107), inside far (127)
    EXPECT_TRUE(darkRoom.known[36 * 128 + 130 / 2]);   // cell 130: beyond the wide band
    dark.paint(0, W, 200, 200, 200);
    learnRoom(darkRoom, dark.view(), false);
    EXPECT_TRUE(darkRoom.known[36 * 128 + 110 / 2]);  // bright enough there
}

TEST(RoomPlate, FramesOfOneSizeAllocateNothing) {
    Scene scene;
    scene.paint(0, W, 10, 200, 30);
    scene.person(60, 120);
    RoomPlate room;
    learnRoom(room, scene.view(), false);
    const uint8_t* output = room.output.data();
    const float* grid = room.grid.data();
    const float* scratch = room.blurScratch.data();
    for (int i = 0; i < 5; ++i)
        learnRoom(room, scene.view(), false);
    EXPECT_EQ(room.output.data(), output);
    EXPECT_EQ(room.grid.data(), grid);
    EXPECT_EQ(room.blurScratch.data(), scratch);
}

TEST(RoomPlate, DilateWindows) {
    std::vector<uint8_t> in(20 * 10, 0), out(in.size()), scratch(in.size());
    in[5 * 20 + 10] = 1;
    dilate(in.data(), out.data(), 20, 10, 3, 2, scratch.data());
    int ones = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = std::abs(x - 10) <= 3 && std::abs(y - 5) <= 2;
            EXPECT_EQ(out[y * 20 + x], inside) << x << "," << y;
            ones += out[y * 20 + x];
        }
    EXPECT_EQ(ones, 7 * 5);
    in.assign(in.size(), 0);
    in[0] = 1;  // windows are clipped at the edges
    dilate(in.data(), out.data(), 20, 10, 3, 2, scratch.data());
    EXPECT_EQ(out[3 * 20 + 3], 0);
    EXPECT_EQ(out[2 * 20 + 3], 1);
}

}  // namespace
}  // namespace qm
