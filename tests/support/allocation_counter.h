// Counts every heap allocation of the program it is linked into (add allocation_counter.cpp to its
// sources), so tests and benchmarks can show that a per-frame path allocates nothing.
#pragma once

namespace qm::test {

// Allocations made through operator new since the program started.
long allocationCount();

}  // namespace qm::test
