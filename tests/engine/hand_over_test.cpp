// The engine's hand-over against the companion's own section code: the counter moves by exactly 2 per
// frame, a late section links at a multiple of 30, and a section with the wrong magic or size is never
// written.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "engine/hand_over.h"
#include "platform/frame_section.h"
#include "tests/engine/engine_harness.h"

namespace qm {
namespace {

using test::EngineHarness;

uint64_t timestampOf(const uint8_t* view) {
    uint64_t stamp;
    std::memcpy(&stamp, view + kSectionTimestampOffset, sizeof stamp);
    return stamp;
}

void runCamera(EngineHarness& h, int frames) {
    test::FakeCamera cam;
    cam.name = "Cam";
    h.script->cameras = {cam};
    LaunchOptions options;
    options.frames = frames;
    h.start(options);
    ASSERT_TRUE(h.waitEnded(10000));
}

TEST(HandOver, CounterAdvancesByTwoPerFrameAndTheLastFrameIsComplete) {
    EngineHarness h;
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(h.sectionName, &error)) << error;
    section.publish();
    runCamera(h, 40);
    EXPECT_EQ(readSequence(section.view()), 80u);
    EXPECT_GT(timestampOf(section.view()), 0u);
    // Frame 39: the upper half's grey level is 39 (the canvas is the cover copy of the fake frame).
    EXPECT_EQ(section.view()[kSectionPixelsOffset], 39);
    EXPECT_EQ(section.view()[kSectionPixelsOffset + kFrameBytes - 1], 255 - 39);
}

TEST(HandOver, LateSectionLinksAtTheNextMultipleOfThirty) {
    EngineHarness h;
    FrameSection section;
    h.draw->onFrame = [&](int frameIndex) {
        int error = 0;
        if (frameIndex == 31) {
            ASSERT_TRUE(section.create(h.sectionName, &error));
            section.publish();
        }
    };
    runCamera(h, 100);
    EXPECT_EQ(readSequence(section.view()), 2u * (100 - 60));
}

TEST(HandOver, TheEngineRestsWhileTheCompanionSaysNobodyWatches) {
    EngineHarness h;
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(h.sectionName, &error)) << error;
    section.publish();
    // Served through PipeWire with nobody reading; a consumer comes once the engine has begun to rest.
    setCameraOutputs(section.view(), kOutputPipeWire);
    std::atomic<bool> done{false};
    std::atomic<size_t> drawnWhileResting{0};
    std::atomic<int> watchedFrom{600};
    std::thread consumer([&] {
        // The first drawn frame (seen under the probe's lock) comes after the engine was made.
        while (!done && h.draw->drawn().empty())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        while (!done && h.engine->frameIndex() < 200)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        drawnWhileResting = h.draw->drawn().size();
        setCameraOutputs(section.view(), kOutputPipeWire | kWatchedPipeWire);
        watchedFrom = h.engine->frameIndex();
    });
    runCamera(h, 600);
    done = true;
    consumer.join();
    // Only the frame drawn before the link counts; resting frames are neither tracked nor drawn, and once
    // watched every frame is drawn and sent again.
    // (On a loaded machine this thread may wake late: what counts is every frame after it said so.)
    EXPECT_LE(drawnWhileResting.load(), 1u);
    EXPECT_LT(watchedFrom.load(), 560);
    EXPECT_GE(h.draw->drawn().size() + 2, drawnWhileResting.load() + (600 - watchedFrom.load()));
    EXPECT_NE(h.log().find("engine: nobody watches the camera, resting"), std::string::npos) << h.log();
    EXPECT_NE(h.log().find("engine: the camera is watched, drawing again"), std::string::npos) << h.log();
}

TEST(HandOver, WrongMagicOrShortSectionIsNeverWritten) {
    EngineHarness h;
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(h.sectionName, &error));  // never published: the magic stays 0
    runCamera(h, 40);
    EXPECT_EQ(readSequence(section.view()), 0u);
    std::vector<uint8_t> zeros(kFrameBytes, 0);
    EXPECT_EQ(std::memcmp(section.view() + kSectionPixelsOffset, zeros.data(), kFrameBytes), 0);
    EXPECT_EQ(timestampOf(section.view()), 0u);

    // A section too small for the view (it would fault on the first write) is treated as absent.
    EngineHarness shortOne;
    int fd = shm_open(shortOne.sectionName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    uint32_t magic = kFrameMagic;
    ASSERT_EQ(pwrite(fd, &magic, sizeof magic, 0), 4);
    close(fd);
    runCamera(shortOne, 40);
    EXPECT_EQ(shortOne.engine->frameIndex(), 40);
    shm_unlink(shortOne.sectionName.c_str());
}

TEST(HandOver, BitmapHeadersAreTheFixedFiftyFourBytes) {
    const uint8_t expected[54] = {
        'B',  'M',  0x36, 0x40, 0x38, 0x00,         // size 3,686,454
        0,    0,    0,    0,                        // reserved
        54,   0,    0,    0,                        // pixel offset
        40,   0,    0,    0,                        // information header size
        0x00, 0x05, 0,    0,                        // width 1280
        0x30, 0xFD, 0xFF, 0xFF,                     // height -720: top-down rows
        1,    0,    32,   0,                        // planes, bits per pixel
        0,    0,    0,    0,    0,    0,    0, 0,   // BI_RGB, image size 0
        0,    0,    0,    0,    0,    0,    0, 0,   // resolutions
        0,    0,    0,    0,    0,    0,    0, 0};  // colours used, important colours
    uint8_t headers[54];
    fillBitmapHeaders(headers);
    EXPECT_EQ(std::memcmp(headers, expected, sizeof expected), 0);
}

}  // namespace
}  // namespace qm
