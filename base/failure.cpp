#include "base/failure.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "base/log.h"

namespace qm {
namespace {
std::atomic<FailureCallback> installed{nullptr};
}

void installFailureCallback(FailureCallback callback) {
    FailureCallback expected = nullptr;
    if (!installed.compare_exchange_strong(expected, callback) && expected != callback) std::abort();
}

HResult reportFailure(const char* module, int line, HResult hr, const char* message) {
    if (FailureCallback callback = installed.load()) callback(FailureReport{module, line, hr, message});
    return hr;
}

std::string describeFailure(const FailureReport& report, unsigned long threadId) {
    char text[2048];
    std::string system = statusMessage(report.hr);
    if (report.message && *report.message)
        std::snprintf(text, sizeof text, "%s(%d) tid(%lx) %08X %s    Msg:[%s]", report.module, report.line,
                      threadId, report.hr, system.c_str(), report.message);
    else
        std::snprintf(text, sizeof text, "%s(%d) tid(%lx) %08X %s", report.module, report.line, threadId,
                      report.hr, system.c_str());
    return text;
}

void logFailure(const FailureReport& report) {
    std::string description = describeFailure(report, static_cast<unsigned long>(syscall(SYS_gettid)));
    logLine("ERROR %s", description.c_str());
}

}  // namespace qm
