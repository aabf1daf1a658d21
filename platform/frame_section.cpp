#include "platform/frame_section.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace qm {

namespace {

constexpr int kCopyTries = 64;

uint64_t monotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::atomic_ref<uint32_t> wordAt(const uint8_t* view, size_t offset) {
    return std::atomic_ref<uint32_t>(
        *const_cast<uint32_t*>(reinterpret_cast<const uint32_t*>(view + offset)));
}

uint32_t loadSequence(const uint8_t* view, std::memory_order order) {
    return wordAt(view, kSectionSequenceOffset).load(order);
}

uint32_t ownerOf(const uint8_t* view) {
    uint32_t owner = 0;
    std::memcpy(&owner, view + kSectionOwnerOffset, sizeof owner);
    return owner;
}

// A process that has ended (and been reaped) no longer takes signals; one of another user still does.
bool ownerRuns(uint32_t owner) {
    return owner != 0 && (kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH);
}

bool pacingWanted(const uint8_t* view) {
    return wordAt(view, kSectionPacingOffset).load(std::memory_order_acquire) != 0;
}

bool taken(const uint8_t* view, uint32_t sequence) {
    return wordAt(view, kSectionTakenOffset).load(std::memory_order_acquire) == sequence;
}

// Waits until the companion has taken the frame with `sequence`; false when it did not in time.
bool waitUntilTaken(const uint8_t* view, uint32_t sequence) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFrameTakeWaitMs);
    while (!taken(view, sequence)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace

FrameSection::~FrameSection() {
    destroy();
}

bool FrameSection::create(const std::string& name, int* error) {
    destroy();
    // A section left by a companion that crashed is replaced; its readers keep their old mapping.
    shm_unlink(name.c_str());
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    fchmod(fd, 0600);  // the umask may not narrow what we asked for, but it must not widen it either
    if (ftruncate(fd, static_cast<off_t>(kSectionBytes)) != 0) {
        *error = errno;
        close(fd);
        shm_unlink(name.c_str());
        return false;
    }
    void* view = mmap(nullptr, kSectionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) {
        *error = errno;
        shm_unlink(name.c_str());
        return false;
    }
    name_ = name;
    view_ = static_cast<uint8_t*>(view);
    return true;
}

void FrameSection::publish(bool everyFrame) {
    if (!view_) return;
    uint32_t owner = static_cast<uint32_t>(getpid());
    std::memcpy(view_ + kSectionOwnerOffset, &owner, sizeof owner);
    wordAt(view_, kSectionPacingOffset).store(everyFrame ? 1 : 0, std::memory_order_relaxed);
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view_ + kSectionMagicOffset))
        .store(kFrameMagic, std::memory_order_release);
}

void FrameSection::destroy() {
    if (!view_) return;
    munmap(view_, kSectionBytes);
    shm_unlink(name_.c_str());
    view_ = nullptr;
    name_.clear();
}

uint32_t readSequence(const uint8_t* view) {
    return loadSequence(view, std::memory_order_acquire);
}

void markTaken(uint8_t* view, uint32_t sequence) {
    wordAt(view, kSectionTakenOffset).store(sequence, std::memory_order_release);
}

void setCameraOutputs(uint8_t* view, uint32_t outputs) {
    wordAt(view, kSectionOutputsOffset).store(outputs, std::memory_order_release);
}

uint32_t cameraOutputs(const uint8_t* view) {
    return wordAt(view, kSectionOutputsOffset).load(std::memory_order_acquire);
}

bool cameraWatched(uint32_t outputs) {
    return (outputs & (kOutputRecording | kWatchedPipeWire | kWatchedLoopback)) != 0;
}

bool cameraUnwatched(uint32_t outputs) {
    return (outputs & (kOutputPipeWire | kOutputLoopback | kOutputRecording)) != 0 && !cameraWatched(outputs);
}

CopyResult readCompleteFrame(const uint8_t* view, uint32_t lastSequence, FrameReader read, void* context,
                             uint32_t* sequence, uint64_t* timestampMs) {
    for (int attempt = 0; attempt < kCopyTries; ++attempt) {
        uint32_t before = loadSequence(view, std::memory_order_acquire);
        if (before == lastSequence) return CopyResult::NoNewFrame;
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        read(view + kSectionPixelsOffset, context);
        uint64_t stamp;
        std::memcpy(&stamp, view + kSectionTimestampOffset, sizeof stamp);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (loadSequence(view, std::memory_order_relaxed) != before) continue;  // rewritten meanwhile
        *sequence = before;
        *timestampMs = stamp;
        return CopyResult::Copied;
    }
    return CopyResult::Busy;
}

CopyResult copyCompleteFrame(const uint8_t* view, uint32_t lastSequence, uint8_t* out, uint32_t* sequence,
                             uint64_t* timestampMs) {
    return readCompleteFrame(
        view, lastSequence, [](const uint8_t* pixels, void* to) { std::memcpy(to, pixels, kFrameBytes); },
        out, sequence, timestampMs);
}

FrameLink::~FrameLink() {
    close();
}

void FrameLink::close() {
    if (view_) munmap(view_, kSectionBytes);
    view_ = nullptr;
    companionKeepsUp_ = true;
}

bool FrameLink::stillServed(const std::string& sectionName) const {
    if (!view_) return false;
    const uint32_t owner = ownerOf(view_);
    return ownerRuns(owner) && frameSectionReady(sectionName, owner);
}

bool FrameLink::tryOpen(const std::string& sectionName) {
    if (view_) return true;
    int fd = shm_open(sectionName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return false;
    // A section shorter than the view would fault on the first write: treat it as absent.
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kSectionBytes)) {
        ::close(fd);
        return false;
    }
    void* view = mmap(nullptr, kSectionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) return false;
    uint32_t magic;
    std::memcpy(&magic, static_cast<uint8_t*>(view) + kSectionMagicOffset, sizeof magic);
    // A section left by a companion that died is not linked: the one started in its place replaces it.
    if (magic != kFrameMagic || !ownerRuns(ownerOf(static_cast<uint8_t*>(view)))) {
        munmap(view, kSectionBytes);
        return false;
    }
    view_ = static_cast<uint8_t*>(view);
    return true;
}

void FrameLink::write(const uint8_t* pixels, long pitch) {
    if (!view_) return;
    auto sequence = wordAt(view_, kSectionSequenceOffset);
    // A frame not taken in time is overwritten, and the engine stops waiting until the companion has caught
    // up again: a companion that hangs or died costs one wait, not one per frame.
    if (pacingWanted(view_)) {
        const uint32_t previous = sequence.load(std::memory_order_relaxed);
        if (taken(view_, previous))
            companionKeepsUp_ = true;
        else if (companionKeepsUp_ && !waitUntilTaken(view_, previous))
            companionKeepsUp_ = false;
    }
    sequence.fetch_add(1);  // odd: a frame is being written
    std::atomic_thread_fence(std::memory_order_release);
    uint8_t* out = view_ + kSectionPixelsOffset;
    for (uint32_t y = 0; y < kFrameHeight; ++y)
        std::memcpy(out + y * kFrameRowBytes, pixels + y * pitch, kFrameRowBytes);
    uint64_t stamp = monotonicMs();
    std::memcpy(view_ + kSectionTimestampOffset, &stamp, sizeof stamp);
    sequence.fetch_add(1);  // even: complete
}

void removeFrameSection(const std::string& name) {
    shm_unlink(name.c_str());
}

std::string frameSectionName(int programPid) {
    return std::string(kFrameSectionName) + "." + std::to_string(getuid()) + "." + std::to_string(programPid);
}

bool frameSectionReady(const std::string& name, uint32_t ownerPid) {
    int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info {};
    bool ready = false;
    if (fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(kSectionBytes)) {
        void* view = mmap(nullptr, kSectionPixelsOffset, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            uint32_t magic, pid;
            std::memcpy(&magic, static_cast<uint8_t*>(view) + kSectionMagicOffset, sizeof magic);
            std::memcpy(&pid, static_cast<uint8_t*>(view) + kSectionOwnerOffset, sizeof pid);
            ready = magic == kFrameMagic && pid == ownerPid;
            munmap(view, kSectionPixelsOffset);
        }
    }
    close(fd);
    return ready;
}

}  // namespace qm
