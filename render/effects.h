// Image effects on 4-byte BGRA pixel buffers (premultiplied, or opaque with the alpha byte set): a Gaussian
// blur with a hard border, a colour matrix and a drop shadow. They run on the engine thread; each effect
// object owns its scratch memory, which grows only when a bigger picture comes, so a frame allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm {

// A view of pixels owned elsewhere: width × height pixels of 4 bytes, rows `stride` bytes apart.
struct PixelView {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    uint8_t* row(int y) const { return data + static_cast<ptrdiff_t>(y) * stride; }
};

// Odd box widths whose three successive passes approximate a Gaussian of the given standard deviation.
struct BoxWidths {
    int width[3];
};
BoxWidths boxWidthsForGaussian(float sigma);

// Gaussian blur with a hard border: everything outside the picture counts as transparent black, so the
// edges fade out and nothing is drawn beyond the picture's rectangle. Three separable box passes in each
// direction; the result stays within about 1 % of a true Gaussian.
class GaussianBlur {
public:
    // Blurs src into dst (same size; the two may be the same buffer). A sigma below 0.3 copies.
    void apply(const PixelView& src, const PixelView& dst, float sigma);

private:
    std::vector<uint32_t> columnSums_;
    std::vector<uint8_t> passBuffer_;
};

// The colour matrix: each pixel's straight-alpha colour [r g b a 1] (0..1) times a 5 × 4 matrix given row by
// row (20 values: four rows for r, g, b, a and one of offsets), clamped to 0..1 and premultiplied again.
struct ColourMatrix {
    float m[20] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0};
};
void applyColourMatrix(const ColourMatrix& matrix, const PixelView& src, const PixelView& dst);

// A drop shadow: the picture's alpha blurred with `sigma` and painted in the straight colour (r, g, b, a).
// dst must be larger than src by shadowMargin(sigma) on every side; the shadow of src's pixel (x, y) is
// centred on dst's pixel (x + margin, y + margin).
int shadowMargin(float sigma);
void makeShadow(const PixelView& src, const PixelView& dst, float sigma, const float colour[4],
                GaussianBlur& blur);

}  // namespace qm
