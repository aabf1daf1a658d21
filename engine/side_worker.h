// The person mask on a thread of its own, run while the engine thread tracks the face: on a machine with
// two cores or more the two models overlap instead of adding up (about 2 ms a frame with everything on).
//
// Contract: one owner thread calls start and then wait, in turn; between the two the frame's pixels and
// the tracking object stay as they are (the engine retouches the frame only after wait). The thread
// starts with the first start and ends with the object.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/engine_seams.h"

namespace qm {

class MaskWorker {
public:
    MaskWorker() = default;
    MaskWorker(const MaskWorker&) = delete;
    MaskWorker& operator=(const MaskWorker&) = delete;
    ~MaskWorker();

    void start(FaceTracking& tracking, const SourceFrame& frame);
    // The frame's mask pixels (null when there is none); rethrows what the model threw.
    const uint8_t* wait();
    // Waits without asking for the result (an unwinding owner).
    void settle() noexcept;

private:
    void loop();

    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_, finished_;
    FaceTracking* tracking_ = nullptr;
    SourceFrame frame_{};
    bool pending_ = false, done_ = false, quit_ = false;
    bool started_ = false;  // owner side: a start not yet waited for
    const uint8_t* mask_ = nullptr;
    std::exception_ptr error_;
};

}  // namespace qm
