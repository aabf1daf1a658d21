#include "render/one_euro_filter.h"

#include <cmath>
#include <numbers>

namespace qm {

double OneEuroFilter::filter(double x, double elapsed) {
    if (!initialized) {
        previous = x;
        previousDerivative = 0;
        initialized = true;
        return x;
    }
    const double a = 2 * std::numbers::pi * derivativeCutoff * elapsed;
    const double d = a / (a + 1) * ((x - previous) / elapsed - previousDerivative) + previousDerivative;
    previousDerivative = d;
    const double cutoff = std::fabs(d) * beta + minCutoff;
    const double b = 2 * std::numbers::pi * cutoff * elapsed;
    const double y = b / (b + 1) * (x - previous) + previous;
    previous = y;
    return y;
}

}  // namespace qm
