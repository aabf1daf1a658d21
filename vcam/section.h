// The companion's side of the shared frame section: it creates the section (owner-only), writes the
// magic last so the program links only to a ready section, and copies out complete frames only.
//
// Contract: one companion process owns the section from creation until it ends, then unlinks it.
// copyCompleteFrame may run on any one thread of the companion; it never blocks on the writer.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

class FrameSection {
public:
    FrameSection() = default;
    FrameSection(const FrameSection&) = delete;
    FrameSection& operator=(const FrameSection&) = delete;
    ~FrameSection();

    // Creates (replacing a stale one) and maps the section; the magic is written by publish(), after
    // this process's id (bytes 4-7), so the program that started us can tell our section from a stale one.
    bool create(const std::string& name, int* error);
    void publish();
    // Unmaps and removes the name.
    void destroy();

    uint8_t* view() const { return view_; }

private:
    std::string name_;
    uint8_t* view_ = nullptr;
};

enum class CopyResult { Copied, NoNewFrame, Busy };

// Copies the frame into `out` (3,686,400 bytes) when the counter shows a complete frame other than
// `lastSequence`; retries while the counter is odd or changes during the copy. On Copied the frame's
// sequence and timestamp are stored.
CopyResult copyCompleteFrame(const uint8_t* view, uint32_t lastSequence, uint8_t* out, uint32_t* sequence,
                             uint64_t* timestampMs);

uint32_t readSequence(const uint8_t* view);

}  // namespace qm
