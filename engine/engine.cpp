#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "app/clock.h"
#include "app/failure.h"
#include "app/log.h"
#include "engine/no_face_tracking.h"
#include "engine/render_drawing.h"
#include "engine/system_tracking.h"
#include "platform/process_usage.h"
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
        return RenderDrawing::create(options, sharedState());
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
    filters.tilt = options.tilt;
    filters.exposure = options.exposure;
    filters.warmth = options.warmth;
    filters.neck = options.neck;
    filters.photoEyes = options.photoEyes;
    filters.photoMouth = options.photoMouth;
}

Engine::Engine(EngineSetup setup)
    : setup_(std::move(setup)), shared_(setup_.shared ? *setup_.shared : sharedState()) {}

Engine::~Engine() {
    stop();
}

const Event* Engine::start(const LaunchOptions& options) {
    options_ = options;
    source_.camera = options.camera;
    source_.file = options.file;
    publishLaunchFilters(options, shared_);
    ended_.reset();
    stop_ = false;
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
        lastStatisticsMs_ = clockMs();
        lastCpu100ns_ = processCpu100ns();
        while (pass()) {
        }
    } catch (const ModelError& error) {
        logLine("engine: face model error: %s", error.what());
    } catch (const FaceModelError& error) {
        logLine("engine: face model error: %s", error.what());
    } catch (const std::exception& error) {
        logLine("engine: error: %s", error.what());
    }
    shutdown();
}

void Engine::shutdown() {
    if (drawing_) drawing_->freeTorso();
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
            return false;
        }
        backOff();
        return true;
    }

    // Files play at 30 frames per second from the pacing base; cameras at their own rate.
    if (source_.isFile) sleepMs(frameIndex * kFileFrameMs + pacingBase_ - clockMs());

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
        if (options_.frames != 0) return false;
        backOff();
        return true;
    }
    setStatus(kStatusRunning);
    const double t0 = clockMs();

    int effectiveFace = 0;
    takeFilters(effectiveFace);
    applyChanges(effectiveFace);

    const bool filtering = !options_.plain && shared_.filters.filtersOn.load();
    const bool maskModel = tracking_->personMaskLoaded();
    const bool removeBody = filtering && (filters_.bodyless || drawing_->torsoLoaded()) && maskModel;
    const bool replaceBackground =
        filtering && (drawing_->backgroundLoaded() || filters_.blur || drawing_->visitorLoaded()) &&
        maskModel;
    const int look = filtering ? shared_.filters.look.load() : 0;

    const bool faceFound = track(effectiveFace != 0 || filters_.hasWear || removeBody || look != 0, look);

    const double t1 = clockMs();
    SourceFrame frame{source_.frame.data(), source_.frameWidth, source_.frameHeight};
    DrawRequest request;
    request.face = faceFound ? &geometry_ : nullptr;
    request.landmarks = faceFound ? &landmarks_ : nullptr;
    if (removeBody || replaceBackground) request.personMask = tracking_->segmentPerson(frame);
    request.effectiveFace = effectiveFace;
    request.timeMs = t1;
    request.removeBody = removeBody;
    request.replaceBackground = replaceBackground;
    request.filters = &filters_;
    if (!drawing_->compose(frame, request)) {
        logLine("engine: drawing failed");
        return false;
    }

    const double t2 = clockMs();
    if (failed(sendFrame(frameIndex))) {
        logLine("engine: readback failed");
        return false;
    }
    account(t0, t1, t2, clockMs(), faceFound);
    return true;
}

void Engine::takeFilters(int& effectiveFace) {
    EngineFilters& published = shared_.filters;
    const bool filtering = !options_.plain && published.filtersOn.load();
    effectiveFace = filtering ? published.faceKind.load() : 0;
    filters_.frameIndex = frameIndex_.load();
    std::lock_guard lock(shared_.filterLock);
    filters_.hasWear = false;
    for (int slot = 0; slot < kWearSlots; ++slot) {
        if (published.wear[slot] != filters_.wearName[slot]) {
            filters_.wearName[slot] = published.wear[slot];
            filters_.wearItem[slot] =
                filters_.wearName[slot].empty() ? -1 : drawing_->findWear(slot, filters_.wearName[slot]);
        }
        filters_.wearFit[slot] = published.wearFit[slot];
        if (filters_.wearItem[slot] >= 0) filters_.hasWear = true;
    }
    filters_.faceFit = published.faceFit;
    filters_.torsoFit = published.torsoFit;
    filters_.bodyless = published.bodyless.load();
    publishedTorso_ = published.torso;
    publishedVisitor_ = published.visitor;
    publishedBackground_ = published.backgroundPicture;
    publishedFace_ = published.facePicture;
    filters_.visitorFit = published.visitorFit;
    filters_.tilt = published.tilt;
    filters_.exposure = published.exposure;
    filters_.warmth = published.warmth;
    filters_.neck = published.neck;
    filters_.photoEyes = published.photoEyes;
    filters_.photoMouth = published.photoMouth;
    if (!filtering) filters_.hasWear = false;
}

void Engine::applyChanges(int& effectiveFace) {
    EngineFilters& published = shared_.filters;
    if (publishedTorso_ != filters_.torsoName) {
        filters_.torsoName = publishedTorso_;
        drawing_->loadTorso(filters_.torsoName);
    }
    if (publishedVisitor_ != filters_.visitorName) {
        filters_.visitorName = publishedVisitor_;
        drawing_->loadVisitor(filters_.visitorName);
    }
    filters_.visitorEvery = published.visitorEvery.load();
    filters_.ghost = published.ghost.load();
    if (shared_.visitorRestart.exchange(false)) filters_.visitorRestartAt = -1;
    if (publishedBackground_ != filters_.backgroundPath) {
        filters_.backgroundPath = publishedBackground_;
        if (!drawing_->loadBackground(filters_.backgroundPath) && !filters_.backgroundPath.empty())
            logLine("background: cannot read %s", filters_.backgroundPath.c_str());
    }
    if (publishedFace_ != filters_.facePath) {
        filters_.facePath = publishedFace_;
        preparedNeck_ = filters_.neck;
        if (!drawing_->prepareFacePhoto(filters_.facePath) && !filters_.facePath.empty())
            logLine("face picture: cannot read %s", filters_.facePath.c_str());
    }
    if (drawing_->facePhotoReady() && preparedNeck_ != filters_.neck) {
        preparedNeck_ = filters_.neck;
        drawing_->redoNeck(filters_.neck);
    }
    if (effectiveFace == kFaceCustom && !drawing_->facePhotoReady()) effectiveFace = kFaceNone;
    filters_.blur = published.blur.load();
}

bool Engine::track(bool needed, int look) {
    if (!needed) return false;
    SourceFrame frame{source_.frame.data(), source_.frameWidth, source_.frameHeight};
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
    if (look != 0)
        tracking_->applyLook(frame, landmarks_, geometry_, look, shared_.filters.masculine.load(),
                             shared_.filters.strength.load());
    return true;
}

HResult Engine::sendFrame(int frameIndex) {
    CanvasView view;
    HResult hr = drawing_->readback(&view);
    if (failed(hr) || !view.pixels)
        return reportFailure("Engine", __LINE__, failed(hr) ? hr : kFail, "readback");

    if (!link_.up() && frameIndex % 30 == 0) link_.tryOpen(setup_.sectionName);
    if (link_.up()) link_.write(view.pixels, view.pitch);

    if (!options_.dumpPath.empty() && frameIndex == options_.dumpAt) {
        if (writeBitmapDump(options_.dumpPath, view.pixels, view.pitch))
            logLine("saved %s", options_.dumpPath.c_str());
        else
            logLine("cannot write %s", options_.dumpPath.c_str());
    }

    if (shared_.notify.load()) handPreview(shared_, view.pixels, view.pitch);
    drawing_->endReadback();
    return kOk;
}

void Engine::account(double t0, double t1, double t2, double t3, bool faceFound) {
    times_.track += t1 - t0;
    times_.draw += t2 - t1;
    times_.send += t3 - t2;
    times_.worst = std::max(times_.worst, t3 - t0);
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

}  // namespace qm
