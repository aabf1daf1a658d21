#include "render/face_anchors.h"

#include <algorithm>

namespace qm {

namespace {

bool opaqueAt(const uint8_t* pixels, int width, int x, int y) {
    return pixels[(static_cast<size_t>(y) * width + x) * 4 + 3] > 128;
}

// Walks left and right from the start column while the next pixel is opaque.
void spanAt(const uint8_t* pixels, int width, int row, int start, int* left, int* right) {
    int l = start, r = start;
    while (l > 0 && opaqueAt(pixels, width, l - 1, row))
        --l;
    while (r < width - 1 && opaqueAt(pixels, width, r + 1, row))
        ++r;
    *left = l;
    *right = r;
}

}  // namespace

HeadBox measureHeadBox(const uint8_t* pixels, int width, int height, const FaceAnchors& a,
                       const float* relativeTop) {
    HeadBox box;
    if (!pixels || width <= 0 || height <= 0) return box;
    const float u = a.faceWidthFraction * width;
    const float ex = (a.leftEyeX + a.rightEyeX) / 2 * width;
    const float ey = (a.leftEyeY + a.rightEyeY) / 2 * height;

    float top = ey;
    if (relativeTop) {
        top = ey - u * *relativeTop;
    } else {
        const int lastRow = std::min(height - 1, static_cast<int>(ey));
        const int firstColumn = std::max(0, static_cast<int>(ex - 0.3f * u));
        const int lastColumn = std::min(width - 1, static_cast<int>(ex + 0.3f * u));
        bool found = false;
        for (int y = 0; y <= lastRow && !found; ++y)
            for (int x = firstColumn; x <= lastColumn; x += 2)
                if (opaqueAt(pixels, width, x, y)) {
                    top = static_cast<float>(y);
                    found = true;
                    break;
                }
    }
    box.headTop = std::max(ey - 1.6f * u, std::min(top, ey - 0.3f * u));

    const int startColumn = std::clamp(static_cast<int>(ex), 0, width - 1);
    int l = 0, r = 0;
    spanAt(pixels, width, std::clamp(static_cast<int>(ey), 0, height - 1), startColumn, &l, &r);
    box.eyeLevelWidth = std::clamp(static_cast<float>(r - l + 1), 0.8f * u, 2.4f * u);

    const int foreheadRow = std::clamp(static_cast<int>((box.headTop + ey) / 2), 0, height - 1);
    spanAt(pixels, width, foreheadRow, startColumn, &l, &r);
    const float g = static_cast<float>(r - l + 1);
    if (g >= 0.8f * u && g <= 2.4f * u) {
        box.foreheadWidth = g;
        box.foreheadX = (l + r) / 2.0f;
    } else {
        box.foreheadWidth = std::clamp(g, 0.8f * u, 2.4f * u);
        box.foreheadX = ex;
    }
    return box;
}

float relativeHeadTop(const HeadBox& morvelBox, const FaceAnchors& morvel, float morvelWidth,
                      float morvelHeight) {
    if (!(morvelWidth > 0)) return 0;
    return (morvel.leftEyeY * morvelHeight - morvelBox.headTop) / (morvelWidth * morvel.faceWidthFraction);
}

}  // namespace qm
