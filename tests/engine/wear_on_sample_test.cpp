// Every wear slot's item lands where a person expects it on the sample video's real face and on the
// morvel, through the whole program: the frame dumped with one item is compared with the same frame without
// it, and the tracker run on the plain frame says where the brows, eyes, mouth and chin are. The hat must
// change the forehead above the brows and leave the eyes, the glasses must cover the eyes and leave the
// mouth, the beard must hang below the mouth and leave the eyes.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tracking/face_detector.h"
#include "tracking/face_mesh.h"
#include "tracking/face_tracker.h"

extern char** environ;

namespace qm {
namespace {

constexpr int kWidth = 1280, kHeight = 720, kFrame = 80;

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
        const int row = height < 0 ? y : kHeight - 1 - y;
        std::memcpy(&pixels[static_cast<size_t>(y) * kWidth * 4],
                    &bytes[54 + static_cast<size_t>(row) * kWidth * 4], kWidth * 4);
    }
    return pixels;
}

// Runs the program headless on the sample with the given face and wear options; the dumped frame.
std::vector<uint8_t> dumpFrame(const std::string& face, const std::vector<std::string>& wear) {
    const std::string dump = "/tmp/qm-wear-" + std::to_string(getpid()) + ".bmp";
    std::vector<std::string> args = {executableDir() + "quillmere",
                                     "--headless",
                                     "--no-camera",
                                     "--file",
                                     samplePath(),
                                     "--face",
                                     face,
                                     "--frames",
                                     std::to_string(kFrame + 1),
                                     "--dump",
                                     dump,
                                     "--dump-at",
                                     std::to_string(kFrame)};
    args.insert(args.end(), wear.begin(), wear.end());
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

struct Box {
    float x0, y0, x1, y1;
};

// Mean absolute difference of the colour bytes inside the box.
double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const Box& box) {
    double sum = 0;
    long count = 0;
    for (int y = std::max(0, int(box.y0)); y < std::min(kHeight, int(box.y1)); ++y)
        for (int x = std::max(0, int(box.x0)); x < std::min(kWidth, int(box.x1)); ++x) {
            const size_t i = (static_cast<size_t>(y) * kWidth + x) * 4;
            for (int c = 0; c < 3; ++c)
                sum += std::abs(a[i + c] - b[i + c]);
            count += 3;
        }
    return count ? sum / count : 0;
}

// The face's landmarks on the camera frame, as the regions a person looks at; d is the eye distance.
struct FaceRegions {
    Point2 leftEye, rightEye, mouth;
    float browY = 0, d = 0;
    Box eyes() const {
        return {leftEye.x - 0.3f * d, leftEye.y - 0.15f * d, rightEye.x + 0.3f * d, rightEye.y + 0.15f * d};
    }
    Box aboveBrows() const {
        const float mx = (leftEye.x + rightEye.x) / 2;
        return {mx - 0.5f * d, browY - 1.2f * d, mx + 0.5f * d, browY - 0.45f * d};
    }
    // Below the mouth, where a beard hangs on the real face and on the morvel (whose own mouth sits lower).
    Box chinBox() const {
        return {mouth.x - 0.45f * d, mouth.y + 0.95f * d, mouth.x + 0.45f * d, mouth.y + 1.45f * d};
    }
    Box mouthBox() const {
        return {mouth.x - 0.3f * d, mouth.y - 0.08f * d, mouth.x + 0.3f * d, mouth.y + 0.08f * d};
    }
};

class WearOnTheSample : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::ifstream(samplePath()) || !std::ifstream(executableDir() + "face_mesh.onnx")) {
            missing_ = true;
            return;
        }
        tracker_ = std::make_unique<FaceTracker>();
        loadModels(*tracker_, ModelSetup{true, 1, {}});
    }
    static void TearDownTestSuite() { tracker_.reset(); }
    void SetUp() override {
        if (missing_) {
            if (std::getenv("CI"))
                FAIL() << "the sample video or the models are missing (run scripts/bootstrap)";
            GTEST_SKIP() << "the sample video or the models are missing";
        }
    }
    static FaceRegions regionsIn(const std::vector<uint8_t>& plain) {
        SourcePicture picture = packedPicture(plain.data(), kWidth, kHeight);
        FaceRegion region;
        EXPECT_TRUE(detectFace(*tracker_, picture, region));
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_GE(trackFace(*tracker_, picture, region), 0.5f);
            region = regionFromLandmarks(tracker_->landmarks);
        }
        const Point2* l = tracker_->landmarks.landmarks;
        auto mid = [&](int a, int b) { return Point2{(l[a].x + l[b].x) / 2, (l[a].y + l[b].y) / 2}; };
        FaceRegions f;
        f.leftEye = mid(33, 133), f.rightEye = mid(362, 263);
        if (f.leftEye.x > f.rightEye.x) std::swap(f.leftEye, f.rightEye);
        f.mouth = l[13];
        f.browY = (l[105].y + l[334].y) / 2;
        f.d = std::hypot(f.rightEye.x - f.leftEye.x, f.rightEye.y - f.leftEye.y);
        return f;
    }
    // One item at a time on the given face, against the same face without it.
    static void expectItemsWhereTheyBelong(const std::string& face) {
        const std::vector<uint8_t> plain = dumpFrame(face, {});
        const std::vector<uint8_t> camera = face == "none" ? plain : dumpFrame("none", {});
        ASSERT_FALSE(plain.empty());
        ASSERT_FALSE(camera.empty());
        const FaceRegions f = regionsIn(camera);
        ASSERT_GT(f.d, 40) << "a face of usable size";

        const std::vector<uint8_t> hat = dumpFrame(face, {"--hat", "tophat"});
        ASSERT_FALSE(hat.empty());
        EXPECT_GT(meanDifference(plain, hat, f.aboveBrows()), 25)
            << face << ": the hat covers the forehead top";
        EXPECT_LT(meanDifference(plain, hat, f.eyes()), 3) << face << ": the hat leaves the eyes";

        const std::vector<uint8_t> glasses = dumpFrame(face, {"--glasses", "black"});
        ASSERT_FALSE(glasses.empty());
        EXPECT_GT(meanDifference(plain, glasses, f.eyes()), 12) << face << ": the glasses are over the eyes";
        EXPECT_LT(meanDifference(plain, glasses, f.chinBox()), 3) << face << ": the glasses leave the chin";

        const std::vector<uint8_t> beard = dumpFrame(face, {"--beard", "full"});
        ASSERT_FALSE(beard.empty());
        EXPECT_GT(meanDifference(plain, beard, f.chinBox()), 25) << face << ": the beard covers the chin";
        EXPECT_LT(meanDifference(plain, beard, f.eyes()), 3) << face << ": the beard leaves the eyes";
        if (face == "none") {
            EXPECT_LT(meanDifference(plain, beard, f.mouthBox()),
                      meanDifference(plain, beard, f.chinBox()) / 2)
                << "the mouth shows through the beard";
        }
    }
    static inline std::unique_ptr<FaceTracker> tracker_;
    static inline bool missing_ = false;
};

TEST_F(WearOnTheSample, EachSlotCoversItsPartOfTheRealFace) {
    expectItemsWhereTheyBelong("none");
}

TEST_F(WearOnTheSample, EachSlotCoversItsPartOfTheMorvel) {
    expectItemsWhereTheyBelong("morvel");
}

}  // namespace
}  // namespace qm
