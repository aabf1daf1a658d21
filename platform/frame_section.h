// The shared frame section between the engine and the virtual-camera companion: its name, size and header
// layout, the companion's side (create it owner-only, publish it with its process id and the magic, copy out
// complete frames only) and the engine's side (link to a ready section, write frames with the sequence
// counter, which is odd while a frame is being written and moves by 2 per complete frame). A companion that
// records every frame raises the pacing word and acknowledges each frame it copied; the engine then waits a
// moment for that acknowledgement before it overwrites a frame nobody has taken yet.
//
// Contract: one companion process owns a section from creation until it ends, then unlinks it; one engine
// writes into it. copyCompleteFrame never blocks on the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

constexpr const char* kFrameSectionName = "/QuillmereFrames.v1";
// The section of one program run: the name above with this user's id and the program's process id, so
// neither another user nor another run of the same user ever shares it.
std::string frameSectionName(int programPid);
constexpr uint32_t kFrameMagic = 0x514D4631;  // 'QMF1' as a multi-character constant
constexpr uint32_t kFrameWidth = 1280;
constexpr uint32_t kFrameHeight = 720;
constexpr size_t kFrameRowBytes = kFrameWidth * 4;
constexpr size_t kFrameBytes = kFrameRowBytes * kFrameHeight;  // 3,686,400
constexpr size_t kSectionMagicOffset = 0;
constexpr size_t kSectionOwnerOffset = 4;   // the companion's process id (the engine never touches it)
constexpr size_t kSectionPacingOffset = 8;  // non-zero: the companion wants every frame, not just the latest
constexpr size_t kSectionSequenceOffset = 12;
constexpr size_t kSectionTimestampOffset = 16;
constexpr size_t kSectionTakenOffset = 24;    // the sequence of the last frame the companion copied
constexpr size_t kSectionOutputsOffset = 28;  // CameraOutputs bits: which outputs are up, which are watched
// How long the engine waits for a pacing companion to take the previous frame before overwriting it.
constexpr int kFrameTakeWaitMs = 100;
constexpr size_t kSectionPixelsOffset = 4096;
constexpr size_t kSectionBytes = 0x385000;  // header page + one frame
static_assert(kSectionPixelsOffset + kFrameBytes == kSectionBytes);

class FrameSection {
public:
    FrameSection() = default;
    FrameSection(const FrameSection&) = delete;
    FrameSection& operator=(const FrameSection&) = delete;
    ~FrameSection();

    // Creates (replacing a stale one) and maps the section; the magic is written by publish(), after
    // this process's id (bytes 4-7), so the program that started us can tell our section from a stale one.
    bool create(const std::string& name, int* error);
    // `everyFrame`: the engine holds each frame back until markTaken() has acknowledged the previous one
    // (for at most kFrameTakeWaitMs), so a reader that was briefly kept from running still sees every frame.
    void publish(bool everyFrame = false);
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

// Like copyCompleteFrame, but hands the frame's pixels (rows kFrameRowBytes apart) to `read` in place, which
// may only read them; what it made counts only when Copied is returned (it is called again when the frame
// changed meanwhile). `lastSequence` kAnyFrame reads the current frame even when it was read before.
using FrameReader = void (*)(const uint8_t* pixels, void* context);
constexpr uint32_t kAnyFrame = 1;  // odd: never a complete frame's sequence
CopyResult readCompleteFrame(const uint8_t* view, uint32_t lastSequence, FrameReader read, void* context,
                             uint32_t* sequence, uint64_t* timestampMs);

uint32_t readSequence(const uint8_t* view);

// The companion's acknowledgement that the frame with `sequence` has been copied out.
void markTaken(uint8_t* view, uint32_t sequence);

// What the companion serves, and whether anyone reads it: the engine rests while nobody does.
enum CameraOutputs : uint32_t {
    kOutputPipeWire = 1u << 0,
    kOutputLoopback = 1u << 1,
    kOutputRecording = 1u << 2,  // a recording takes every frame: always watched
    kWatchedPipeWire = 1u << 8,
    kWatchedLoopback = 1u << 9,
};
void setCameraOutputs(uint8_t* view, uint32_t outputs);
uint32_t cameraOutputs(const uint8_t* view);
// Someone reads the frames (a consumer of an output, or a recording).
bool cameraWatched(uint32_t outputs);
// The companion serves an output and says that nobody reads it; a companion that reports no output at all
// is taken as watched.
bool cameraUnwatched(uint32_t outputs);

// The engine's link: the mapped view once it is up (it stays up for the engine's life).
class FrameLink {
public:
    FrameLink() = default;
    FrameLink(const FrameLink&) = delete;
    FrameLink& operator=(const FrameLink&) = delete;
    ~FrameLink();

    // Opens and maps the section when it exists, is large enough, carries the magic and its companion still
    // runs; silent otherwise.
    bool tryOpen(const std::string& sectionName);
    bool up() const { return view_ != nullptr; }
    // False once the companion that published the mapped section has ended, or the name now belongs to
    // another section (a companion started in its place): the link should then be closed and opened again.
    bool stillServed(const std::string& sectionName) const;
    void close();

    // Writes one 1280 × 720 frame (rows `pitch` bytes apart) between two counter increments; first waits
    // for a pacing companion to take the previous frame (at most kFrameTakeWaitMs, and not at all after a
    // wait ran out, until the companion has taken the latest frame again).
    void write(const uint8_t* pixels, long pitch);

    uint8_t* view() const { return view_; }

private:
    uint8_t* view_ = nullptr;
    bool companionKeepsUp_ = true;
};

// Removes the name of a section whose companion died without removing it.
void removeFrameSection(const std::string& name);

// True once the section exists, is large enough, and carries the magic and the given owner's process id.
bool frameSectionReady(const std::string& name, uint32_t ownerPid);

}  // namespace qm
