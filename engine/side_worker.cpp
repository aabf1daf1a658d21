#include "engine/mask_worker.h"

#include <utility>

namespace qm {

MaskWorker::~MaskWorker() {
    settle();
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void MaskWorker::start(FaceTracking& tracking, const SourceFrame& frame) {
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    {
        std::lock_guard guard(lock_);
        tracking_ = &tracking;
        frame_ = frame;
        pending_ = true;
        done_ = false;
    }
    started_ = true;
    wake_.notify_one();
}

const uint8_t* MaskWorker::wait() {
    if (!started_) return nullptr;
    std::unique_lock guard(lock_);
    finished_.wait(guard, [this] { return done_; });
    started_ = false;
    if (std::exception_ptr error = std::exchange(error_, nullptr)) std::rethrow_exception(error);
    return mask_;
}

void MaskWorker::settle() noexcept {
    try {
        wait();
    } catch (...) {
        // The owner is already unwinding on its own error.
    }
}

void MaskWorker::loop() {
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return pending_ || quit_; });
        if (quit_) return;
        pending_ = false;
        FaceTracking* tracking = tracking_;
        const SourceFrame frame = frame_;
        guard.unlock();
        const uint8_t* mask = nullptr;
        std::exception_ptr error;
        try {
            mask = tracking->segmentPerson(frame);
        } catch (...) {
            error = std::current_exception();
        }
        guard.lock();
        mask_ = mask;
        error_ = error;
        done_ = true;
        finished_.notify_one();
    }
}

}  // namespace qm
