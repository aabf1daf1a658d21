// The source picture the tracker reads and the bilinear sampler that the detector, the face mesh, the
// person mask and the looks use to read it. Pure, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// A picture in memory: 4 bytes per pixel in the order blue, green, red, alpha, top row first. The
// tracker only reads it; the caller keeps it alive during the call.
struct SourcePicture {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row; 4 * width for packed rows
};

inline SourcePicture packedPicture(const uint8_t* pixels, int width, int height) {
    return {pixels, width, height, width * 4};
}

struct Rgb {
    float r = 0;
    float g = 0;
    float b = 0;
};

// R, G, B in 0..255 at (x, y), pixel centres at whole numbers. Outside [0, W-1] × [0, H-1] (and for a NaN
// position) the result is black; at the last row or column the missing neighbour is the edge pixel.
inline Rgb sampleBilinear(const SourcePicture& picture, float x, float y) {
    // Written as a negated "inside" test so that NaN positions land outside.
    if (!(x >= 0 && y >= 0 && x <= static_cast<float>(picture.width - 1) &&
          y <= static_cast<float>(picture.height - 1)))
        return {};
    const int x0 = static_cast<int>(x);
    const int y0 = static_cast<int>(y);
    const int x1 = x0 + 1 < picture.width ? x0 + 1 : picture.width - 1;
    const int y1 = y0 + 1 < picture.height ? y0 + 1 : picture.height - 1;
    const float fx = x - static_cast<float>(x0);
    const float fy = y - static_cast<float>(y0);
    const uint8_t* top = picture.pixels + static_cast<ptrdiff_t>(y0) * picture.stride;
    const uint8_t* bottom = picture.pixels + static_cast<ptrdiff_t>(y1) * picture.stride;
    const uint8_t* a = top + x0 * 4;
    const uint8_t* b = top + x1 * 4;
    const uint8_t* c = bottom + x0 * 4;
    const uint8_t* d = bottom + x1 * 4;
    const float wa = (1 - fx) * (1 - fy), wb = fx * (1 - fy), wc = (1 - fx) * fy, wd = fx * fy;
    return {wa * a[2] + wb * b[2] + wc * c[2] + wd * d[2], wa * a[1] + wb * b[1] + wc * c[1] + wd * d[1],
            wa * a[0] + wb * b[0] + wc * c[0] + wd * d[0]};
}

}  // namespace qm
