// The machine-wide named stop signal of headless runs ("QuillmereStop").
//
// It behaves like a manual-reset event that every headless instance waits on: raising it stops every
// instance that is waiting at that moment. A raise while nobody waits does not stop a later run: each
// waiter remembers the signal's generation when it opens it and stops only when the generation moves on.
// The generation lives in a small POSIX shared-memory object; raising increments it and wakes the
// waiters through a shared futex.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace qm {

class StopSignal {
public:
    // Opens (creating when needed) the signal and takes its current generation as the baseline.
    // On failure returns null and sets *error to the errno value.
    static std::unique_ptr<StopSignal> open(const std::string& name, int* error);

    // Raises the signal by name. No waiter (the object does not exist) is not an error.
    static bool raise(const std::string& name, int* error);

    ~StopSignal();

    bool raised() const;
    // Blocks until the signal is raised after open(), or `alsoStop` returns true (checked at least every
    // 50 ms, so process signals and in-process events end the wait promptly too).
    void wait(const std::function<bool()>& alsoStop) const;

    struct Shared;  // the shared-memory layout

private:
    StopSignal(Shared* shared, unsigned baseline) : shared_(shared), baseline_(baseline) {}
    Shared* shared_;
    unsigned baseline_;
};

}  // namespace qm
