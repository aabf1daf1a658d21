// The shared frame section between the engine and the virtual-camera companion: its name, size and
// header layout. The companion creates it and writes the magic; the engine only opens it and writes
// frames with the sequence counter (odd while a frame is being written, +2 per complete frame).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

constexpr const char* kFrameSectionName = "/QuillmereFrames.v1";
constexpr uint32_t kFrameMagic = 0x514D4631;  // 'QMF1' as a multi-character constant
constexpr uint32_t kFrameWidth = 1280;
constexpr uint32_t kFrameHeight = 720;
constexpr size_t kFrameRowBytes = kFrameWidth * 4;
constexpr size_t kFrameBytes = kFrameRowBytes * kFrameHeight;  // 3,686,400
constexpr size_t kSectionMagicOffset = 0;
constexpr size_t kSectionOwnerOffset = 4;  // the companion's process id (the engine never touches it)
constexpr size_t kSectionSequenceOffset = 12;
constexpr size_t kSectionTimestampOffset = 16;
constexpr size_t kSectionPixelsOffset = 4096;
constexpr size_t kSectionBytes = 0x385000;  // header page + one frame
static_assert(kSectionPixelsOffset + kFrameBytes == kSectionBytes);

}  // namespace qm
