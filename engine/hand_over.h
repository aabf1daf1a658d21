// The frame hand-over: the one read-back frame goes to the companion's shared section, to the optional
// bitmap dump and to the window's preview.
//
// Contract: engine thread only. FrameLink owns the mapped view once it is up (it stays up for the
// engine's life). The preview hand-off writes the shared block under filterLock and keeps at most one
// new-frame notice pending through previewPosted.
#pragma once

#include <cstdint>
#include <string>

#include "settings/shared_state.h"

namespace qm {

class FrameLink {
public:
    FrameLink() = default;
    FrameLink(const FrameLink&) = delete;
    FrameLink& operator=(const FrameLink&) = delete;
    ~FrameLink();

    // Opens and maps the section when it exists, is large enough and carries the magic; silent otherwise.
    bool tryOpen(const std::string& sectionName);
    bool up() const { return view_ != nullptr; }

    // Writes one 1280 × 720 frame (rows `pitch` bytes apart) between two counter increments.
    void write(const uint8_t* pixels, long pitch);

    uint8_t* view() const { return view_; }

private:
    uint8_t* view_ = nullptr;
};

// The bitmap dump: a 54-byte header (top-down 32-bit rows) and the 720 rows. False when the file cannot
// be written.
bool writeBitmapDump(const std::string& path, const uint8_t* pixels, long pitch);

// The 54 header bytes of a 1280 × 720 top-down 32-bit bitmap.
void fillBitmapHeaders(uint8_t (&headers)[54]);

// Copies the frame into previewBuffer, marks it ready and announces it unless a notice is pending.
void handPreview(SharedState& shared, const uint8_t* pixels, long pitch);

}  // namespace qm
