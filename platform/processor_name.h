// The processor's model name, as the system describes it (the "drawing on" log line).
#pragma once

#include <string>

namespace qm {

// The first "model name" of /proc/cpuinfo; empty when unknown.
std::string processorModelName();

}  // namespace qm
