// Reads a running program's frame section the way the companion does, next to the companion, and counts
// what a consumer would have seen: frames copied, frames missed (the sequence jumped), frames repeated or
// out of order (the sequence did not move forward), torn frames (pixels that changed while the sequence
// said the frame was complete), and relinks (a new companion published a new section).
//
//   quillmere-section-watch PROGRAM_PID SECONDS
//
// Prints one JSON line at the end. It never writes into the section, so it changes nothing for the
// companion or the engine.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/frame_section.h"

namespace {

using Clock = std::chrono::steady_clock;

uint32_t ownerOf(const uint8_t* view) {
    uint32_t owner;
    std::memcpy(&owner, view + qm::kSectionOwnerOffset, sizeof owner);
    return owner;
}

// Maps the section read-only when it is published; null otherwise.
const uint8_t* mapSection(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat info {};
    void* view = MAP_FAILED;
    if (fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) >= qm::kSectionBytes)
        view = mmap(nullptr, qm::kSectionBytes, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return nullptr;
    auto* bytes = static_cast<const uint8_t*>(view);
    uint32_t magic;
    std::memcpy(&magic, bytes + qm::kSectionMagicOffset, sizeof magic);
    if (magic != qm::kFrameMagic || ownerOf(bytes) == 0 || kill(static_cast<pid_t>(ownerOf(bytes)), 0) != 0) {
        munmap(view, qm::kSectionBytes);
        return nullptr;
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillmere-section-watch PROGRAM_PID SECONDS\n");
        return 2;
    }
    const int programPid = std::atoi(argv[1]);
    const auto end = Clock::now() + std::chrono::duration<double>(std::atof(argv[2]));
    const std::string name = qm::frameSectionName(programPid);

    std::vector<uint8_t> frame(qm::kFrameBytes);
    const uint8_t* view = nullptr;
    uint32_t owner = 0, last = 0;
    bool haveLast = false;
    long frames = 0, missed = 0, repeated = 0, torn = 0, relinks = 0, busy = 0;
    while (Clock::now() < end && kill(programPid, 0) == 0) {
        if (view && (kill(static_cast<pid_t>(owner), 0) != 0 || ownerOf(view) != owner)) {
            munmap(const_cast<uint8_t*>(view), qm::kSectionBytes);
            view = nullptr;
        }
        if (!view) {
            view = mapSection(name);
            if (!view) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            if (owner != 0) ++relinks;
            owner = ownerOf(view);
            haveLast = false;
        }
        uint32_t sequence = 0;
        uint64_t stamp = 0;
        qm::CopyResult result =
            qm::copyCompleteFrame(view, haveLast ? last : 1, frame.data(), &sequence, &stamp);
        if (result == qm::CopyResult::Busy) ++busy;
        if (result != qm::CopyResult::Copied) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // The frame must still be what the section holds while its sequence has not moved.
        bool changed = std::memcmp(frame.data(), view + qm::kSectionPixelsOffset, qm::kFrameBytes) != 0;
        std::atomic_thread_fence(std::memory_order_acquire);
        if (changed && qm::readSequence(view) == sequence) ++torn;
        if (haveLast) {
            int32_t step = static_cast<int32_t>(sequence - last);
            if (step <= 0)
                ++repeated;
            else if (step > 2)
                missed += step / 2 - 1;
        }
        last = sequence;
        haveLast = true;
        ++frames;
    }
    std::printf(
        "{\"frames\": %ld, \"missed\": %ld, \"repeated\": %ld, \"torn\": %ld, \"relinks\": %ld, "
        "\"busy\": %ld}\n",
        frames, missed, repeated, torn, relinks, busy);
    return 0;
}
