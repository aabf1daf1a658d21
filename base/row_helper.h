// A second pair of hands for the engine's large per-frame pixel loops: a loop's rows are dealt out in
// small bands to the calling thread and to the helper's thread, so a frame's drawing after the touch-up
// look uses both cores instead of one. Bands are taken, not assigned: when the helper is late (its core
// busy with something else) the caller simply draws more of them itself, so sharing never costs more
// than drawing alone by more than a band.
//
// Contract: one owner thread hands out work and waits for it, one loop at a time. The thread starts with
// the object and ends with it. Allocates nothing per loop.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

namespace qm {

class RowHelper {
public:
    RowHelper();
    RowHelper(const RowHelper&) = delete;
    RowHelper& operator=(const RowHelper&) = delete;
    ~RowHelper();

    // Runs work(from, to, part) over [begin, end) in bands of bandRows rows, part 0 on this thread and
    // part 1 on the helper's; returns once every band is done. work must not throw and must be safe to
    // run on two bands at once.
    template <class Work>
    void shareRows(int begin, int end, int bandRows, const Work& work) {
        runShared(begin, end, bandRows, &callWork<Work>, &work);
    }
    // Gets the helper spinning for work that is about to come, without waiting for it; rest lets it sleep
    // at once instead of spinning for more.
    void wake();
    void rest();

private:
    using RowsFunction = void (*)(const void* work, int from, int to, int part);
    template <class Work>
    static void callWork(const void* work, int from, int to, int part) {
        (*static_cast<const Work*>(work))(from, to, part);
    }
    void runShared(int begin, int end, int bandRows, RowsFunction function, const void* work);
    // Takes and runs this loop's bands until none is left; `part` names the thread.
    void takeBands(uint32_t loop, int part);
    void loop();

    // The loop being shared: its number (high 32 bits), the next band to take and the band count (16
    // bits each). A band is taken by bumping the next band of the current loop, so a thread that comes
    // late to a finished loop takes nothing and never touches the loop's fields.
    std::atomic<uint64_t> bands_{0};
    std::atomic<int> bandsDone_{0};
    RowsFunction function_ = nullptr;  // the loop's fields: set before its number is published
    const void* work_ = nullptr;
    int begin_ = 0, end_ = 0, bandRows_ = 1;
    uint32_t loops_ = 0;  // owner side: loops started

    // The owner wakes the helper by bumping `calls_` (a futex word once the helper stops spinning).
    std::atomic<uint32_t> calls_{0};
    std::atomic<bool> rest_{false}, quit_{false};
    std::thread thread_;
};

// The helper the calling thread's large pixel loops share their rows with (none by default): the engine
// sets it around the drawing that may use both cores. The helper it sets is woken, the one it replaces
// told to rest. Returns the previous one.
RowHelper* shareRowsWith(RowHelper* helper);
RowHelper* rowSharing();

// Loops over fewer pixels than this stay on the calling thread: handing them over costs about what the
// second core saves.
constexpr int64_t kSharedRowsPixels = 160 * 160;

// Runs work(from, to, part) over the rows [begin, end) of pixelsPerRow pixels each: shared with the
// calling thread's helper when it has one and the loop is large enough (part 0 here, 1 on the helper),
// otherwise here as part 0. A part may keep its own scratch by its number.
template <class Work>
void forRows(int begin, int end, int64_t pixelsPerRow, const Work& work) {
    RowHelper* helper = rowSharing();
    const int64_t rows = end - begin;
    if (!helper || rows < 2 || rows * pixelsPerRow < kSharedRowsPixels) {
        if (begin < end) work(begin, end, 0);
        return;
    }
    // Bands of at least 4096 pixels, at most 64 of them.
    const int64_t bandRows = std::max<int64_t>(
        {1, (rows + 63) / 64, (4096 + pixelsPerRow - 1) / std::max<int64_t>(1, pixelsPerRow)});
    helper->shareRows(begin, end, static_cast<int>(bandRows), work);
}

}  // namespace qm
