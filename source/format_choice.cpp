#include "source/format_choice.h"

#include <cstdlib>

namespace qm {

int scoreNativeFormat(const NativeFormat& format) {
    int score = 0;
    if (format.width == 1280 && format.height == 720) score += 1000;
    if (format.rateDenominator != 0 && format.rateNumerator / format.rateDenominator >= 29) score += 100;
    long long widthGap = std::llabs(static_cast<long long>(format.width) - 1280);
    score -= static_cast<int>(widthGap / 10);
    return score;
}

size_t chooseNativeFormat(const std::vector<NativeFormat>& formats) {
    size_t best = 0;
    int bestScore = -100000;
    for (size_t i = 0; i < formats.size(); ++i) {
        int score = scoreNativeFormat(formats[i]);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    return best;
}

}  // namespace qm
