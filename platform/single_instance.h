// One window-mode instance per user: a lock file named after the lock ("QuillmereApp") in the runtime
// folder, and a local socket beside it through which a second start asks the first to show its window.
//
// The first instance keeps the lock for its lifetime and answers requests on a listener thread; the
// handler set with setPresentHandler runs on that thread (the window marshals it to its own loop).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace qm {

class InstanceLock {
public:
    // Takes the lock. Null when another process holds it (or the lock cannot be made: then
    // *otherInstance is false and the caller runs without single-instance protection).
    static std::unique_ptr<InstanceLock> acquire(const std::string& name, bool* otherInstance);
    // Asks the instance holding the lock to present its window. True when the request was delivered.
    static bool askToPresent(const std::string& name);

    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    InstanceLock() = default;
    struct Listener;
    int lockFd_ = -1;
    std::unique_ptr<Listener> listener_;
};

// Sets (or clears, with an empty function) what runs when another start asks for the window.
void setPresentHandler(std::function<void()> handler);

}  // namespace qm
