// A load that runs on a thread of its own while frames go on being drawn: reading and cutting a torso's or a
// visitor's sheets, or decoding a background picture, takes tens of milliseconds to more than a second, which
// on the engine thread would freeze the picture.
//
// Contract: one owning thread starts loads and takes their results. A load overtaken by a newer one (or
// dropped) is kept until it ends, so starting another never waits for it; the destructor waits for them all.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <utility>
#include <vector>

namespace qm {

template <typename T>
class SideLoad {
public:
    // Starts load() on a thread of its own; a load still under way is dropped.
    template <typename Load>
    void start(Load load) {
        drop();
        pending_ = std::async(std::launch::async, std::move(load));
    }

    // Forgets the load under way, if any; its result is never taken.
    void drop() {
        std::erase_if(abandoned_, [](const Future& f) { return ended(f); });
        if (pending_.valid()) abandoned_.push_back(std::move(pending_));
    }

    // True once the load under way has ended: its result (null when it failed) moves into *result.
    bool take(std::unique_ptr<T>* result) {
        if (!ended(pending_)) return false;
        *result = pending_.get();
        return true;
    }

    // Blocks until the load under way has ended (tests, benchmarks), then takes it as take() does.
    bool wait(std::unique_ptr<T>* result) {
        if (pending_.valid()) pending_.wait();
        return take(result);
    }

private:
    using Future = std::future<std::unique_ptr<T>>;

    static bool ended(const Future& f) {
        return f.valid() && f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    Future pending_;
    std::vector<Future> abandoned_;
};

}  // namespace qm
