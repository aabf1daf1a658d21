#include "engine/hand_over.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/clock.h"
#include "platform/frame_section.h"

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

}  // namespace

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
