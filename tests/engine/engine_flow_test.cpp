// The engine loop driven by the scripted camera: statuses and back-off, shared-mode retry, camera off,
// unplug, file pacing and looping, size changes, the test overrides, statistics, exceptions and the dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "base/failure.h"
#include "engine/statistics.h"
#include "render/pictures.h"
#include "tests/engine/engine_harness.h"

namespace qm {
namespace {

using test::EngineHarness;
using test::FakeCamera;
using test::FakeFile;

FakeCamera camera(std::string name) {
    FakeCamera result;
    result.name = std::move(name);
    return result;
}

LaunchOptions optionsFor(int frames) {
    LaunchOptions options;
    options.frames = frames;
    return options;
}

TEST(EngineStatus, NoCameraReportsStatusTwoAndStopsWhenFramesAreCounted) {
    EngineHarness h;
    h.start(optionsFor(10));
    ASSERT_TRUE(h.waitEnded(15000));  // start-up loads every picture: slow under the sanitizers
    EXPECT_EQ(h.shared.status.load(), kStatusNoCamera);
    EXPECT_TRUE(
        h.inOrder({"engine: source no camera found\n", "engine: no source, stopping\n", "engine stopped\n"}))
        << h.log();
}

TEST(EngineStatus, NoCameraRetriesEveryTwoSecondsAndStopsQuickly) {
    EngineHarness h;
    h.start(optionsFor(0));
    ASSERT_TRUE(h.waitFor([&] { return h.script->enumerations.size() >= 2; }, 15000));
    double gap = h.script->enumerations[1] - h.script->enumerations[0];
    EXPECT_GT(gap, 1900);
    EXPECT_LT(gap, 3000);
    // The camera arrives during the back-off: it is picked up at the next attempt.
    {
        std::lock_guard lock(h.script->mutex);
        h.script->cameras.push_back(camera("Late Cam"));
    }
    ASSERT_TRUE(h.waitFor([&] { return h.shared.status.load() == kStatusRunning; }, 5000));
    EXPECT_LT(h.stopAndTime(), 1000);
    EXPECT_EQ(h.count("engine: source no camera found\n"), 1);
}

TEST(EngineStatus, BusyCameraIsAskedOnceInSharedModeThenRetriedEveryTwoSeconds) {
    EngineHarness h;
    FakeCamera busy = camera("Busy Cam");
    busy.silent = true;
    h.script->cameras = {busy};
    h.start(optionsFor(0));
    ASSERT_TRUE(h.waitFor([&] { return h.script->openLog().size() >= 4; }, 8000));
    auto opens = h.script->openLog();
    EXPECT_FALSE(opens[0].shared);
    EXPECT_TRUE(opens[1].shared);
    EXPECT_FALSE(opens[2].shared);
    EXPECT_TRUE(opens[3].shared);
    EXPECT_LT(opens[1].atMs - opens[0].atMs, 1000);  // the shared retry comes at once
    EXPECT_GT(opens[2].atMs - opens[1].atMs, 1900);  // then the 2-second back-off
    EXPECT_EQ(h.shared.status.load(), kStatusNoFrames);
    EXPECT_LT(h.stopAndTime(), 1000);

    // While the status is 3 the repeated attempts stay out of the log.
    EXPECT_EQ(h.count("source: no frames, asking to share the camera\n"), 1);
    EXPECT_EQ(h.count("source: camera Busy Cam (shared with another app)\n"), 1);
    EXPECT_EQ(h.count("engine: source not giving frames (unplugged, or in use by another app)\n"), 1);
    EXPECT_EQ(h.count("source: camera Busy Cam\n"), 1);
}

TEST(EngineStatus, CameraOffAndOnWithOneNoticePerChangeAndOnePendingPreview) {
    EngineHarness h;
    h.script->cameras = {camera("Cam")};
    h.watchNotices();
    h.start(optionsFor(0));
    ASSERT_TRUE(h.waitFor([&] { return h.engine->frameIndex() >= 5; }));

    h.shared.cameraOff = true;
    ASSERT_TRUE(h.waitFor([&] { return h.shared.status.load() == kStatusTurnedOff; }));
    int frozen = h.engine->frameIndex();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(h.engine->frameIndex(), frozen);
    {
        std::lock_guard lock(h.shared.filterLock);
        EXPECT_EQ(h.shared.sourceLabel, "");
    }
    h.shared.cameraOff = false;
    ASSERT_TRUE(h.waitFor([&] { return h.engine->frameIndex() > frozen + 5; }));
    EXPECT_EQ(h.shared.status.load(), kStatusRunning);
    EXPECT_LT(h.stopAndTime(), 1000);

    std::vector<int> statuses;
    int previews = 0;
    {
        std::lock_guard lock(test::noticeMutex);
        for (auto [notice, status] : test::notices) {
            if (notice == kNoticeStatus) statuses.push_back(status);
            if (notice == kNoticeNewFrame) ++previews;
        }
    }
    EXPECT_EQ(statuses, (std::vector<int>{kStatusRunning, kStatusTurnedOff, kStatusRunning}));
    // Nobody cleared previewPosted, so only the first frame was announced; the buffer holds the latest.
    EXPECT_EQ(previews, 1);
    std::lock_guard lock(h.shared.filterLock);
    EXPECT_TRUE(h.shared.previewReady);
    EXPECT_EQ(h.shared.previewBuffer.size(), kFrameBytes);
    EXPECT_EQ(h.count("engine: source turned off\n"), 1);
}

TEST(EngineStatus, UnpluggedCameraGoesToStatusThreeAndComesBack) {
    EngineHarness h;
    FakeCamera cam = camera("Cam");
    cam.unplugAfter = 20;
    h.script->cameras = {cam};
    h.watchNotices();
    h.start(optionsFor(0));
    ASSERT_TRUE(h.waitFor([&] { return h.shared.status.load() == kStatusNoFrames; }));
    EXPECT_EQ(h.engine->frameIndex(), 20);
    {
        std::lock_guard lock(h.script->mutex);
        h.script->cameras[0].unplugAfter = -1;  // plugged in again
    }
    ASSERT_TRUE(h.waitFor([&] { return h.engine->frameIndex() > 25; }, 5000));
    auto opens = h.script->openLog();
    ASSERT_GE(opens.size(), 3u);
    EXPECT_FALSE(opens[0].shared);
    EXPECT_TRUE(opens[1].shared);
    EXPECT_GT(opens[2].atMs - opens[1].atMs, 1900);
    h.engine->stop();
    EXPECT_EQ(h.count("ReadSample failed 0x80070013\n"), 2);  // exclusive and shared; later ones are quiet
    EXPECT_EQ(h.count("engine: source running\n"), 2);
}

TEST(EngineFiles, FilesLoopAtThirtyFramesPerSecond) {
    EngineHarness h;
    h.script->files["clip.mp4"] = FakeFile{64, 48, 10, -1};
    LaunchOptions options = optionsFor(45);
    options.file = "clip.mp4";
    h.start(options);
    ASSERT_TRUE(h.waitEnded(5000));
    auto drawn = h.draw->drawn();
    ASSERT_EQ(drawn.size(), 45u);  // the 10-frame file looped
    double span = drawn.back().atMs - drawn.front().atMs;
    EXPECT_GT(span, 44 * 33.3 - 60);
    EXPECT_LT(span, 44 * 33.3 + 400);
    EXPECT_EQ(h.script->openLog().size(), 1u);  // looping rewinds, it does not reopen
    std::lock_guard lock(h.shared.filterLock);
    EXPECT_EQ(h.shared.sourceLabel, "clip.mp4");
}

TEST(EngineFiles, PacingContinuesFromTheFrameIndexAfterAReopen) {
    EngineHarness h;
    h.script->files["clip.mp4"] = FakeFile{64, 48, 1000, 30};
    LaunchOptions options = optionsFor(0);
    options.file = "clip.mp4";
    h.start(options);
    ASSERT_TRUE(h.waitFor([&] { return h.engine->frameIndex() >= 45; }, 8000));
    h.engine->stop();
    auto drawn = h.draw->drawn();
    ASSERT_GE(drawn.size(), 45u);
    EXPECT_EQ(drawn[30].frameIndex, 30);
    EXPECT_GT(drawn[30].atMs - drawn[29].atMs, 1900);  // the back-off after the failed read
    // No burst to catch up: frames after the reopen keep their 33 ms spacing.
    EXPECT_GT(drawn[44].atMs - drawn[30].atMs, 14 * 33.3 - 40);
    EXPECT_EQ(h.script->openLog().size(), 2u);
}

TEST(EngineFiles, RealVideoWhoseFrameSizeChangesMidFile) {
    EngineHarness h;
    h.realVideo = true;
    std::string path = h.dir.file("changing.ts");
    ASSERT_TRUE(test::makeSizeChangingVideo(h.dir.path(), path, 6));
    LaunchOptions options = optionsFor(14);
    options.file = path;
    options.plain = true;
    h.start(options);
    ASSERT_TRUE(h.waitEnded(5000));
    auto drawn = h.draw->drawn();
    ASSERT_EQ(drawn.size(), 14u);
    EXPECT_EQ(drawn[0].width, 64u);
    EXPECT_EQ(drawn[6].width, 96u);
    EXPECT_EQ(drawn[12].width, 64u);  // looped back to the first size
    EXPECT_GE(h.count("source: now 96 x 64\n"), 1);
    std::lock_guard lock(h.draw->mutex);
    EXPECT_NE(std::find(h.draw->sizeHooks.begin(), h.draw->sizeHooks.end(), std::make_pair(96u, 64u)),
              h.draw->sizeHooks.end());
}

TEST(EngineFiles, GarbageFileIsStatusThreeThenStopsWhenFramesAreCounted) {
    EngineHarness h;
    h.realVideo = true;
    std::string path = h.dir.file("garbage.mp4");
    std::ofstream(path) << std::string(20000, '\x42');
    LaunchOptions options = optionsFor(5);
    options.file = path;
    h.start(options);
    ASSERT_TRUE(h.waitEnded(10000));  // a loaded machine takes a while to give up on the file
    EXPECT_EQ(h.shared.status.load(), kStatusNoFrames);
    EXPECT_TRUE(h.inOrder({"engine: source not giving frames (unplugged, or in use by another app)\n",
                           "engine: no source, stopping\n", "engine stopped\n"}))
        << h.log();
}

TEST(EngineFiles, AMissingFileIsReportedOnceThenRetriedQuietlyUntilItAppears) {
    installFailureCallback(logFailure);
    EngineHarness h;
    LaunchOptions options = optionsFor(0);
    options.file = "clip.mp4";
    h.start(options);
    ASSERT_TRUE(h.waitFor([&] { return h.shared.status.load() == kStatusNoFrames; }, 15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));  // two more attempts
    EXPECT_EQ(h.count("cannot open the video file"), 1) << h.log();
    {
        std::lock_guard lock(h.script->mutex);
        h.script->files["clip.mp4"];
    }
    ASSERT_TRUE(h.waitFor([&] { return h.shared.status.load() == kStatusRunning; }, 5000));
}

TEST(EngineTracking, OverridesFromFrame46AndTrackingOnlyWhenNeeded) {
    EngineHarness h;
    h.script->cameras = {camera("Cam")};
    LaunchOptions options = optionsFor(50);
    options.open = 0.9f;
    options.blink = true;
    h.start(options, /*faces=*/true);
    ASSERT_TRUE(h.waitEnded(5000));
    auto drawn = h.draw->drawn();
    ASSERT_EQ(drawn.size(), 50u);
    EXPECT_TRUE(drawn[45].face);
    EXPECT_FLOAT_EQ(drawn[45].geometry.mouthOpen, 0.2f);
    EXPECT_FLOAT_EQ(drawn[45].geometry.eyeOpen, 0.3f);
    EXPECT_FLOAT_EQ(drawn[46].geometry.mouthOpen, 0.9f);
    EXPECT_FLOAT_EQ(drawn[46].geometry.eyeOpen, 0.04f);
    EXPECT_EQ(drawn[46].effectiveFace, kFaceMorvel);
    EXPECT_EQ(h.face->detections.load(), 1);  // the face is followed after the first detection
    EXPECT_EQ(h.face->meshRuns.load(), 50);

    // --plain, and no face with no wear: nothing needs the face, nothing is tracked.
    for (int variant = 0; variant < 2; ++variant) {
        EngineHarness quiet;
        quiet.script->cameras = {camera("Cam")};
        LaunchOptions plain = optionsFor(10);
        if (variant == 0)
            plain.plain = true;
        else
            plain.face = kFaceNone;
        quiet.start(plain, true);
        ASSERT_TRUE(quiet.waitEnded(5000));
        EXPECT_EQ(quiet.face->meshRuns.load() + quiet.face->detections.load(), 0);
        EXPECT_EQ(quiet.draw->drawn()[0].effectiveFace, 0);
    }
}

// A face photo is worn once prepared; a picture chosen after it that can't be read is reported (in the log
// and to the window) and the photo worn before stays on; choosing none takes it off. A tracker that measures
// nothing (all zeros) on the photo must not upset the drawing.
TEST(EngineTracking, AnUnreadablePhotoKeepsTheFaceWornBefore) {
    EngineHarness h;
    h.script->cameras = {camera("Cam")};
    const std::string photo = h.dir.file("me.png"), broken = h.dir.file("broken.png");
    std::vector<uint8_t> pixels(64 * 64 * 4, 200);
    ASSERT_TRUE(savePng(photo, pixels.data(), 64, 64));
    std::ofstream(broken) << "not a picture";
    LaunchOptions options = optionsFor(150);
    options.face = kFaceCustom;
    options.customFace = photo;
    int newsBefore = kPhotoNoNews;
    h.draw->onFrame = [&h, &broken, &newsBefore](int index) {
        if (index != 60 && index != 120) return;
        if (index == 60) newsBefore = h.shared.facePhotoNews.exchange(kPhotoNoNews);
        std::lock_guard lock(h.shared.filterLock);
        h.shared.filters.facePicture = index == 60 ? broken : std::string();
    };
    h.start(options, /*faces=*/true);
    ASSERT_TRUE(h.waitEnded(10000));
    const auto drawn = h.draw->drawn();
    ASSERT_EQ(drawn.size(), 150u);
    EXPECT_EQ(drawn[50].effectiveFace, kFaceCustom) << "prepared within 50 frames";
    for (int i = 61; i <= 120; ++i)
        ASSERT_EQ(drawn[i].effectiveFace, kFaceCustom) << "frame " << i;
    EXPECT_EQ(drawn[140].effectiveFace, kFaceNone);
    EXPECT_EQ(h.count("face picture: cannot read " + broken), 1);
    EXPECT_EQ(h.count("face picture: 64x64, face found"), 1);
    // The window hears of each: the photo worn, then the picture that could not be read.
    EXPECT_EQ(newsBefore, kPhotoWorn);
    EXPECT_EQ(h.shared.facePhotoNews.load(), kPhotoUnreadable);
}

TEST(EngineStatistics, LineEveryNinetyFrames) {
    StatisticsFigures figures;
    figures.fps = 29.97;
    figures.times = {90 * 1.5, 90 * 2.25, 90 * 0.5, 7.04, 88};
    figures.cpu = 42.4;
    figures.cpuAll = 10.6;
    figures.processors = 4;
    figures.memoryMb = 123;
    figures.detectorRuns = 3;
    EXPECT_EQ(
        formatStatistics(figures),
        "stats: 30.0 fps | per frame: track 1.50 ms, draw 2.25 ms, readback+send 0.50 ms, total 4.25 ms "
        "(worst 7.0) | face in 88/90 | cpu 42% of one core (10.6% of 4) | memory 123 MB | detector runs 3 | "
        "camera link not yet");
    figures.linkUp = true;
    EXPECT_NE(formatStatistics(figures).find("| camera link up"), std::string::npos);

    EngineHarness h;
    h.script->cameras = {camera("Cam")};
    h.start(optionsFor(181), true);
    ASSERT_TRUE(h.waitEnded(8000));
    EXPECT_EQ(h.count("stats: "), 2);
    std::regex line(
        R"(\d\d:\d\d:\d\d\.\d{3} stats: \d+\.\d fps \| per frame: track \d+\.\d\d ms, draw \d+\.\d\d ms, )"
        R"(readback\+send \d+\.\d\d ms, total \d+\.\d\d ms \(worst \d+\.\d\) \| face in 90/90 \| cpu \d+% of one )"
        R"(core \(\d+\.\d% of \d+\) \| memory \d+ MB \| detector runs 1 \| camera link not yet\n)");
    std::string log = h.log();
    EXPECT_TRUE(std::regex_search(log, line)) << log;
    EXPECT_GT(h.shared.frameMs.load(), 0.0f);
}

TEST(EngineFailures, ExceptionsAndGraphicsFailureStopTheEngineWithTheirLines) {
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.draw->throwIndex = 5;
        h.start(optionsFor(0));
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_TRUE(h.inOrder({"engine: error: drawing blew up\n", "engine stopped\n"})) << h.log();
    }
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.face->throwModelError = true;
        h.start(optionsFor(0), true);
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_TRUE(h.inOrder({"engine: face model error: bad tensor shape\n", "engine stopped\n"}))
            << h.log();
    }
    {
        EngineHarness h;
        EngineSetup setup;
        setup.shared = &h.shared;
        setup.makeDrawing = [](const LaunchOptions&) { return std::unique_ptr<FrameDrawing>(); };
        Engine engine(setup);
        ASSERT_TRUE(engine.start(optionsFor(0))->waitFor(std::chrono::seconds(5)));
        EXPECT_TRUE(h.inOrder({"engine: graphics failed, stopping\n", "engine stopped\n"})) << h.log();
    }
}

// With a face to follow and a person mask to make, the mask runs beside the face models on a thread of
// its own, once a frame; an error there stops the engine like any model error, without hanging it.
TEST(EngineMask, RunsBesideTheFaceModelsAndReportsItsErrors) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: the mask runs inline";
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.face->maskLoaded = true;
        LaunchOptions options = optionsFor(40);
        options.blur = true;
        h.start(options, true);
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_FALSE(h.engine->endedOnError()) << h.log();
        EXPECT_EQ(h.face->maskRuns.load(), 40);
        EXPECT_EQ(h.face->masksBesideTheMesh.load(), 40);
        EXPECT_EQ(h.face->meshRuns.load(), 40);
    }
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.face->maskLoaded = true;
        h.face->throwMaskError = true;
        LaunchOptions options = optionsFor(0);
        options.blur = true;
        h.start(options, true);
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_TRUE(h.inOrder({"engine: face model error: mask blew up\n", "engine stopped\n"})) << h.log();
    }
}

// The touch-up look retouches the frame on the second thread while drawing begins, yet every frame shows
// the retouched camera picture; an error in the look stops the engine without hanging it.
TEST(EngineLook, RetouchesBesideTheDrawingAndEveryFrameShowsIt) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: the look runs inline";
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.watchNotices();
        LaunchOptions options = optionsFor(30);
        options.face = kFaceNone;
        options.look = kLookBold;
        h.start(options, true);
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_FALSE(h.engine->endedOnError()) << h.log();
        EXPECT_EQ(h.face->lookRuns.load(), 30);
        EXPECT_EQ(h.face->looksBesideTheMesh.load(), 30);
        std::lock_guard lock(h.shared.filterLock);
        ASSERT_EQ(h.shared.previewBuffer.size(), kFrameBytes);
        for (size_t at : {size_t{0}, kFrameBytes / 2, kFrameBytes - 4}) {
            const uint8_t* pixel = h.shared.previewBuffer.data() + at;
            EXPECT_EQ(pixel[0], 0) << at;
            EXPECT_EQ(pixel[1], 255) << at;
            EXPECT_EQ(pixel[2], 0) << at;
        }
    }
    {
        EngineHarness h;
        h.script->cameras = {camera("Cam")};
        h.face->throwLookError = true;
        LaunchOptions options = optionsFor(0);
        options.face = kFaceNone;
        options.look = kLookBold;
        h.start(options, true);
        ASSERT_TRUE(h.waitEnded(5000));
        EXPECT_TRUE(h.inOrder({"engine: face model error: look blew up\n", "engine stopped\n"})) << h.log();
    }
}

TEST(EngineDump, WritesFrameSixtyAsATopDownBitmap) {
    EngineHarness h;
    h.script->cameras = {camera("Cam")};
    LaunchOptions options = optionsFor(70);
    options.dumpPath = h.dir.file("frame.bmp");
    h.start(options);
    ASSERT_TRUE(h.waitEnded(5000));
    ASSERT_EQ(std::filesystem::file_size(options.dumpPath), 3686454u);
    EXPECT_EQ(h.count("saved " + options.dumpPath + "\n"), 1);

    // An independent reader: the frame number is the upper half's grey level, 255 minus it below.
    std::string probe = test::commandOutput("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" +
                                            options.dumpPath +
                                            "'); print(im.format, im.size[0], im.size[1], im.getpixel((0, "
                                            "0))[:3], im.getpixel((1279, 719))[:3])\"");
    EXPECT_EQ(probe, "BMP 1280 720 (60, 60, 60) (195, 195, 195)");

    // A path that cannot be written is logged and nothing else changes.
    EngineHarness bad;
    bad.script->cameras = {camera("Cam")};
    options.dumpPath = bad.dir.file("no-such-folder/frame.bmp");
    options.dumpAt = 3;
    bad.start(options);
    ASSERT_TRUE(bad.waitEnded(5000));
    EXPECT_EQ(bad.count("cannot write " + options.dumpPath + "\n"), 1);
    EXPECT_EQ(bad.engine->frameIndex(), 70);
}

}  // namespace
}  // namespace qm
