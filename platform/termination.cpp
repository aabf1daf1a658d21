#include "platform/termination.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace qm {
namespace {

volatile std::sig_atomic_t terminating = 0;

void onTerminate(int) {
    terminating = 1;
}

}  // namespace

void catchTerminationSignals() {
    terminating = 0;
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool terminationRequested() {
    return terminating != 0;
}

bool endWithParent(int parentPid) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    return parentIs(parentPid);
}

bool parentIs(int parentPid) {
    return getppid() == parentPid;
}

}  // namespace qm
