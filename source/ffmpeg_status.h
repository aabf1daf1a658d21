// FFmpeg error codes as 32-bit statuses: errno-based codes become 0x8007xxxx, FFmpeg's own error tags
// get fixed codes 0x80FFxxxx whose messages come from av_strerror.
#pragma once

#include "base/status.h"

namespace qm {

HResult statusFromAv(int averror);

}  // namespace qm
