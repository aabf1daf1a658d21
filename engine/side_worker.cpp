#include "engine/side_worker.h"

#include <utility>

namespace qm {

SideWorker::~SideWorker() {
    settle();
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SideWorker::start(const SideJob& job) {
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    {
        std::lock_guard guard(lock_);
        job_ = job;
        pending_ = true;
        done_ = false;
    }
    started_ = true;
    wake_.notify_one();
}

const uint8_t* SideWorker::wait() {
    if (!started_) return nullptr;
    std::unique_lock guard(lock_);
    finished_.wait(guard, [this] { return done_; });
    started_ = false;
    if (std::exception_ptr error = std::exchange(error_, nullptr)) std::rethrow_exception(error);
    return mask_;
}

void SideWorker::settle() noexcept {
    try {
        wait();
    } catch (...) {
        // The owner is already unwinding on its own error.
    }
}

void SideWorker::loop() {
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return pending_ || quit_; });
        if (quit_) return;
        pending_ = false;
        SideJob job = job_;
        guard.unlock();
        const uint8_t* mask = nullptr;
        std::exception_ptr error;
        try {
            if (job.kind == SideJob::kPersonMask)
                mask = job.tracking->segmentPerson(job.frame);
            else
                job.tracking->applyLook(job.frame, *job.landmarks, *job.face, job.look, job.masculine,
                                        job.strength);
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
