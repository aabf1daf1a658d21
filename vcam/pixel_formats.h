// The picture formats the camera offers applications, and the conversion from the engine's BGRA frames
// into each (BT.601 limited range, which every consumer assumes for a camera; chroma averaged over the
// pixels it covers). The output planes are packed tightly, one after another.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

enum class PixelFormat { Yuyv, Nv12, I420 };

// Bytes of one packed frame, and of its first plane's rows.
size_t pixelFormatBytes(PixelFormat format, int width, int height);
int pixelFormatStride(PixelFormat format, int width);

// `width` and `height` are even, `width` at most 8192. Allocates nothing.
void convertFromBgra(const uint8_t* bgra, size_t bgraStride, int width, int height, PixelFormat format,
                     uint8_t* out);

// Where 4:2:0 planes go, each with its own row stride (an encoder's frame pads its rows).
struct PlaneTargets {
    uint8_t* y;
    size_t yStride;
    uint8_t* u;
    size_t uStride;
    uint8_t* v;
    size_t vStride;
};

// I420 into separate planes; the same limits as convertFromBgra.
void convertToI420Planes(const uint8_t* bgra, size_t bgraStride, int width, int height,
                         const PlaneTargets& planes);

// A quiet dark grey frame, shown until the program's first frame.
void fillPlaceholder(PixelFormat format, int width, int height, uint8_t* out);

}  // namespace qm
