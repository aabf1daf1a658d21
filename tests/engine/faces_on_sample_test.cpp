// Every replacement face follows the real face of the sample video, through the whole program: the frame
// the program dumps with a face is compared with the plain frame at the same index, and the tracker run
// on the plain frame says where the face is. The face kind must change the picture on the face and leave
// the room as it was.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/support/temp_dir.h"
#include "tracking/face_detector.h"
#include "tracking/face_mesh.h"
#include "tracking/face_tracker.h"

extern char** environ;

namespace qm {
namespace {

constexpr int kWidth = 1280, kHeight = 720;

std::string samplePath() {
    return executableDir() + "../../data/sample.mp4";
}

// The program's one-frame dump: 54-byte header, 32-bit pixels; a negative height means top row first.
std::vector<uint8_t> readDump(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    if (bytes.size() != 54u + kWidth * kHeight * 4u) return {};
    int32_t height = 0;
    std::memcpy(&height, &bytes[22], 4);
    std::vector<uint8_t> pixels(kWidth * kHeight * 4u);
    for (int y = 0; y < kHeight; ++y) {
        int row = height < 0 ? y : kHeight - 1 - y;
        std::memcpy(&pixels[static_cast<size_t>(y) * kWidth * 4],
                    &bytes[54 + static_cast<size_t>(row) * kWidth * 4], kWidth * 4);
    }
    return pixels;
}

// Runs the program headless on the sample and returns the dumped frame (empty on failure).
std::vector<uint8_t> dumpFrame(const std::string& face, int index,
                               const std::vector<std::string>& more = {}) {
    test::TempDir dir;
    std::string dump = dir.file("frame.bmp");
    std::vector<std::string> args = {executableDir() + "quillmere",
                                     "--headless",
                                     "--no-camera",
                                     "--file",
                                     samplePath(),
                                     "--face",
                                     face,
                                     "--frames",
                                     std::to_string(index + 1),
                                     "--dump",
                                     dump,
                                     "--dump-at",
                                     std::to_string(index)};
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return {};
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    std::vector<uint8_t> pixels = readDump(dump);
    std::remove(dump.c_str());
    return pixels;
}

// Mean absolute difference of the colour bytes, over the pixels whose distance from the centre is within
// [inner, outer).
double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, float cx, float cy,
                      float inner, float outer) {
    double sum = 0;
    long count = 0;
    for (int y = 0; y < kHeight; y += 2)
        for (int x = 0; x < kWidth; x += 2) {
            float d = std::hypot(x - cx, y - cy);
            if (d < inner || d >= outer) continue;
            size_t i = (static_cast<size_t>(y) * kWidth + x) * 4;
            for (int c = 0; c < 3; ++c)
                sum += std::abs(a[i + c] - b[i + c]);
            count += 3;
        }
    return count ? sum / count : 0;
}

class FacesOnTheSample : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::ifstream(samplePath()) || !std::ifstream(executableDir() + "face_mesh.onnx")) {
            missing_ = true;
            return;
        }
        tracker_ = std::make_unique<FaceTracker>();
        loadModels(*tracker_, ModelSetup{true, 1, {}});
    }
    // The runtime's sessions are released while the runtime library is certainly still loaded.
    static void TearDownTestSuite() { tracker_.reset(); }
    void SetUp() override {
        if (missing_) {
            if (std::getenv("CI"))
                FAIL() << "the sample video or the models are missing (run scripts/bootstrap)";
            GTEST_SKIP() << "the sample video or the models are missing";
        }
    }
    // Where the face is in the plain frame, from the tracker (a few passes let the region settle).
    static FaceRegion faceIn(const std::vector<uint8_t>& plain) {
        SourcePicture picture = packedPicture(plain.data(), kWidth, kHeight);
        FaceRegion region;
        EXPECT_TRUE(detectFace(*tracker_, picture, region));
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_GE(trackFace(*tracker_, picture, region), 0.5f);
            region = regionFromLandmarks(tracker_->landmarks);
        }
        return region;
    }
    static const std::vector<uint8_t>& plainFrame(int index) {
        static std::map<int, std::vector<uint8_t>> frames;
        auto found = frames.find(index);
        if (found == frames.end()) found = frames.emplace(index, dumpFrame("none", index)).first;
        return found->second;
    }
    static void expectFaceDrawnOnTheFace(const std::string& face, int index) {
        const std::vector<uint8_t>& plain = plainFrame(index);
        std::vector<uint8_t> drawn = dumpFrame(face, index);
        ASSERT_FALSE(plain.empty());
        ASSERT_FALSE(drawn.empty());
        FaceRegion region = faceIn(plain);
        float r = region.size / 2;
        double onFace = meanDifference(plain, drawn, region.centreX, region.centreY, 0, 0.45f * r);
        double room = meanDifference(plain, drawn, region.centreX, region.centreY, 2.2f * r, 1e9f);
        EXPECT_GT(onFace, 12) << face << " at frame " << index << ": the face picture should cover the face";
        EXPECT_LT(room, 1.5) << face << " at frame " << index << ": the room should stay as it was";
    }
    static inline std::unique_ptr<FaceTracker> tracker_;
    static inline bool missing_ = false;
};

TEST_F(FacesOnTheSample, EveryFaceKindSitsOnTheFace) {
    for (const char* face : {"morvel", "orange", "banana", "kitten", "googly"})
        expectFaceDrawnOnTheFace(face, 90);
}

TEST_F(FacesOnTheSample, TheMorvelFollowsTheFaceAcrossTheClip) {
    for (int index : {20, 170})
        expectFaceDrawnOnTheFace("morvel", index);
}

// A face photo (the astronaut picture, the same person as the sample) worn on the sample: brighter by its
// exposure on the face, the room untouched; the photo's mouth opens when the user's does and its eyes close
// when the user's blink.
TEST_F(FacesOnTheSample, APhotoFaceIsWornAndMovesWithTheUsersFace) {
    const std::string photoSource = executableDir() + "../../data/astronaut.png";
    if (!std::ifstream(photoSource)) GTEST_SKIP() << "data/astronaut.png is missing";
    test::TempDir dir;
    const std::string photo = dir.file("me.png");
    std::filesystem::copy_file(photoSource, photo);
    const int index = 60;
    const std::vector<std::string> wear = {"--custom", photo, "--exposure", "0.6"};
    std::vector<uint8_t> worn = dumpFrame("custom", index, wear);
    const std::vector<uint8_t>& plain = plainFrame(index);
    ASSERT_FALSE(worn.empty());
    ASSERT_FALSE(plain.empty());
    FaceRegion region = faceIn(plain);
    const float r = region.size / 2;
    EXPECT_GT(meanDifference(plain, worn, region.centreX, region.centreY, 0, 0.45f * r), 12);
    EXPECT_LT(meanDifference(plain, worn, region.centreX, region.centreY, 2.2f * r, 1e9f), 1.5);
    EXPECT_TRUE(std::ifstream(photo + ".cut.png")) << "the cut-out is kept beside the photo";

    const Point2* points = tracker_->landmarks.landmarks;
    const Point2 mouth{(points[13].x + points[14].x) / 2, (points[13].y + points[14].y) / 2};
    const float eyeDistance = std::hypot(points[473].x - points[468].x, points[473].y - points[468].y);
    auto wearing = [&](std::vector<std::string> more) {
        more.insert(more.begin(), wear.begin(), wear.end());
        return dumpFrame("custom", index, more);
    };
    std::vector<uint8_t> opened = wearing({"--open", "0.5"});
    std::vector<uint8_t> shut = wearing({"--open", "0"});
    ASSERT_FALSE(opened.empty());
    ASSERT_FALSE(shut.empty());
    EXPECT_GT(meanDifference(opened, shut, mouth.x, mouth.y, 0, 0.35f * eyeDistance), 10)
        << "the photo's mouth opens";
    std::vector<uint8_t> blinking = wearing({"--open", "0", "--blink"});
    ASSERT_FALSE(blinking.empty());
    for (int eye : {468, 473})
        EXPECT_GT(meanDifference(blinking, shut, points[eye].x, points[eye].y, 0, 0.2f * eyeDistance), 6)
            << "the photo's eye " << eye << " closes";
    // With the user's own eyes and mouth the photo's stay as they are, and the user's blink shows instead.
    std::vector<uint8_t> mine = wearing({"--open", "0", "--blink", "--my-eyes", "--my-mouth"});
    ASSERT_FALSE(mine.empty());
    EXPECT_GT(meanDifference(mine, blinking, mouth.x, mouth.y, 0, 0.5f * eyeDistance), 3);
}

}  // namespace
}  // namespace qm
