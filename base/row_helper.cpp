#include "base/row_helper.h"

#include <chrono>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qm {

namespace {

thread_local RowHelper* tSharing = nullptr;

// Waking a sleeping thread takes 60–100 µs on a virtual machine, as long as a mid-sized blit: the helper
// spins this long for the next loop before it sleeps (not after it was told to rest).
constexpr auto kSpin = std::chrono::microseconds(400);

inline void relax() {
#if defined(__x86_64__)
    _mm_pause();
#endif
}

uint32_t loopOf(uint64_t bands) {
    return static_cast<uint32_t>(bands >> 32);
}
int nextBandOf(uint64_t bands) {
    return static_cast<int>((bands >> 16) & 0xFFFF);
}
int bandCountOf(uint64_t bands) {
    return static_cast<int>(bands & 0xFFFF);
}

}  // namespace

RowHelper::RowHelper() : thread_([this] { loop(); }) {}

RowHelper::~RowHelper() {
    quit_.store(true);
    calls_.fetch_add(1);
    calls_.notify_one();
    thread_.join();
}

void RowHelper::wake() {
    rest_.store(false);
    calls_.fetch_add(1);
    calls_.notify_one();
}

void RowHelper::rest() {
    rest_.store(true);
    calls_.fetch_add(1);
    calls_.notify_one();
}

void RowHelper::runShared(int begin, int end, int bandRows, RowsFunction function, const void* work) {
    bandRows = std::max(1, bandRows);
    const int count = std::min(0xFFFF, (end - begin + bandRows - 1) / bandRows);
    bandRows = (end - begin + count - 1) / count;
    // Nobody can take a band of the last loop any more: its fields are free to change.
    function_ = function;
    work_ = work;
    begin_ = begin, end_ = end, bandRows_ = bandRows;
    bandsDone_.store(0);
    const uint32_t loop = ++loops_;
    bands_.store(static_cast<uint64_t>(loop) << 32 | static_cast<uint64_t>(count));  // publishes them
    rest_.store(false);
    calls_.fetch_add(1);
    calls_.notify_one();
    takeBands(loop, 0);
    // The helper may still be drawing a band it took.
    while (bandsDone_.load() != count)
        relax();
}

void RowHelper::takeBands(uint32_t loop, int part) {
    uint64_t bands = bands_.load();
    for (;;) {
        if (loopOf(bands) != loop || nextBandOf(bands) >= bandCountOf(bands)) return;
        if (!bands_.compare_exchange_weak(bands, bands + (1u << 16))) continue;
        const int from = begin_ + nextBandOf(bands) * bandRows_;
        if (from < end_) function_(work_, from, std::min(end_, from + bandRows_), part);
        bandsDone_.fetch_add(1);
        bands = bands_.load();
    }
}

void RowHelper::loop() {
    uint32_t seen = 0;
    for (;;) {
        // Spin a while for the next call, then sleep on the futex.
        uint32_t now = calls_.load();
        if (!rest_.load()) {
            const auto deadline = std::chrono::steady_clock::now() + kSpin;
            for (int i = 1; now == seen; ++i, now = calls_.load()) {
                relax();
                if (i % 64 == 0 && (rest_.load() || std::chrono::steady_clock::now() > deadline)) break;
            }
        }
        while (now == seen) {
            calls_.wait(seen);
            now = calls_.load();
        }
        seen = now;
        if (quit_.load()) return;
        takeBands(loopOf(bands_.load()), 1);
    }
}

RowHelper* shareRowsWith(RowHelper* helper) {
    RowHelper* previous = tSharing;
    if (previous == helper) return previous;
    tSharing = helper;
    if (previous) previous->rest();
    if (helper) helper->wake();
    return previous;
}

RowHelper* rowSharing() {
    return tSharing;
}

}  // namespace qm
