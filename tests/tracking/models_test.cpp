// The three models on real pictures: the astronaut (one face), coffee (no face) and a frame of people
// walking, with turned, mirrored, scaled and cut variants. Needs face_detector.onnx, face_mesh.onnx and
// person_mask.onnx beside the test program: without them the tests skip, or fail when CI is set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/log.h"
#include "platform/paths.h"
#include "tests/support/temp_dir.h"
#include "tests/tracking/test_pictures.h"
#include "tracking/face_detector.h"
#include "tracking/face_geometry.h"
#include "tracking/face_mesh.h"
#include "tracking/person_mask.h"

namespace qm {
namespace {

using namespace test;

constexpr float kDegree = static_cast<float>(M_PI) / 180;

// The astronaut's eye centres, image-left eye first, read off the picture.
constexpr Point2 kLeftEye{204, 101};
constexpr Point2 kRightEye{247, 104};

bool modelsPresent() {
    for (const char* name : {"face_detector.onnx", "face_mesh.onnx", "person_mask.onnx"})
        if (!isRegularFile(executableDir() + name)) return false;
    return true;
}

#define REQUIRE_MODELS()                                                                   \
    do {                                                                                   \
        if (!modelsPresent()) {                                                            \
            if (std::getenv("CI")) FAIL() << "model files missing in " << executableDir(); \
            GTEST_SKIP() << "model files missing in " << executableDir();                  \
        }                                                                                  \
    } while (0)

float distance(Point2 a, Point2 b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// One tracker for the suite: loading the sessions once keeps the tests quick.
class Models : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!modelsPresent()) return;
        tracker = std::make_unique<FaceTracker>();
        ModelSetup setup;
        setup.useCpu = true;
        loadModels(*tracker, setup);
    }
    static void TearDownTestSuite() { tracker.reset(); }
    void SetUp() override { REQUIRE_MODELS(); }

    // Detector then mesh, as the engine's first tracked frame; then a second frame on the landmark region.
    struct Track {
        bool found = false;
        FaceRegion detected;
        float firstConfidence = 0;
        FaceRegion next;
        float confidence = 0;
        FaceGeometry geometry;
    };
    static Track track(const PictureBuffer& picture) {
        Track t;
        const SourcePicture source = picture.view();
        t.found = detectFace(*tracker, source, t.detected);
        if (!t.found) return t;
        t.firstConfidence = trackFace(*tracker, source, t.detected);
        t.next = regionFromLandmarks(tracker->landmarks);
        t.confidence = trackFace(*tracker, source, t.next);
        t.geometry = computeGeometry(tracker->landmarks);
        return t;
    }

    static inline std::unique_ptr<FaceTracker> tracker;
};

TEST_F(Models, FindsAndTracksTheUprightFace) {
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    ASSERT_GT(astronaut.width, 0);
    const int runsBefore = tracker->detectorRuns;
    const Track t = track(astronaut);
    ASSERT_TRUE(t.found);
    EXPECT_EQ(tracker->detectorRuns, runsBefore + 1);

    // The detector: eye keypoints on the eyes, a region around the face.
    EXPECT_LT(distance(tracker->detection.eyes[0], kLeftEye), 8);
    EXPECT_LT(distance(tracker->detection.eyes[1], kRightEye), 8);
    EXPECT_LT(distance({t.detected.centreX, t.detected.centreY}, {225, 125}), 20);
    EXPECT_GT(t.detected.size, 110);
    EXPECT_LT(t.detected.size, 220);
    EXPECT_LT(std::fabs(t.detected.angle), 20 * kDegree);

    EXPECT_GE(t.firstConfidence, 0.5f);
    EXPECT_GE(t.confidence, 0.5f);
    // The next frame's region hardly moves on a still picture.
    EXPECT_LT(distance({t.next.centreX, t.next.centreY}, {t.detected.centreX, t.detected.centreY}), 15);

    const FaceGeometry& g = t.geometry;
    EXPECT_LT(distance(g.leftEye, kLeftEye), 5);
    EXPECT_LT(distance(g.rightEye, kRightEye), 5);
    EXPECT_LT(std::fabs(g.roll), 10 * kDegree);
    EXPECT_LT(g.leftBrow.y, g.leftEye.y);
    EXPECT_LT(g.rightBrow.y, g.rightEye.y);
    EXPECT_GT(g.mouthCentre.y, g.nose.y);
    EXPECT_GT(g.chin.y, g.mouthCentre.y);
    EXPECT_LT(g.mouthOpen, 0.3f) << "a closed-lip smile (teeth show between the lips)";
    EXPECT_GT(g.eyeOpen, 0.15f);
    EXPECT_NEAR(g.faceWidth, 95, 25);
    // Irises inside their eyes.
    EXPECT_LT(distance(tracker->landmarks.landmarks[468], kLeftEye), 6);
    EXPECT_LT(distance(tracker->landmarks.landmarks[473], kRightEye), 6);
}

TEST_F(Models, NoFaceInCoffee) {
    const PictureBuffer coffee = dataPicture("coffee.png");
    ASSERT_GT(coffee.width, 0);
    const int runsBefore = tracker->detectorRuns;
    FaceRegion region{1, 2, 3, 4};
    EXPECT_FALSE(detectFace(*tracker, coffee.view(), region));
    EXPECT_EQ(tracker->detectorRuns, runsBefore + 1);
    EXPECT_FLOAT_EQ(region.centreX, 1);
}

TEST_F(Models, RollingHeadIsFollowedToAQuarterTurn) {
    // Frame after frame the head rolls 10° further clockwise about its own centre; only the first frame
    // uses the detector, the others take their region from the previous landmarks.
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    const Point2 pivot{225, 125};
    FaceRegion region;
    ASSERT_TRUE(detectFace(*tracker, astronaut.view(), region));
    for (int degrees = 0; degrees <= 90; degrees += 10) {
        const PictureBuffer frame = turnedBy(astronaut, degrees * kDegree, pivot);
        ASSERT_GE(trackFace(*tracker, frame.view(), region), 0.5f) << degrees << "°";
        region = regionFromLandmarks(tracker->landmarks);
        EXPECT_NEAR(region.angle, (degrees + 3) * kDegree, 8 * kDegree)
            << degrees << "°";  // upright reads 3°
    }
    const FaceGeometry g = computeGeometry(tracker->landmarks);
    EXPECT_NEAR(std::fabs(g.roll), 90 * kDegree, 10 * kDegree);
    EXPECT_LT(g.mouthOpen, 0.3f);
}

TEST_F(Models, QuarterTurnedFaceIsFoundAndTurnedUpright) {
    // The detector gives a rough angle for a face lying on its side; a few frames of tracking settle the
    // region on the eye corners.
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    struct Case {
        PictureBuffer picture;
        float angle;
        Point2 leftEye;  // where the image-left eye of the upright picture went
    };
    const float h = static_cast<float>(astronaut.height - 1), w = static_cast<float>(astronaut.width - 1);
    const Case cases[] = {
        {turnedClockwise(astronaut), 90 * kDegree, {h - kLeftEye.y, kLeftEye.x}},
        {turnedAnticlockwise(astronaut), -90 * kDegree, {kLeftEye.y, w - kLeftEye.x}},
    };
    for (const Case& c : cases) {
        FaceRegion region;
        ASSERT_TRUE(detectFace(*tracker, c.picture.view(), region));
        EXPECT_GT(region.angle * c.angle, 0) << "the detector turns the right way";
        for (int frame = 0; frame < 5; ++frame) {
            ASSERT_GE(trackFace(*tracker, c.picture.view(), region), 0.5f) << frame;
            region = regionFromLandmarks(tracker->landmarks);
        }
        EXPECT_NEAR(region.angle, c.angle, 8 * kDegree);
        const FaceGeometry g = computeGeometry(tracker->landmarks);
        EXPECT_NEAR(std::fabs(g.roll), 90 * kDegree, 10 * kDegree);
        // The same eye, found in its turned place (it now lies above or below the other).
        const Point2 eye =
            distance(g.leftEye, c.leftEye) < distance(g.rightEye, c.leftEye) ? g.leftEye : g.rightEye;
        EXPECT_LT(distance(eye, c.leftEye), 6);
    }
}

TEST_F(Models, MirroredAndScaledFaces) {
    const PictureBuffer astronaut = dataPicture("astronaut.png");

    const Track mirror = track(mirrored(astronaut));
    ASSERT_TRUE(mirror.found);
    EXPECT_GE(mirror.confidence, 0.5f);
    EXPECT_LT(mirror.geometry.leftEye.x, mirror.geometry.rightEye.x);
    EXPECT_LT(std::fabs(mirror.geometry.roll), 10 * kDegree);
    EXPECT_LT(distance(mirror.geometry.leftEye, {511 - kRightEye.x, kRightEye.y}), 5);

    // Half size: every position halves.
    const Track half = track(placedOn(astronaut, 256, 256, 0.5f, 0, 0));
    ASSERT_TRUE(half.found);
    EXPECT_GE(half.confidence, 0.5f);
    EXPECT_LT(distance(half.geometry.leftEye, {kLeftEye.x / 2, kLeftEye.y / 2}), 3);
    EXPECT_LT(distance(half.geometry.rightEye, {kRightEye.x / 2, kRightEye.y / 2}), 3);

    // The head and shoulders on a 16:9 frame (the letterboxed path, bars above and below).
    const Track wide = track(placedOn(cut(astronaut, 100, 0, 300, 300), 533, 300, 1, 120, 0));
    ASSERT_TRUE(wide.found);
    EXPECT_GE(wide.confidence, 0.5f);
    EXPECT_LT(distance(wide.geometry.leftEye, {kLeftEye.x + 20, kLeftEye.y}), 5);

    // Larger than the original on a 1280 × 720 frame, the top of the head cut by the frame's edge.
    const Track large = track(placedOn(astronaut, 1280, 720, 1.4f, 300, 0));
    ASSERT_TRUE(large.found);
    EXPECT_GE(large.confidence, 0.5f);
    EXPECT_LT(distance(large.geometry.rightEye, {300 + kRightEye.x * 1.4f, kRightEye.y * 1.4f}), 7);
}

TEST_F(Models, TrackingContinuesWithTheFacePartlyOutside) {
    // A face that drifts off the left edge: the region from the last full view hangs over the edge, the
    // outside reads black, and the mesh keeps the face while its confidence holds.
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    const Track full = track(astronaut);
    ASSERT_TRUE(full.found);
    const int left = 205;  // the image-left eye's centre is just outside now
    const PictureBuffer part = cut(astronaut, left, 0, astronaut.width - left, astronaut.height);
    FaceRegion region = full.next;
    region.centreX -= left;
    const float confidence = trackFace(*tracker, part.view(), region);
    EXPECT_GE(confidence, 0.5f);
    const FaceGeometry g = computeGeometry(tracker->landmarks);
    EXPECT_LT(distance(g.rightEye, {kRightEye.x - left, kRightEye.y}), 6);
    EXPECT_LT(std::fabs(g.roll), 15 * kDegree);
}

TEST_F(Models, PersonMaskSeparatesPeopleFromTheRoom) {
    auto meanOver = [](const std::vector<float>& mask, int x0, int y0, int x1, int y1) {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += mask[y * kPersonMaskWidth + x];
        return sum / ((x1 - x0) * (y1 - y0));
    };
    const uint8_t* uploaded = nullptr;
    tracker->uploadPersonMask = [&](const uint8_t* pixels) {
        uploaded = pixels;
        return true;
    };

    // The astronaut: the suit is person, the flag and the shuttle are room (mask cells of 2 × 3.6 pixels).
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    ASSERT_TRUE(segmentPerson(*tracker, astronaut.view()));
    EXPECT_EQ(uploaded, tracker->personMaskPixels.data());
    EXPECT_GT(meanOver(tracker->personMask, 50, 110, 130, 140), 0.8) << "suit";
    EXPECT_LT(meanOver(tracker->personMask, 0, 10, 24, 40), 0.1) << "flag";
    EXPECT_LT(meanOver(tracker->personMask, 200, 10, 230, 60), 0.1) << "shuttle";

    // People walking on a square (768 × 576 squeezed to 256 × 144: 3 × 4 pixels a cell).
    const PictureBuffer walk = dataVideoFrame("vtest.avi", 20);
    ASSERT_EQ(walk.width, 768);
    ASSERT_TRUE(segmentPerson(*tracker, walk.view()));
    EXPECT_GT(meanOver(tracker->personMask, 123, 52, 129, 66), 0.5) << "the man in the middle";
    EXPECT_LT(meanOver(tracker->personMask, 17, 88, 117, 137), 0.05) << "the lawn";
    EXPECT_LT(meanOver(tracker->personMask, 110, 2, 190, 25), 0.05) << "the building";

    tracker->uploadPersonMask = [](const uint8_t*) { return false; };
    EXPECT_FALSE(segmentPerson(*tracker, walk.view())) << "a failed upload is reported";
    tracker->uploadPersonMask = nullptr;
}

// Set-up with folders of our own: the runtime's messages reach the caller, and a missing person mask
// leaves tracking working.
class ModelSetUp : public ::testing::Test {
protected:
    void SetUp() override {
        folder = temp.folder();
        logFile = folder + "log.txt";
        setLogPath(logFile);
    }
    void TearDown() override {
        setLogPath({});
        for (const std::string& name : listFileNames(folder))
            std::remove((folder + name).c_str());
        rmdir(folder.c_str());
    }
    std::string log() const {
        std::ifstream in(logFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void link(const char* name) const {
        ASSERT_EQ(symlink((executableDir() + name).c_str(), (folder + name).c_str()), 0);
    }
    test::TempDir temp;
    std::string folder, logFile;
};

TEST_F(ModelSetUp, MissingOrBrokenFaceModelsThrowTheRuntimeMessage) {
    FaceTracker tracker;
    try {
        loadModels(tracker, {true, 0, folder});
        FAIL() << "no exception";
    } catch (const ModelError& error) {
        EXPECT_NE(std::string(error.what()).find("face_detector.onnx"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(tracker.detectorSession);

    // A file that is not a model: still an error with a message, not a crash.
    std::ofstream(folder + "face_detector.onnx") << "not a model\x08\x01\x12\xff\xff\xff\xff\x0f";
    EXPECT_THROW(loadModels(tracker, {true, 0, folder}), ModelError);

    // No session at all: detecting is a model error, not a crash.
    std::vector<uint8_t> pixels(64 * 64 * 4, 128);
    FaceRegion region;
    EXPECT_THROW(detectFace(tracker, packedPicture(pixels.data(), 64, 64), region), ModelError);
}

TEST_F(ModelSetUp, AModelThatBreaksItsContractIsAModelError) {
    // Files that load but are the wrong models: each inference fails with the runtime's message, and
    // whatever the run made is released (the sanitizer run would see a leak).
    REQUIRE_MODELS();
    ASSERT_EQ(symlink((executableDir() + "face_mesh.onnx").c_str(), (folder + "face_detector.onnx").c_str()),
              0);
    ASSERT_EQ(symlink((executableDir() + "person_mask.onnx").c_str(), (folder + "face_mesh.onnx").c_str()),
              0);
    ASSERT_EQ(
        symlink((executableDir() + "face_detector.onnx").c_str(), (folder + "person_mask.onnx").c_str()), 0);
    FaceTracker tracker;
    loadModels(tracker, {true, 1, folder});
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    FaceRegion region{256, 256, 200, 0};
    auto expectModelError = [](auto call, const char* what) {
        try {
            call();
            ADD_FAILURE() << what << ": no exception";
        } catch (const ModelError& error) {
            EXPECT_GT(std::string(error.what()).size(), 10u) << what;
        }
    };
    expectModelError([&] { detectFace(tracker, astronaut.view(), region); }, "detector");
    expectModelError([&] { trackFace(tracker, astronaut.view(), region); }, "mesh");
    expectModelError([&] { segmentPerson(tracker, astronaut.view()); }, "person mask");
}

TEST_F(ModelSetUp, WithoutThePersonMaskTrackingStillRuns) {
    REQUIRE_MODELS();
    link("face_detector.onnx");
    link("face_mesh.onnx");
    FaceTracker tracker;
    loadModels(tracker, {true, 0, folder});
    const std::string text = log();
    EXPECT_NE(text.find("face models loaded, running on the CPU (threads 0)"), std::string::npos) << text;
    EXPECT_NE(text.find("person mask model not loaded: "), std::string::npos) << text;
    EXPECT_FALSE(tracker.personMaskSession);

    const PictureBuffer astronaut = dataPicture("astronaut.png");
    FaceRegion region;
    ASSERT_TRUE(detectFace(tracker, astronaut.view(), region));
    EXPECT_GE(trackFace(tracker, astronaut.view(), region), 0.5f);
    EXPECT_FALSE(segmentPerson(tracker, astronaut.view()));
}

TEST_F(ModelSetUp, GpuPathSaysWhereItRunsAndKeepsTheThreadCount) {
    REQUIRE_MODELS();
    link("face_detector.onnx");
    link("face_mesh.onnx");
    link("person_mask.onnx");
    FaceTracker tracker;
    loadModels(tracker, {false, 4, folder});
    const std::string text = log();
    const bool gpu = text.find("running on the GPU (CUDA) (threads 4)") != std::string::npos;
    const bool cpu = text.find("running on the CPU (no GPU provider) (threads 4)") != std::string::npos ||
                     text.find("running on the CPU (GPU failed) (threads 4)") != std::string::npos;
    EXPECT_TRUE(gpu || cpu) << text;
    EXPECT_TRUE(tracker.personMaskSession);

    // Loading again replaces every session and keeps working.
    loadModels(tracker, {true, 2, folder});
    const PictureBuffer astronaut = dataPicture("astronaut.png");
    FaceRegion region;
    EXPECT_TRUE(detectFace(tracker, astronaut.view(), region));
}

}  // namespace
}  // namespace qm
