// The engine: one object and one thread that turn source frames into filtered 1280 × 720 frames at the
// pace of the source, and hand them to the virtual camera, the dump file and the preview.
//
// Contract: start-up creates the one Engine and calls start (main thread); the engine thread then owns
// the source reader, the tracking models, the drawing resources and the section view. It talks to the
// window only through the shared block (short copies under filterLock, atomics, the notify callback).
// stop() sets the stop flag and joins; every wait inside the loop notices the flag within 100 ms.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/launch_options.h"
#include "base/row_helper.h"
#include "engine/engine_seams.h"
#include "engine/face_photo_preparation.h"
#include "engine/hand_over.h"
#include "engine/side_worker.h"
#include "engine/statistics.h"
#include "platform/event.h"
#include "platform/frame_section.h"
#include "settings/shared_state.h"
#include "source/video_source.h"

namespace qm {

// How the engine gets its parts: the program uses the system ones, tests swap in fakes. The factories
// run on the engine thread.
struct EngineSetup {
    SharedState* shared = nullptr;
    std::string sectionName;  // empty: the launch options' frame section
    std::function<std::unique_ptr<VideoBackend>()> makeVideo;
    std::function<std::unique_ptr<FrameDrawing>(const LaunchOptions&)> makeDrawing;
    std::function<std::unique_ptr<FaceTracking>(const LaunchOptions&)> makeTracking;
    // Called on the engine thread after every drawn frame with its stage times (the benchmark's view;
    // the statistics line sums the same figures). Empty in the program.
    std::function<void(const FrameStageTimes&)> onFrameTimes;
};

// The program's parts: system video, the process-wide shared block, the real section name.
EngineSetup programEngineSetup();

// The status texts of "engine: source %s".
const char* engineStatusText(int status);

class Engine {
public:
    explicit Engine(EngineSetup setup);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine();

    // Copies the options, publishes their filter values, starts the thread; returns the ended event.
    const Event* start(const LaunchOptions& options);
    // Sets the stop flag and joins the thread (a no-op when it never started).
    void stop();

    const Event& ended() const { return ended_; }
    // The thread ended on an error (a failed start, a model or drawing error, no source while a frame
    // count was asked for), not on stop or at its frame count.
    bool endedOnError() const { return failed_.load(); }
    int frameIndex() const { return frameIndex_.load(); }

private:
    void run();
    bool pass();  // one pass of the loop; false ends it
    void shutdown();
    void setStatus(int status);
    void backOff();
    bool openAndPrepare();
    void takeFilters();
    bool track(bool needed, const SourceFrame& frame);  // the face models; the caller applies the look
    HResult sendFrame(int frameIndex);
    void keepLinked(int frameIndex);
    bool nobodyWatches() const;
    void rest(int frameIndex);
    void account(const FrameStageTimes& stages, bool faceFound);
    void statistics();

    EngineSetup setup_;
    SharedState& shared_;
    LaunchOptions options_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    Event ended_;

    std::unique_ptr<VideoBackend> video_;
    std::unique_ptr<FaceTracking> tracking_;
    std::unique_ptr<FrameDrawing> drawing_;
    SideWorker sideWorker_;                 // after tracking_: ends before the models it uses
    std::unique_ptr<RowHelper> rowHelper_;  // with a second core: shares the large blits' rows
    SourceState source_;
    std::unique_ptr<SourceContext> sourceContext_;

    bool following_ = false;  // a face is followed from frame to frame
    FaceRegion region_;
    LandmarkSet landmarks_;
    FaceGeometry geometry_;
    FrameFilters filters_;  // this frame's filter values, handed to drawing as they are
    FramePlan plan_;
    std::string preparedFacePath_;
    FacePhotoPreparation preparation_;
    std::atomic<int> frameIndex_{0};
    FrameLink link_;
    bool linkedBefore_ = false;  // the link has been up once: a new one is a relink
    bool resting_ = false;       // nobody watched the last frame
    double pacingBase_ = 0;

    FrameTimes times_;
    double lastStatisticsMs_ = 0;
    uint64_t lastCpu100ns_ = 0;
    unsigned processors_ = 1;
};

// The program's one engine (created on first use, never destroyed).
const Event* startEngine(const LaunchOptions& options);
void stopEngine();
bool engineFailed();

// Publishes the launch record's filter values into EngineFilters (done by start before the thread runs).
void publishLaunchFilters(const LaunchOptions& options, SharedState& shared);

}  // namespace qm
