// What this process costs the machine: its processor time and its resident memory.
#pragma once

#include <cstdint>

namespace qm {

// Kernel + user time of this process in 100-ns units (0 when it cannot be read).
uint64_t processCpu100ns();
// Resident set of this process in bytes, from /proc/self/status (0 when it cannot be read).
uint64_t processResidentBytes();

}  // namespace qm
