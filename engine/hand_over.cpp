#include "engine/hand_over.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/clock.h"
#include "engine/frame_section.h"

namespace qm {
namespace {

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void putU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::atomic_ref<uint32_t> sequenceOf(uint8_t* view) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view + kSectionSequenceOffset));
}

}  // namespace

FrameLink::~FrameLink() {
    if (view_) munmap(view_, kSectionBytes);
}

bool FrameLink::tryOpen(const std::string& sectionName) {
    if (view_) return true;
    int fd = shm_open(sectionName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return false;
    // A section shorter than the view would fault on the first write: treat it as absent.
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kSectionBytes)) {
        close(fd);
        return false;
    }
    void* view = mmap(nullptr, kSectionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return false;
    uint32_t magic;
    std::memcpy(&magic, static_cast<uint8_t*>(view) + kSectionMagicOffset, sizeof magic);
    if (magic != kFrameMagic) {
        munmap(view, kSectionBytes);
        return false;
    }
    view_ = static_cast<uint8_t*>(view);
    return true;
}

void FrameLink::write(const uint8_t* pixels, long pitch) {
    if (!view_) return;
    auto sequence = sequenceOf(view_);
    sequence.fetch_add(1);  // odd: a frame is being written
    std::atomic_thread_fence(std::memory_order_release);
    uint8_t* out = view_ + kSectionPixelsOffset;
    for (uint32_t y = 0; y < kFrameHeight; ++y)
        std::memcpy(out + y * kFrameRowBytes, pixels + y * pitch, kFrameRowBytes);
    uint64_t stamp = tickMs();
    std::memcpy(view_ + kSectionTimestampOffset, &stamp, sizeof stamp);
    sequence.fetch_add(1);  // even: complete
}

void fillBitmapHeaders(uint8_t (&headers)[54]) {
    std::memset(headers, 0, sizeof headers);
    putU16(headers + 0, 0x4D42);                                   // "BM"
    putU32(headers + 2, static_cast<uint32_t>(54 + kFrameBytes));  // file size
    putU32(headers + 10, 54);                                      // pixel offset
    putU32(headers + 14, 40);                                      // information header size
    putU32(headers + 18, kFrameWidth);
    putU32(headers + 22, static_cast<uint32_t>(-static_cast<int32_t>(kFrameHeight)));  // top-down
    putU16(headers + 26, 1);                                                           // planes
    putU16(headers + 28, 32);                                                          // bits per pixel
    // Compression BI_RGB, image size, resolutions and colour counts stay 0.
}

bool writeBitmapDump(const std::string& path, const uint8_t* pixels, long pitch) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) return false;
    uint8_t headers[54];
    fillBitmapHeaders(headers);
    bool ok = std::fwrite(headers, 1, sizeof headers, file.get()) == sizeof headers;
    for (uint32_t y = 0; ok && y < kFrameHeight; ++y)
        ok = std::fwrite(pixels + y * pitch, 1, kFrameRowBytes, file.get()) == kFrameRowBytes;
    return std::fclose(file.release()) == 0 && ok;
}

void handPreview(SharedState& shared, const uint8_t* pixels, long pitch) {
    {
        std::lock_guard lock(shared.filterLock);
        shared.previewBuffer.resize(kFrameBytes);
        for (uint32_t y = 0; y < kFrameHeight; ++y)
            std::memcpy(&shared.previewBuffer[y * kFrameRowBytes], pixels + y * pitch, kFrameRowBytes);
        shared.previewReady = true;
    }
    EngineNotify notify = shared.notify.load();
    if (notify && !shared.previewPosted.exchange(true)) notify(kNoticeNewFrame);
}

}  // namespace qm
