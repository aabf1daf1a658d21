// What this process costs the machine: its processor time and its resident memory.
#pragma once

#include <cstdint>

namespace qm {

// Kernel + user time of this process in 100-ns units (0 when it cannot be read).
uint64_t processCpu100ns();
// Resident set of this process in bytes, from /proc/self/status (0 when it cannot be read).
uint64_t processResidentBytes();

// Large blocks (256 KiB and more) are mapped from the system for themselves and go back to it when freed.
// Without this the allocator raises that limit to the largest block freed so far, and the pictures and
// model buffers freed during start-up stay resident for good (about 23 MB with everything on). The
// frame paths allocate nothing, so the mapping costs nothing per frame. Call once, before any thread.
void returnLargeBlocksWhenFreed();

}  // namespace qm
