#include "tracking/person_mask.h"

#include <algorithm>
#include <cstring>

namespace qm {

void fillPersonMaskInput(const SourcePicture& picture, float* input) {
    const float stepX = static_cast<float>(picture.width) / kPersonMaskWidth;
    const float stepY = static_cast<float>(picture.height) / kPersonMaskHeight;
    for (int y = 0; y < kPersonMaskHeight; ++y) {
        const float sy = stepY * (static_cast<float>(y) + 0.5f) - 0.5f;
        float* out = input + y * kPersonMaskWidth * 3;
        for (int x = 0; x < kPersonMaskWidth; ++x) {
            const Rgb rgb = sampleBilinear(picture, stepX * (static_cast<float>(x) + 0.5f) - 0.5f, sy);
            out[x * 3] = rgb.r * kByteScale;
            out[x * 3 + 1] = rgb.g * kByteScale;
            out[x * 3 + 2] = rgb.b * kByteScale;
        }
    }
}

void personMaskToPixels(const float* mask, uint8_t* pixels) {
    for (int i = 0; i < kPersonMaskValues; ++i) {
        // max(v, 0) written so that NaN becomes 0 rather than an undefined conversion.
        const float v = mask[i] > 0 ? std::min(mask[i], 1.0f) : 0.0f;
        std::memset(pixels + i * 4, static_cast<int>(v * 255), 4);
    }
}

bool segmentPerson(FaceTracker& tracker, const SourcePicture& picture) {
    if (!tracker.personMaskSession) return false;
    fillPersonMaskInput(picture, tracker.personMaskInput.data());

    static constexpr int64_t shape[] = {1, kPersonMaskHeight, kPersonMaskWidth, 3};
    static constexpr const char* outputNames[] = {"segment_back"};
    static constexpr size_t expected[] = {kPersonMaskValues};
    ModelOutputs outputs;
    runModel(tracker.personMaskSession.get(), "person_mask.onnx",
             {"input_1", tracker.personMaskInput.data(), tracker.personMaskInput.size(), shape, 4},
             outputNames, expected, 1, outputs);
    std::copy_n(outputs.data[0], kPersonMaskValues, tracker.personMask.begin());
    personMaskToPixels(tracker.personMask.data(), tracker.personMaskPixels.data());
    return !tracker.uploadPersonMask || tracker.uploadPersonMask(tracker.personMaskPixels.data());
}

}  // namespace qm
