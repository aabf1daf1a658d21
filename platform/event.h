// A manual-reset event inside one process: once set it stays set until reset, and every waiter wakes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm {

class Event {
public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    bool isSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // True when the event is set within the time-out.
    bool waitFor(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return set_; });
    }
    void wait() const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace qm
