// The engine's second thread. The person mask runs on it while the engine thread tracks the face, and the
// touch-up look retouches the frame on it while the engine thread draws what never shows the camera
// picture; on a machine with two cores or more each pair overlaps instead of adding up.
//
// Contract: one owner thread starts a job and then waits for it, in turn; while a job runs, the frame's
// pixels, the tracking object and what the job points at stay as they are for it. The thread starts with
// the first job and ends with the object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/engine_seams.h"

namespace qm {

struct SideJob {
    enum Kind { kPersonMask, kLook };
    Kind kind = kPersonMask;
    FaceTracking* tracking = nullptr;
    SourceFrame frame{};
    // The look's inputs (kLook only).
    const LandmarkSet* landmarks = nullptr;
    const FaceGeometry* face = nullptr;
    int look = 0;
    bool masculine = false;
    float strength = 1;
};

class SideWorker {
public:
    SideWorker() = default;
    SideWorker(const SideWorker&) = delete;
    SideWorker& operator=(const SideWorker&) = delete;
    ~SideWorker();

    void start(const SideJob& job);
    // Waits for the job: the person mask's pixels (null when there is none, or for the look); rethrows
    // what the job threw. Without a job started it returns null at once.
    const uint8_t* wait();
    // Waits without asking for the result (an unwinding owner).
    void settle() noexcept;

private:
    void loop();

    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_, finished_;
    SideJob job_;
    bool pending_ = false, done_ = false, quit_ = false;
    bool started_ = false;  // owner side: a start not yet waited for
    const uint8_t* mask_ = nullptr;
    std::exception_ptr error_;
};

}  // namespace qm
