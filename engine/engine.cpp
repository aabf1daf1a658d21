#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "base/clock.h"
#include "base/failure.h"
#include "base/log.h"
#include "engine/face_photo_preparation.h"
#include "engine/no_face_tracking.h"
#include "engine/render_drawing.h"
#include "engine/system_tracking.h"
#include "platform/process_usage.h"
#include "settings/publish.h"
#include "tracking/model_runtime.h"

namespace qm {
namespace {

constexpr double kFileFrameMs = 33.333333333333336;  // files play at 30 frames per second
constexpr auto kPollStep = std::chrono::milliseconds(100);
constexpr int kBackOffSteps = 20;  // 2 seconds
constexpr int kOverrideFrom = 45;  // --open and --blink act on frames after this index
constexpr float kBlinkEyeOpen = 0.04f;

void sleepMs(double ms) {
    if (ms >= 1) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(ms)));
}

}  // namespace

const char* engineStatusText(int status) {
    switch (status) {
        case kStatusRunning:
            return "running";
        case kStatusNoCamera:
            return "no camera found";
        case kStatusNoFrames:
            return "not giving frames (unplugged, or in use by another app)";
        case kStatusTurnedOff:
            return "turned off";
        default:
            return "";
    }
}

EngineSetup programEngineSetup() {
    EngineSetup setup;
    setup.shared = &sharedState();
    setup.makeVideo = [] { return makeSystemVideoBackend(); };
    setup.makeDrawing = [](const LaunchOptions& options) -> std::unique_ptr<FrameDrawing> {
        return RenderDrawing::create(options);
    };
    setup.makeTracking = [](const LaunchOptions& options) -> std::unique_ptr<FaceTracking> {
        return std::make_unique<ModelFaceTracking>(options);
    };
    return setup;
}

void publishLaunchFilters(const LaunchOptions& options, SharedState& shared) {
    EngineFilters& filters = shared.filters;
    filters.faceKind.exchange(options.face);
    std::lock_guard lock(shared.filterLock);
    for (int slot = 0; slot < kWearSlots; ++slot) {
        filters.wear[slot] = options.wear[slot];
        filters.wearFit[slot] = options.wearFit[slot];
    }
    filters.torso = options.torso;
    filters.bodyless.exchange(options.bodyless);
    filters.look.exchange(options.look);
    filters.blur.exchange(options.blur);
    filters.backgroundPicture = options.background;
    filters.visitor = options.visitor;
    filters.masculine.exchange(options.masculine);
    filters.facePicture = options.customFace;
    filters.photo.tilt = options.tilt;
    filters.photo.exposure = options.exposure;
    filters.photo.warmth = options.warmth;
    filters.photo.neck = options.neck;
    filters.photo.photoEyes = options.photoEyes;
    filters.photo.photoMouth = options.photoMouth;
}

Engine::Engine(EngineSetup setup)
    : setup_(std::move(setup)), shared_(setup_.shared ? *setup_.shared : sharedState()) {}

Engine::~Engine() {
    stop();
}

const Event* Engine::start(const LaunchOptions& options) {
    options_ = options;
    if (!options.dumpPath.empty() && options.frames != 0 && options.frames <= options.dumpAt)
        logLine("no dump: the run ends after %d frames, before frame %d", options.frames, options.dumpAt);
    source_.camera = options.camera;
    source_.file = options.file;
    publishLaunchFilters(options, shared_);
    ended_.reset();
    stop_ = false;
    failed_ = false;
    // A failure to start the thread is fatal (std::system_error escapes to the caller).
    thread_ = std::thread([this] { run(); });
    return &ended_;
}

void Engine::stop() {
    stop_.exchange(true);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Engine::run() {
    // Thread start: drawing first (without it there is nothing to send), then the models.
    try {
        if (setup_.makeDrawing) drawing_ = setup_.makeDrawing(options_);
    } catch (const std::exception&) {
        drawing_.reset();
    }
    if (!drawing_) {
        logLine("engine: graphics failed, stopping");
        failed_ = true;
        shutdown();
        return;
    }
    try {
        video_ = setup_.makeVideo ? setup_.makeVideo() : makeSystemVideoBackend();
        if (setup_.makeTracking) tracking_ = setup_.makeTracking(options_);
        if (!tracking_) tracking_ = std::make_unique<NoFaceTracking>();
        sourceContext_.reset(new SourceContext{*video_, shared_, stop_, [this] {
                                                   following_ = false;
                                                   return !failed(drawing_->frameSizeChanged(
                                                       source_.frameWidth, source_.frameHeight));
                                               }});
        processors_ = std::max(1u, std::thread::hardware_concurrency());
        if (processors_ > 1) rowHelper_ = std::make_unique<RowHelper>();
        lastStatisticsMs_ = clockMs();
        lastCpu100ns_ = processCpu100ns();
        while (pass()) {
        }
    } catch (const ModelError& error) {
        logLine("engine: face model error: %s", error.what());
        failed_ = true;
    } catch (const std::exception& error) {
        logLine("engine: error: %s", error.what());
        failed_ = true;
    }
    shutdown();
}

void Engine::shutdown() {
    tracking_.reset();
    source_.reader.reset();
    drawing_.reset();
    logLine("engine stopped");
    ended_.set();
}

void Engine::setStatus(int status) {
    int old = shared_.status.exchange(status);
    if (old == status) return;
    logLine("engine: source %s", engineStatusText(status));
    if (EngineNotify notify = shared_.notify.load()) notify(kNoticeStatus);
}

void Engine::backOff() {
    for (int i = 0; i < kBackOffSteps; ++i) {
        if (stop_.load() || shared_.sourceChanged.load()) return;
        std::this_thread::sleep_for(kPollStep);
    }
}

bool Engine::openAndPrepare() {
    source_.isFile = false;
    {
        std::lock_guard lock(shared_.filterLock);
        shared_.sourceLabel.clear();
    }
    HResult hr = openSource(source_, *sourceContext_);
    if (!failed(hr)) hr = drawing_->frameSizeChanged(source_.frameWidth, source_.frameHeight);
    if (!failed(hr)) {
        following_ = false;
        pacingBase_ = clockMs() - frameIndex_.load() * kFileFrameMs;
        return true;
    }
    source_.reader.reset();
    source_.shareCamera = false;
    setStatus(hr == kNotFound ? kStatusNoCamera : kStatusNoFrames);
    return false;
}

bool Engine::pass() {
    const int frameIndex = frameIndex_.load();
    if (stop_.load() || (options_.frames != 0 && frameIndex >= options_.frames)) return false;

    // Source request from the window.
    if (shared_.sourceChanged.exchange(false)) {
        std::lock_guard lock(shared_.filterLock);
        source_.camera = shared_.requestedCamera;
        source_.file = shared_.requestedFile;
        options_.camera = source_.camera;
        options_.file = source_.file;
        source_.reader.reset();
        source_.shareCamera = false;
    }

    // Camera off: keep the source closed and poll.
    if (shared_.cameraOff.load()) {
        source_.reader.reset();
        {
            std::lock_guard lock(shared_.filterLock);
            shared_.sourceLabel.clear();
        }
        setStatus(kStatusTurnedOff);
        std::this_thread::sleep_for(kPollStep);
        return true;
    }

    if (!source_.reader && !openAndPrepare()) {
        if (options_.frames != 0) {
            logLine("engine: no source, stopping");
            failed_ = true;
            return false;
        }
        backOff();
        return true;
    }

    // Files play at 30 frames per second from the pacing base; cameras at their own rate.
    if (source_.isFile) sleepMs(frameIndex * kFileFrameMs + pacingBase_ - clockMs());

    const double readStart = clockMs();
    if (!readFrame(source_, *sourceContext_)) {
        if (stop_.load()) return false;
        if (!source_.isFile && !source_.shareCamera) {
            source_.reader.reset();
            if (shared_.status.load() != kStatusNoFrames)
                logLine("source: no frames, asking to share the camera");
            source_.shareCamera = true;
            return true;
        }
        source_.reader.reset();
        source_.shareCamera = false;
        setStatus(kStatusNoFrames);
        if (options_.frames != 0) {
            failed_ = true;
            return false;
        }
        backOff();
        return true;
    }
    setStatus(kStatusRunning);
    const double t0 = clockMs();
    FrameStageTimes stages;
    stages.read = t0 - readStart;
    if (nobodyWatches()) {
        rest(frameIndex);
        stages.send = clockMs() - t0;
        account(stages, false);
        return true;
    }
    if (resting_) {
        resting_ = false;
        shared_.resting.store(false);
        following_ = false;  // the face may have moved anywhere meanwhile
        logLine(link_.up() ? "engine: the camera is watched, drawing again" : "engine: drawing again");
    }

    takeFilters();
    const int look = filters_.filtering ? filters_.look : 0;
    const bool faceNeeded = plan_.needsFace(look);
    SourceFrame frame{source_.frame.data(), source_.frameWidth, source_.frameHeight};
    // With a second core, the person mask runs beside the face models, and the touch-up look beside the
    // drawing that never shows the camera picture. The mask sees the frame before the look, which
    // retouches the pixels only once the mask is done.
    const bool beside = processors_ > 1;
    const bool maskBeside = plan_.needsMask() && faceNeeded && beside;
    if (maskBeside) sideWorker_.start({SideJob::kPersonMask, tracking_.get(), frame});
    bool faceFound = false;
    try {
        faceFound = track(faceNeeded, frame);
    } catch (...) {
        sideWorker_.settle();
        throw;
    }
    const double tracked = clockMs();
    const uint8_t* personMask = maskBeside ? sideWorker_.wait() : nullptr;
    const double masked = clockMs();
    const bool retouch = faceFound && look != 0;
    const bool lookBeside = retouch && beside;
    if (lookBeside)
        sideWorker_.start({SideJob::kLook, tracking_.get(), frame, &landmarks_, &geometry_, look,
                           filters_.masculine, filters_.strength});
    else if (retouch)
        tracking_->applyLook(frame, landmarks_, geometry_, look, filters_.masculine, filters_.strength);
    // Whatever ends this frame, the look is done with the frame's pixels before the next one is read.
    struct LookGate final : PixelsGate {
        SideWorker& worker;
        std::exception_ptr error;
        explicit LookGate(SideWorker& w) : worker(w) {}
        ~LookGate() { worker.settle(); }
        void wait() override {
            try {
                worker.wait();
            } catch (...) {
                error = std::current_exception();
            }
        }
    } gate(sideWorker_);

    const double t1 = clockMs();
    stages.mask = masked - tracked;
    FrameInput input;
    input.sourcePixels = source_.frame.data();
    input.sourceStride = static_cast<int>(source_.frameWidth * 4);
    input.face = faceFound ? &geometry_ : nullptr;
    input.landmarks = faceFound ? &landmarks_ : nullptr;
    if (plan_.needsMask() && !maskBeside) {
        personMask = tracking_->segmentPerson(frame);
        stages.mask = clockMs() - t1;
    }
    input.personMask = personMask;
    input.timeMs = t1;
    input.frameIndex = frameIndex;
    input.room = {shared_.captureRoomRequest.exchange(false), shared_.forgetRoomRequest.exchange(false),
                  shared_.forgetRoom.exchange(false)};
    input.pixelsGate = lookBeside ? &gate : nullptr;
    input.rowHelper = rowHelper_.get();
    const bool drawn = drawing_->compose(input, filters_);
    gate.wait();
    if (gate.error) std::rethrow_exception(gate.error);
    if (!drawn) {
        logLine("engine: drawing failed");
        failed_ = true;
        return false;
    }
    shared_.roomCaptured.store(drawing_->roomCaptured());

    const double t2 = clockMs();
    if (failed(sendFrame(frameIndex))) {
        logLine("engine: readback failed");
        failed_ = true;
        return false;
    }
    stages.track = t1 - t0 - (maskBeside ? stages.mask : 0);
    stages.draw = t2 - t1 - (maskBeside ? 0 : stages.mask);
    stages.send = clockMs() - t2;
    account(stages, faceFound);
    if (setup_.onFrameTimes) setup_.onFrameTimes(stages);
    return true;
}

void Engine::takeFilters() {
    takeFrameFilters(shared_, options_.plain, &filters_);
    filters_.frameIndex = frameIndex_.load();
    if (filters_.facePath != preparedFacePath_) {
        preparedFacePath_ = filters_.facePath;
        preparation_.start(preparedFacePath_);
        if (preparedFacePath_.empty()) drawing_->setFacePhoto(nullptr);
    }
    // One stage of a photo's preparation per pass; the face worn so far stays on until the new one is
    // ready, and stays on when the new one can't be read.
    if (preparation_.busy()) {
        const bool done = preparation_.step(*tracking_);
        following_ = false;  // the tracker looked at the photo: the camera's face is searched afresh
        if (done) {
            if (std::unique_ptr<FacePhoto> photo = preparation_.take()) {
                shared_.facePhotoNews.store(photo->faceFound ? kPhotoWorn : kPhotoNoFace);
                drawing_->setFacePhoto(std::move(photo));
            } else {
                logLine("face picture: cannot read %s", preparation_.path().c_str());
                shared_.facePhotoNews.store(kPhotoUnreadable);
            }
        }
    }
    if (shared_.visitorRestart.exchange(false)) drawing_->restartVisitor();
    plan_ = drawing_->prepare(filters_, tracking_->personMaskLoaded());
}

bool Engine::track(bool needed, const SourceFrame& frame) {
    if (!needed) return false;
    if (!following_) {
        if (!tracking_->detectFace(frame, &region_)) return false;
        following_ = true;
    }
    if (tracking_->trackFace(frame, region_, &landmarks_) < 0.5f) {
        following_ = false;
        return false;
    }
    region_ = tracking_->regionFromLandmarks(landmarks_);
    geometry_ = tracking_->computeGeometry(landmarks_);
    const int frameIndex = frameIndex_.load();
    if (options_.open >= 0 && frameIndex > kOverrideFrom) geometry_.mouthOpen = options_.open;
    if (options_.blink && frameIndex > kOverrideFrom) geometry_.eyeOpen = kBlinkEyeOpen;
    return true;
}

HResult Engine::sendFrame(int frameIndex) {
    CanvasView view;
    HResult hr = drawing_->readback(&view);
    if (failed(hr) || !view.pixels)
        return reportFailure("Engine", __LINE__, failed(hr) ? hr : kFail, "readback");

    keepLinked(frameIndex);
    if (link_.up()) link_.write(view.pixels, view.pitch);

    if (!options_.dumpPath.empty() && frameIndex == options_.dumpAt) {
        if (writeBitmapDump(options_.dumpPath, view.pixels, view.pitch))
            logLine("saved %s", options_.dumpPath.c_str());
        else
            logLine("cannot write %s", options_.dumpPath.c_str());
    }

    if (shared_.notify.load()) handPreview(shared_, view.pixels, view.pitch);
    return kOk;
}

void Engine::keepLinked(int frameIndex) {
    const std::string& section = setup_.sectionName.empty() ? options_.frameSection : setup_.sectionName;
    // Once a second: link when the companion's section is up, and let go of one whose companion ended or
    // was replaced by a new one (which is then linked a second later).
    if (link_.up() && frameIndex % 30 == 15 && !link_.stillServed(section)) {
        link_.close();
        logLine("engine: camera link lost");
    }
    if (!link_.up() && !section.empty() && frameIndex % 30 == 0 && link_.tryOpen(section) && linkedBefore_)
        logLine("engine: camera link up again");
    if (link_.up()) linkedBefore_ = true;
    shared_.cameraOutputs.store(link_.up() ? cameraOutputs(link_.view()) : 0u);
}

// Only a linked camera that tells us nobody reads it lets the engine rest, and only while no window shows
// the preview: without a link (no companion, or none yet) the frames may still be wanted.
bool Engine::nobodyWatches() const {
    if (!link_.up() || !cameraUnwatched(cameraOutputs(link_.view()))) return false;
    return !shared_.notify.load() || shared_.previewHidden.load();
}

// A frame nobody watches: no tracking and no drawing. Once a second the last finished frame goes out
// again as a placeholder, and the link is looked after as usual, so the first consumer to come is seen at
// once.
void Engine::rest(int frameIndex) {
    if (!resting_) {
        resting_ = true;
        shared_.resting.store(true);
        logLine("engine: nobody watches the camera, resting");
    }
    if (frameIndex % 30 == 0) {
        CanvasView view;
        if (!failed(drawing_->readback(&view)) && view.pixels) link_.write(view.pixels, view.pitch);
    }
    keepLinked(frameIndex);
}

void Engine::account(const FrameStageTimes& stages, bool faceFound) {
    // The line's draw figure includes the person mask, as it always has.
    times_.track += stages.track;
    times_.draw += stages.mask + stages.draw;
    times_.send += stages.send;
    times_.worst = std::max(times_.worst, stages.track + stages.mask + stages.draw + stages.send);
    if (faceFound) ++times_.faces;
    const int frameIndex = frameIndex_.load();
    if ((frameIndex + 1) % kStatisticsEvery == 0) statistics();
    frameIndex_.store(frameIndex + 1);
}

void Engine::statistics() {
    const double now = clockMs();
    const uint64_t cpu100ns = processCpu100ns();
    const double elapsed = std::max(now - lastStatisticsMs_, 1e-3);
    StatisticsFigures figures;
    figures.fps = kStatisticsEvery * 1000.0 / elapsed;
    figures.times = times_;
    shared_.frameMs.store(static_cast<float>((times_.track + times_.draw + times_.send) / kStatisticsEvery));
    shared_.linkUp.store(link_.up());
    figures.cpu = double(cpu100ns - lastCpu100ns_) / 10000.0 / elapsed * 100.0;
    figures.processors = processors_;
    figures.cpuAll = figures.cpu / processors_;
    figures.memoryMb = static_cast<unsigned>(processResidentBytes() >> 20);
    figures.detectorRuns = tracking_->detectorRuns();
    figures.linkUp = link_.up();
    figures.outputs = link_.up() ? cameraOutputs(link_.view()) : 0u;
    figures.resting = resting_;
    logLine("%s", formatStatistics(figures).c_str());
    times_ = FrameTimes{};
    lastStatisticsMs_ = now;
    lastCpu100ns_ = cpu100ns;
}

namespace {
// The program's one engine: made by the first startEngine, never destroyed.
Engine*& programEngine() {
    static Engine* engine = nullptr;
    return engine;
}
}  // namespace

const Event* startEngine(const LaunchOptions& options) {
    if (!programEngine()) programEngine() = new Engine(programEngineSetup());
    return programEngine()->start(options);
}

void stopEngine() {
    if (programEngine()) programEngine()->stop();
}

bool engineFailed() {
    return programEngine() && programEngine()->endedOnError();
}

}  // namespace qm
