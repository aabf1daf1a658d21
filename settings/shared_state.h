// The one block of process-wide state that the window and the engine share, guarded by filterLock.
//
// filterLock is held only for short copies, never across a source read, a model run, drawing or file
// access. Scalar fields are atomics that may also be read or written without the lock; strings and
// multi-value fields are read and written only under it. One-shot requests are atomic flags that the
// engine consumes by exchanging them with false.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/filter_types.h"

namespace qm {

// EngineFilters: the published copy of the filter state that the engine reads each frame.
struct EngineFilters {
    std::atomic<int> faceKind{kFaceMorvel};
    std::atomic<bool> filtersOn{true};
    Fit faceFit;              // lock
    std::string facePicture;  // lock; faces folder + faceId
    PhotoFit photo;           // lock; tilt in radians
    std::atomic<int> look{kLookNone};
    std::atomic<bool> masculine{false};
    std::atomic<float> strength{1};
    std::string backgroundPicture;          // lock; empty for "none" and "blur"
    std::atomic<int> backgroundVersion{0};  // raised when the picture is replaced under the same name
    std::atomic<bool> blur{false};
    std::string visitor;  // lock
    Fit visitorFit;       // lock
    std::atomic<float> visitorEvery{15};
    std::atomic<bool> ghost{false};
    std::string torso;  // lock
    Fit torsoFit;       // lock
    std::atomic<bool> bodyless{false};
    std::atomic<float> headScale{1};
    std::string wear[kWearSlots];  // lock; the effective items
    Fit wearFit[kWearSlots];       // lock
};

// What the engine tells the window: a new preview frame or a status change.
enum EngineNotice : int { kNoticeNewFrame = 0, kNoticeStatus = 1 };
// Called on the engine thread; the window's implementation posts to its own loop and returns at once.
using EngineNotify = void (*)(EngineNotice notice);

// Engine status values reported to the window.
enum EngineStatus : int {
    kStatusNone = 0,
    kStatusRunning = 1,
    kStatusNoCamera = 2,
    kStatusNoFrames = 3,
    kStatusTurnedOff = 4
};

// What came of the last face photo the engine prepared.
enum FacePhotoNews : int { kPhotoNoNews = 0, kPhotoWorn = 1, kPhotoNoFace = 2, kPhotoUnreadable = 3 };

struct SharedState {
    std::mutex filterLock;
    EngineFilters filters;

    // window → engine
    std::string requestedCamera;  // lock
    std::string requestedFile;    // lock; empty for a camera
    std::atomic<bool> sourceChanged{false};
    std::atomic<bool> cameraOff{false};
    std::atomic<bool> previewHidden{false};  // the window is minimised: only the camera's consumers count
    std::atomic<bool> visitorRestart{false};
    std::atomic<bool> captureRoomRequest{false};
    std::atomic<bool> forgetRoomRequest{false};
    std::atomic<bool> forgetRoom{false};

    // engine → window
    std::string sourceLabel;  // lock; empty while no source is open
    std::atomic<int> status{kStatusNone};
    std::atomic<float> frameMs{0};
    std::atomic<bool> linkUp{false};
    std::atomic<uint32_t> cameraOutputs{0};  // CameraOutputs bits as the companion reports them
    std::atomic<bool> resting{false};        // nobody watches: the engine neither tracks nor draws
    std::atomic<bool> roomCaptured{false};
    // Set once per prepared photo; the window takes it by exchanging it with kPhotoNoNews.
    std::atomic<int> facePhotoNews{kPhotoNoNews};

    // Preview hand-off: the engine copies each sent frame into previewBuffer under the lock and sets
    // previewReady; previewPosted keeps at most one new-frame notice pending.
    std::vector<uint8_t> previewBuffer;  // lock; 1280 × 720 × 4 once the first frame is sent
    bool previewReady = false;           // lock
    std::atomic<bool> previewPosted{false};

    // The window's notice callback; null when there is no window (headless) or it is destroyed.
    std::atomic<EngineNotify> notify{nullptr};
};

SharedState& sharedState();

}  // namespace qm
