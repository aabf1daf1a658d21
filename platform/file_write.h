// Replacing a whole file so that a failure at any point leaves the old file as it was: the bytes go to a
// temporary file beside it, are flushed to the disk, and the temporary file is renamed over the old one.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

// False when any step failed; the temporary file is then removed.
bool writeFileReplacing(const std::string& path, const void* data, size_t size);

}  // namespace qm
