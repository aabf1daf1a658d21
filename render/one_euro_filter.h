// Adaptive low-pass smoothing of one value: slow changes are smoothed hard (little jitter), fast changes
// pass with little lag. Pure maths; the engine thread owns every instance.
#pragma once

namespace qm {

struct OneEuroFilter {
    double beta = 0;              // speed coefficient
    double minCutoff = 1;         // minimum cut-off frequency, Hz
    double derivativeCutoff = 1;  // cut-off of the derivative, Hz
    double previous = 0;
    double previousDerivative = 0;
    bool initialized = false;

    // Smooths x after `elapsed` seconds (> 0); the first value passes unchanged.
    double filter(double x, double elapsed);
    void reset() { initialized = false; }
};

}  // namespace qm
