// Scheduling weight of the calling thread.
#pragma once

namespace qm {

// Makes the calling thread (and the threads it starts afterwards) yield to the process's other threads:
// its nice value goes up by `steps` (1 to 19). False when the kernel refused; the thread runs on unchanged.
bool lowerThisThreadPriority(int steps);

}  // namespace qm
