#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace qm {

bool lowerThisThreadPriority(int steps) {
    // On Linux the nice value belongs to the thread: PRIO_PROCESS with a thread id changes that thread only,
    // and threads it creates later inherit it.
    const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    int current = getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0) return false;
    int wanted = current + steps;
    if (wanted > 19) wanted = 19;
    return setpriority(PRIO_PROCESS, thread, wanted) == 0;
}

}  // namespace qm
