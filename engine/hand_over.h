// The frame hand-over: the one read-back frame goes to the companion's shared section, to the optional
// bitmap dump and to the window's preview.
//
// Contract: engine thread only. The section link itself is platform/frame_section.h. The preview hand-off
// writes the shared block under filterLock and keeps at most one new-frame notice pending through
// previewPosted.
#pragma once

#include <cstdint>
#include <string>

#include "settings/shared_state.h"

namespace qm {

// The bitmap dump: a 54-byte header (top-down 32-bit rows) and the 720 rows. False when the file cannot
// be written.
bool writeBitmapDump(const std::string& path, const uint8_t* pixels, long pitch);

// The 54 header bytes of a 1280 × 720 top-down 32-bit bitmap.
void fillBitmapHeaders(uint8_t (&headers)[54]);

// Copies the frame into previewBuffer, marks it ready and announces it unless a notice is pending.
void handPreview(SharedState& shared, const uint8_t* pixels, long pitch);

}  // namespace qm
