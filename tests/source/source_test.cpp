// The video source: native-format choice, camera choice (never our own), and the FFmpeg file path with
// real files (looping, size changes, damaged and foreign input).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "base/log.h"
#include "source/format_choice.h"
#include "source/video_source.h"
#include "tests/source/fake_video.h"
#include "tests/source/test_videos.h"

namespace qm {
namespace {

using test::FakeCamera;
using test::FakeScript;
using test::FakeVideoBackend;

TEST(FormatChoice, ScoresAndPicksTheFirstBest) {
    // The three terms: exact 1280 × 720, an integer rate of 29 or more, the distance from 1280 in tens.
    EXPECT_EQ(scoreNativeFormat({1280, 720, 30, 1}), 1100);
    EXPECT_EQ(scoreNativeFormat({1280, 720, 15, 1}), 1000);
    EXPECT_EQ(scoreNativeFormat({640, 480, 30, 1}), 100 - 64);
    EXPECT_EQ(scoreNativeFormat({1920, 1080, 60, 1}), 100 - 64);
    EXPECT_EQ(scoreNativeFormat({1280, 720, 30000, 1001}), 1100);  // 29.97 counts as 29
    EXPECT_EQ(scoreNativeFormat({1280, 720, 2899, 100}), 1000);    // 28.99 is 28
    EXPECT_EQ(scoreNativeFormat({1280, 720, 28, 1}), 1000);
    EXPECT_EQ(scoreNativeFormat({1280, 720, 30, 0}), 1000);  // no rate
    EXPECT_EQ(scoreNativeFormat({1285, 720, 30, 1}), 100);   // 5 ÷ 10 is 0, but not exactly 1280
    EXPECT_EQ(scoreNativeFormat({0, 0, 0, 1}), -128);

    // Ties keep the first; only a strictly higher score replaces it.
    EXPECT_EQ(chooseNativeFormat({{640, 480, 30, 1}, {1920, 1080, 30, 1}}), 0u);
    EXPECT_EQ(
        chooseNativeFormat({{640, 480, 15, 1}, {1280, 720, 15, 1}, {1280, 720, 30, 1}, {1280, 720, 60, 1}}),
        2u);
    EXPECT_EQ(chooseNativeFormat({}), 0u);
}

struct SourceFixture : ::testing::Test {
    void SetUp() override {
        setLogPath(dir.file("log.txt"));
        context = std::make_unique<SourceContext>(SourceContext{backend, shared, stop, [this] {
                                                                    ++sizeHooks;
                                                                    return true;
                                                                }});
    }
    void TearDown() override { setLogPath(""); }
    std::string log() {
        std::ifstream in(dir.file("log.txt"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    test::TempDir dir;
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    FakeVideoBackend backend{script};
    SharedState shared;
    std::atomic<bool> stop{false};
    int sizeHooks = 0;
    std::unique_ptr<SourceContext> context;
    SourceState source;
};

TEST_F(SourceFixture, TakesTheFirstRealCameraThatActivates) {
    script->cameras = {{.name = "Quillmere", .formats = {}},
                       {.name = "Broken USB", .formats = {}, .activationFails = true},
                       {.name = "USB Camera", .formats = {{640, 480, 30, 1}, {1280, 720, 30, 1}}},
                       {.name = "Other", .formats = {}}};
    EXPECT_EQ(listCameras(backend), (std::vector<std::string>{"Broken USB", "USB Camera", "Other"}));

    ASSERT_EQ(openSource(source, *context), kOk);
    auto opens = script->openLog();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, "USB Camera");
    EXPECT_EQ(opens[0].chosenFormat, 1);
    EXPECT_EQ(source.frame.size(), 64u * 48 * 4);
    EXPECT_EQ(shared.sourceLabel, "USB Camera");
    EXPECT_NE(log().find("source: camera USB Camera\n"), std::string::npos);
    EXPECT_NE(log().find("source: 64 x 48\n"), std::string::npos);

    // A requested name is a case-sensitive substring; our own camera never matches.
    source.reader.reset();
    source.camera = "Other";
    ASSERT_EQ(openSource(source, *context), kOk);
    EXPECT_EQ(script->openLog().back().name, "Other");
    source.camera = "quill";
    EXPECT_EQ(openSource(source, *context), kNotFound);
    source.camera = "Quillmere";
    EXPECT_EQ(openSource(source, *context), kNotFound);
}

TEST_F(SourceFixture, SharedModeKeepsTheFormatAndStatusThreeKeepsTheLogQuiet) {
    script->cameras = {{.name = "Cam", .formats = {{1280, 720, 30, 1}}, .silent = true}};
    source.shareCamera = true;
    shared.status = kStatusNoFrames;
    ASSERT_EQ(openSource(source, *context), kOk);
    EXPECT_TRUE(script->openLog()[0].shared);
    EXPECT_EQ(script->openLog()[0].chosenFormat, -1);
    EXPECT_FALSE(readFrame(source, *context));  // 200 gaps
    EXPECT_EQ(log(), "");                       // no camera, size or read lines while status is 3
    EXPECT_EQ(shared.sourceLabel, "Cam");
}

TEST_F(SourceFixture, UnplugAndSizeChangeAndStop) {
    script->cameras = {
        {.name = "Cam", .formats = {}, .unplugAfter = 5, .sizeChangeAt = 2, .newWidth = 32, .newHeight = 16}};
    ASSERT_EQ(openSource(source, *context), kOk);
    ASSERT_TRUE(readFrame(source, *context));
    ASSERT_TRUE(readFrame(source, *context));
    EXPECT_EQ(sizeHooks, 0);
    ASSERT_TRUE(readFrame(source, *context));
    EXPECT_EQ(sizeHooks, 1);
    EXPECT_EQ(source.frameWidth, 32u);
    EXPECT_EQ(source.frame.size(), 32u * 16 * 4);
    EXPECT_EQ(source.frame[0], 2);  // frame 2's upper half
    EXPECT_TRUE(readFrame(source, *context));
    EXPECT_TRUE(readFrame(source, *context));
    EXPECT_FALSE(readFrame(source, *context));
    EXPECT_NE(log().find("source: now 32 x 16\n"), std::string::npos);
    EXPECT_NE(log().find("ReadSample failed 0x80070013\n"), std::string::npos);

    stop = true;
    script->cameras[0].unplugAfter = -1;
    EXPECT_FALSE(readFrame(source, *context));
}

TEST_F(SourceFixture, RealFilesLoopFollowSizeChangesAndRejectGarbage) {
    std::string clip = dir.file("clip.mp4"), changing = dir.file("changing.ts");
    ASSERT_TRUE(test::makeTestVideo(clip, 64, 48, 5));
    ASSERT_TRUE(test::makeSizeChangingVideo(dir.path(), changing, 4));
    auto system = makeSystemVideoBackend();
    SourceContext real{*system, shared, stop, [this] {
                           ++sizeHooks;
                           return true;
                       }};

    source.file = clip;
    ASSERT_EQ(openSource(source, real), kOk);
    EXPECT_TRUE(source.isFile);
    EXPECT_EQ(shared.sourceLabel, "clip.mp4");
    EXPECT_EQ(source.frameWidth, 64u);
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(readFrame(source, real)) << "frame " << i;  // loops past 5

    source.file = changing;
    ASSERT_EQ(openSource(source, real), kOk);
    // The container's header may announce either size; the frames' own size is what counts.
    ASSERT_TRUE(readFrame(source, real));
    EXPECT_EQ(source.frameWidth, 64u);
    for (int i = 1; i < 8; ++i)
        ASSERT_TRUE(readFrame(source, real));
    EXPECT_GE(sizeHooks, 1);
    EXPECT_NE(log().find("source: now 96 x 64\n"), std::string::npos) << log();
    EXPECT_EQ(source.frameWidth, 96u);
    EXPECT_EQ(source.frame.size(), 96u * 64 * 4);

    // Garbage, an empty file, a missing file, a FIFO with no writer (which must not block), a folder, a
    // playlist naming a real clip (the demuxer may open nothing but the chosen file) and a live playlist
    // (which would wait for new entries for good): failure reported, and soon.
    std::ofstream(dir.file("garbage.mp4")) << std::string(5000, '\x5a');
    std::ofstream(dir.file("empty.mp4"));
    ASSERT_EQ(mkfifo(dir.file("fifo.mp4").c_str(), 0600), 0);
    std::ofstream(dir.file("list.m3u8"))
        << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\nfile:" << changing << "\n#EXT-X-ENDLIST\n";
    std::ofstream(dir.file("live.mp4")) << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:170,\nh.ts\n";
    for (std::string bad : {dir.file("garbage.mp4"), dir.file("empty.mp4"), dir.file("missing.mp4"),
                            dir.file("fifo.mp4"), dir.path(), dir.file("list.m3u8"), dir.file("live.mp4")}) {
        source.file = bad;
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(failed(openSource(source, real))) << bad;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << bad;
        EXPECT_FALSE(source.reader);
    }
    // A truncated file plays what it has and loops.
    std::string whole = dir.file("whole.mp4");
    ASSERT_TRUE(test::makeTestVideo(whole, 64, 48, 30));
    std::filesystem::copy_file(whole, dir.file("cut.mp4"));
    std::filesystem::resize_file(dir.file("cut.mp4"), std::filesystem::file_size(whole) * 2 / 3);
    source.file = dir.file("cut.mp4");
    if (!failed(openSource(source, real)))  // mp4 keeps its index at the end: a cut may not open at all
        for (int i = 0; i < 40; ++i)
            readFrame(source, real);
    SUCCEED();
}

}  // namespace
}  // namespace qm
