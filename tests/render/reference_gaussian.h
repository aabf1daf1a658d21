// The reference the blur tests measure against: a true separable Gaussian in doubles, radius 4σ, with
// everything outside the plane counted as zero.
#pragma once

#include <cmath>
#include <vector>

namespace qm::testing {

inline std::vector<double> referenceGaussian(const std::vector<double>& plane, int width, int height,
                                             double sigma) {
    const int radius = static_cast<int>(std::ceil(4 * sigma));
    std::vector<double> kernel(2 * radius + 1);
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    std::vector<double> rows(plane.size()), out(plane.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i)
                if (x + i >= 0 && x + i < width) v += kernel[i + radius] * plane[y * width + x + i];
            rows[y * width + x] = v;
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i)
                if (y + i >= 0 && y + i < height) v += kernel[i + radius] * rows[(y + i) * width + x];
            out[y * width + x] = v;
        }
    return out;
}

}  // namespace qm::testing
