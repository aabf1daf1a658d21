#include "render/face_photo.h"

#include <algorithm>
#include <cmath>

namespace qm {

bool sampleSkinColour(bool premultiplied, const uint8_t* pixels, int width, int height, float leftEyeX,
                      float leftEyeY, float rightEyeX, float rightEyeY, bool preferBrighter,
                      Colour3* colour) {
    if (!pixels || width <= 0 || height <= 0) return false;
    const float dx = rightEyeX - leftEyeX, dy = rightEyeY - leftEyeY;
    const float d = std::sqrt(dx * dx + dy * dy);
    const float angle = std::atan2(dy, dx), c = std::cos(angle), s = std::sin(angle);
    const float mx = (leftEyeX + rightEyeX) / 2, my = (leftEyeY + rightEyeY) / 2;
    const float side = 0.3f * d;
    Colour3 patches[2];
    int found = 0;
    for (int j = -1; j <= 1; j += 2) {
        const float cornerX = mx + (j * 0.62f * d * c - 0.62f * d * s) - side / 2;
        const float cornerY = my + (j * 0.62f * d * s + 0.62f * d * c) - side / 2;
        if (cornerX < 0 || cornerY < 0 || cornerX + side > width - 1 || cornerY + side > height - 1 ||
            side < 2)
            continue;
        const float step = std::max(1.0f, side / 8);
        double r = 0, g = 0, b = 0;
        int count = 0;
        for (float py = 0; py < side; py += step)
            for (float px = 0; px < side; px += step) {
                const uint8_t* p =
                    pixels +
                    (static_cast<size_t>(cornerY + py) * width + static_cast<size_t>(cornerX + px)) * 4;
                if (premultiplied) {
                    if (p[3] < 128) continue;
                    r += p[2] * 255.0 / p[3];
                    g += p[1] * 255.0 / p[3];
                    b += p[0] * 255.0 / p[3];
                } else {
                    r += p[2];
                    g += p[1];
                    b += p[0];
                }
                ++count;
            }
        if (count == 0) continue;
        patches[found++] = {static_cast<float>(r / count / 255), static_cast<float>(g / count / 255),
                            static_cast<float>(b / count / 255)};
    }
    if (found == 0) return false;
    if (found == 1) {
        *colour = patches[0];
        return true;
    }
    if (preferBrighter) {
        auto brightness = [](const Colour3& p) { return 0.3f * p.r + 0.6f * p.g + 0.1f * p.b; };
        const float b0 = brightness(patches[0]), b1 = brightness(patches[1]);
        const Colour3& brighter = b0 >= b1 ? patches[0] : patches[1];
        const float darker = std::max(std::min(b0, b1), 0.001f);
        if (std::max(b0, b1) > 1.8f * darker) {
            *colour = brighter;
            return true;
        }
    }
    *colour = {(patches[0].r + patches[1].r) / 2, (patches[0].g + patches[1].g) / 2,
               (patches[0].b + patches[1].b) / 2};
    return true;
}

}  // namespace qm
