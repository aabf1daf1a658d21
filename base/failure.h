// Failure reporting. Code that checks a platform or library call reports a failure with its module tag
// ("Quillmere", "Engine" or "Window"), the line and the status; the one process-wide callback that
// start-up installs writes it to the log as an "ERROR %s" line. The caller then returns the status.
#pragma once

#include <string>

#include "base/status.h"

namespace qm {

struct FailureReport {
    const char* module;  // "Quillmere", "Engine" or "Window"
    int line;
    HResult hr;
    const char* message;  // may be null
};

using FailureCallback = void (*)(const FailureReport& report);

// Installs the callback. Installing a different callback while one is set is a programming error and
// terminates the process at once; installing the same one again is harmless.
void installFailureCallback(FailureCallback callback);

// Reports a failure to the installed callback (nothing happens before one is installed); returns hr.
HResult reportFailure(const char* module, int line, HResult hr, const char* message = nullptr);

// The description written after "ERROR ": module(line) tid(id) HHHHHHHH system message    Msg:[message]
// (at most 2048 characters).
std::string describeFailure(const FailureReport& report, unsigned long threadId);

// The callback start-up installs: logs "ERROR %s" with the description.
void logFailure(const FailureReport& report);

}  // namespace qm
