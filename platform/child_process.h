// Child processes: starting a helper program that ends with us, watching it, and stopping it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qm {

// How a child ended: with an exit code, or by a signal.
struct ChildExit {
    bool exited = false;  // ended by exit(); false when a signal ended it
    int code = 0;
};

// Starts the program with its arguments; it is sent SIGTERM if this process dies first. Returns 0, or the
// errno of the failed fork or exec (an exec failure is reported back before this returns).
int startChild(const std::string& path, const std::vector<std::string>& args, int* pid);

// Without waiting: true when the child has ended (and is reaped), with how.
bool childEnded(int pid, ChildExit* how);

// Asks the child to end (SIGTERM), waits up to `wait`, then kills it (SIGKILL). A child that had to be killed
// reads as ended by a signal.
ChildExit stopChild(int pid, std::chrono::milliseconds wait);

}  // namespace qm
