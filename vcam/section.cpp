#include "vcam/section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "engine/frame_section.h"

namespace qm {
namespace {

constexpr int kCopyTries = 64;

uint32_t loadSequence(const uint8_t* view, std::memory_order order) {
    auto* word = const_cast<uint32_t*>(reinterpret_cast<const uint32_t*>(view + kSectionSequenceOffset));
    return std::atomic_ref<uint32_t>(*word).load(order);
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

void FrameSection::publish() {
    if (!view_) return;
    uint32_t owner = static_cast<uint32_t>(getpid());
    std::memcpy(view_ + kSectionOwnerOffset, &owner, sizeof owner);
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

CopyResult copyCompleteFrame(const uint8_t* view, uint32_t lastSequence, uint8_t* out, uint32_t* sequence,
                             uint64_t* timestampMs) {
    for (int attempt = 0; attempt < kCopyTries; ++attempt) {
        uint32_t before = loadSequence(view, std::memory_order_acquire);
        if (before == lastSequence) return CopyResult::NoNewFrame;
        if (before & 1) {
            std::this_thread::yield();
            continue;
        }
        std::memcpy(out, view + kSectionPixelsOffset, kFrameBytes);
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

}  // namespace qm
