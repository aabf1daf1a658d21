// Milliseconds since an arbitrary start, as a double, from the monotonic clock. The engine times
// everything with it.
#pragma once

#include <chrono>

namespace qm {

inline double clockMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Milliseconds of the monotonic clock as an integer (the tick count used for back-off and schedules).
inline uint64_t tickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace qm
