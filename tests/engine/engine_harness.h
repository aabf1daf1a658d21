// Runs an Engine with the scripted fake video, the real composition behind a probe that records what
// each frame was asked to draw, and (optionally) a tracker that always finds a face. Each harness has its own
// shared block, log file and section name.
#pragma once

#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "engine/engine.h"
#include "engine/no_face_tracking.h"
#include "engine/render_drawing.h"
#include "tests/source/fake_video.h"
#include "tests/source/test_videos.h"

namespace qm::test {

struct DrawnFrame {
    int frameIndex = 0;
    double atMs = 0;
    bool face = false;
    FaceGeometry geometry;
    int effectiveFace = 0;
    uint32_t width = 0, height = 0;
};

struct DrawProbe {
    std::mutex mutex;
    std::vector<DrawnFrame> frames;
    std::vector<std::pair<uint32_t, uint32_t>> sizeHooks;
    std::function<void(int frameIndex)> onFrame;  // runs on the engine thread before drawing
    bool throwAt = false;
    int throwIndex = -1;

    std::vector<DrawnFrame> drawn() {
        std::lock_guard lock(mutex);
        return frames;
    }
};

class ProbeDrawing final : public FrameDrawing {
public:
    ProbeDrawing(std::shared_ptr<DrawProbe> probe, std::unique_ptr<RenderDrawing> inner)
        : probe_(std::move(probe)), inner_(std::move(inner)) {}
    HResult frameSizeChanged(uint32_t width, uint32_t height) override {
        {
            std::lock_guard lock(probe_->mutex);
            probe_->sizeHooks.push_back({width, height});
        }
        width_ = width, height_ = height;
        return inner_->frameSizeChanged(width, height);
    }
    FramePlan prepare(const FrameFilters& filters, bool maskModelLoaded) override {
        plan_ = inner_->prepare(filters, maskModelLoaded);
        return plan_;
    }
    void setFacePhoto(std::unique_ptr<FacePhoto> photo) override { inner_->setFacePhoto(std::move(photo)); }
    void restartVisitor() override { inner_->restartVisitor(); }
    bool compose(const FrameInput& input, const FrameFilters& filters) override {
        int index = input.frameIndex;
        if (probe_->onFrame) probe_->onFrame(index);
        if (index == probe_->throwIndex) throw std::runtime_error("drawing blew up");
        DrawnFrame drawn{index,
                         clockMs(),
                         input.face != nullptr,
                         input.face ? *input.face : FaceGeometry{},
                         plan_.faceKind,
                         width_,
                         height_};
        {
            std::lock_guard lock(probe_->mutex);
            probe_->frames.push_back(drawn);
        }
        return inner_->compose(input, filters);
    }
    bool roomCaptured() const override { return inner_->roomCaptured(); }
    HResult readback(CanvasView* view) override { return inner_->readback(view); }

private:
    std::shared_ptr<DrawProbe> probe_;
    std::unique_ptr<RenderDrawing> inner_;
    FramePlan plan_;
    uint32_t width_ = 0, height_ = 0;
};

// Finds a face in every frame, with mouthOpen 0.2 and eyeOpen 0.3; counts detector runs.
struct FaceProbe {
    std::atomic<int> detections{0};
    std::atomic<int> meshRuns{0};
    bool throwModelError = false;
    // The person mask: offered when maskLoaded; counts its runs and those on another thread than the mesh.
    bool maskLoaded = false;
    bool throwMaskError = false;
    std::atomic<int> maskRuns{0};
    std::atomic<int> masksBesideTheMesh{0};
    std::atomic<std::thread::id> meshThread{};
    // The look: takes a few milliseconds, then paints the whole frame green; counts its runs and those
    // on another thread than the mesh.
    bool throwLookError = false;
    std::atomic<int> lookRuns{0};
    std::atomic<int> looksBesideTheMesh{0};
};

class AlwaysFaceTracking final : public FaceTracking {
public:
    explicit AlwaysFaceTracking(std::shared_ptr<FaceProbe> probe) : probe_(std::move(probe)) {}
    int detectorRuns() const override { return probe_->detections; }
    bool detectFace(const SourceFrame&, FaceRegion* region) override {
        ++probe_->detections;
        *region = {10, 10, 20, 0};
        return true;
    }
    float trackFace(const SourceFrame&, const FaceRegion&, LandmarkSet*) override {
        if (probe_->throwModelError) throw ModelError("bad tensor shape");
        probe_->meshThread = std::this_thread::get_id();
        ++probe_->meshRuns;
        return 0.9f;
    }
    bool personMaskLoaded() const override { return probe_->maskLoaded; }
    const uint8_t* segmentPerson(const SourceFrame&) override {
        if (probe_->throwMaskError) throw ModelError("mask blew up");
        ++probe_->maskRuns;
        if (probe_->meshThread.load() != std::thread::id{} &&
            probe_->meshThread.load() != std::this_thread::get_id())
            ++probe_->masksBesideTheMesh;
        mask_.assign(256 * 144 * 4, 255);
        return mask_.data();
    }
    void applyLook(SourceFrame& frame, const LandmarkSet&, const FaceGeometry&, int, bool, float) override {
        if (probe_->throwLookError) throw ModelError("look blew up");
        ++probe_->lookRuns;
        if (probe_->meshThread.load() != std::this_thread::get_id()) ++probe_->looksBesideTheMesh;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        for (size_t i = 0; i < static_cast<size_t>(frame.width) * frame.height; ++i) {
            uint8_t* pixel = frame.pixels + i * 4;
            pixel[0] = 0, pixel[1] = 255, pixel[2] = 0;
        }
    }
    FaceRegion regionFromLandmarks(const LandmarkSet& landmarks) override { return landmarks.region; }
    FaceGeometry computeGeometry(const LandmarkSet&) override {
        FaceGeometry geometry;
        geometry.mouthOpen = 0.2f;
        geometry.eyeOpen = 0.3f;
        return geometry;
    }

private:
    std::shared_ptr<FaceProbe> probe_;
    std::vector<uint8_t> mask_;
};

// Notices from the engine, recorded process-wide (the callback is a plain function).
inline std::mutex noticeMutex;
inline std::vector<std::pair<EngineNotice, int>> notices;  // notice and the status at that moment
inline SharedState* noticeShared = nullptr;
inline void recordNotice(EngineNotice notice) {
    std::lock_guard lock(noticeMutex);
    notices.push_back({notice, noticeShared ? noticeShared->status.load() : -1});
}

struct EngineHarness {
    EngineHarness() {
        logFile = dir.file("Quillmere.log");
        setLogPath(logFile);
        sectionName = "/qmtest-engine-" + std::to_string(getpid()) + "-" + std::to_string(counter()++);
    }
    ~EngineHarness() {
        if (engine) engine->stop();
        setLogPath("");
        std::lock_guard lock(noticeMutex);
        noticeShared = nullptr;
        notices.clear();
    }
    static int& counter() {
        static int value = 0;
        return value;
    }

    void start(LaunchOptions options, bool faces = false) {
        EngineSetup setup;
        setup.shared = &shared;
        setup.sectionName = sectionName;
        setup.makeVideo = [script = script, realVideo = realVideo]() -> std::unique_ptr<VideoBackend> {
            if (realVideo) return makeSystemVideoBackend();
            return std::make_unique<FakeVideoBackend>(script);
        };
        setup.makeDrawing = [probe = draw](const LaunchOptions& options) -> std::unique_ptr<FrameDrawing> {
            std::unique_ptr<RenderDrawing> inner = RenderDrawing::create(options);
            if (!inner) return nullptr;
            return std::make_unique<ProbeDrawing>(probe, std::move(inner));
        };
        setup.makeTracking = [probe = face, faces](const LaunchOptions&) -> std::unique_ptr<FaceTracking> {
            if (faces) return std::make_unique<AlwaysFaceTracking>(probe);
            return std::make_unique<NoFaceTracking>();
        };
        engine = std::make_unique<Engine>(std::move(setup));
        ended = engine->start(options);
    }
    // Every wait gets the start-up on top of the time the test itself allows: the engine loads every
    // picture before its first frame, which takes seconds under the sanitizers on a loaded machine.
    // A wait that succeeds returns as soon as it can, so the allowance costs nothing when all is well.
    static constexpr int kStartUpAllowanceMs = 20000;
    bool waitEnded(int ms = 10000) {
        return ended->waitFor(std::chrono::milliseconds(ms + kStartUpAllowanceMs));
    }
    // Waits until the predicate holds (polling), at most `ms` plus the start-up allowance.
    bool waitFor(const std::function<bool()>& predicate, int ms = 10000) {
        double until = clockMs() + ms + kStartUpAllowanceMs;
        while (!predicate()) {
            if (clockMs() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    double stopAndTime() {
        double before = clockMs();
        engine->stop();
        return clockMs() - before;
    }
    std::string log() const {
        std::ifstream in(logFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int count(const std::string& text) const {
        std::string all = log();
        int n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }
    // True when the texts appear in the log in this order (each after the one before).
    bool inOrder(const std::vector<std::string>& texts) const {
        std::string all = log();
        size_t at = 0;
        for (const std::string& text : texts) {
            at = all.find(text, at);
            if (at == std::string::npos) return false;
            at += text.size();
        }
        return true;
    }
    void watchNotices() {
        std::lock_guard lock(noticeMutex);
        notices.clear();
        noticeShared = &shared;
        shared.notify = recordNotice;
    }

    TempDir dir;
    std::string logFile;
    std::string sectionName;
    SharedState shared;
    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    std::shared_ptr<DrawProbe> draw = std::make_shared<DrawProbe>();
    std::shared_ptr<FaceProbe> face = std::make_shared<FaceProbe>();
    bool realVideo = false;
    std::unique_ptr<Engine> engine;
    const Event* ended = nullptr;
};

}  // namespace qm::test
