#include "platform/system_log.h"

#include <syslog.h>

#include <atomic>

namespace qm {
namespace {
std::atomic<bool> open{false};
}

void openSystemLog() {
    openlog("quillmere", LOG_PID, LOG_USER);
    open.store(true);
}

void closeSystemLog() {
    // Cleared first so that lines written from here on no longer go to the system log.
    if (open.exchange(false)) closelog();
}

bool systemLogOpen() {
    return open.load();
}

void sendToSystemLog(const char* message) {
    if (open.load()) syslog(LOG_INFO, "%s", message);
}

}  // namespace qm
