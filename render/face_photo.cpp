#include "render/face_photo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tracking/box_blur.h"

namespace qm {

FaceAnchors photoAnchors(const FaceGeometry& g, float w, float h) {
    return {g.faceCentre.x / w,
            g.faceCentre.y / h,
            g.leftEye.x / w,
            g.leftEye.y / h,
            g.rightEye.x / w,
            g.rightEye.y / h,
            g.mouthCentre.x / w,
            g.mouthCentre.y / h,
            g.faceWidth / w / 1.25f,
            1.1f,
            1.0f,
            0};
}

void applyNeck(FacePhoto& photo, float neck) {
    photo.neck = neck;
    photo.trimmedPixels = photo.pixels;
    const int w = static_cast<int>(photo.pixelWidth), h = static_cast<int>(photo.pixelHeight);
    if (w <= 0 || h <= 0 || photo.pixels.size() < static_cast<size_t>(w) * h * 4) {
        photo.bitmap.reset();
        return;
    }
    if (photo.faceFound && photo.geometry.faceWidth > 0) {
        const FaceGeometry& g = photo.geometry;
        const float ex = (g.leftEye.x + g.rightEye.x) / 2, ey = (g.leftEye.y + g.rightEye.y) / 2;
        const float c = std::cos(g.roll), s = std::sin(g.roll);
        // The jaw in the upright face frame, left to right.
        Point2 jaw[21];
        for (int i = 0; i < 21; ++i) {
            const float dx = photo.jawPoints[i].x - ex, dy = photo.jawPoints[i].y - ey;
            jaw[i] = {c * dx + s * dy, -s * dx + c * dy};
        }
        if (jaw[0].x > jaw[20].x) std::reverse(jaw, jaw + 21);
        float ymax = 1, xm = 0;
        for (const Point2& p : jaw) {
            ymax = std::max(ymax, p.y);
            xm += p.x / 21;
        }
        for (Point2& p : jaw) {
            const float t = std::max(0.0f, p.y) / ymax;
            p.x += (p.x < xm ? -1.0f : 1.0f) * (1 - t) * 0.15f * g.faceWidth;
            p.y += t * neck * 0.3f * g.faceWidth;
        }
        // Everything above the moved jaw line, drawn back in photo coordinates.
        SurfacePtr mask{cairo_image_surface_create(CAIRO_FORMAT_A8, w, h)};
        ContextPtr cr{cairo_create(mask.get())};
        const cairo_matrix_t upright = {c, s, -s, c, ex, ey};
        cairo_set_matrix(cr.get(), &upright);
        const float D = 2.0f * std::max(w, h);
        cairo_move_to(cr.get(), jaw[0].x - D, jaw[0].y - D);
        for (const Point2& p : jaw)
            cairo_line_to(cr.get(), p.x, p.y);
        cairo_line_to(cr.get(), jaw[20].x + D, jaw[20].y - D);
        cairo_close_path(cr.get());
        cairo_fill(cr.get());
        cairo_surface_flush(mask.get());
        const unsigned char* bytes = cairo_image_surface_get_data(mask.get());
        const int stride = cairo_image_surface_get_stride(mask.get());
        if (bytes && cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS) {
            std::vector<float> coverage(static_cast<size_t>(w) * h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    coverage[static_cast<size_t>(y) * w + x] = bytes[y * stride + x] / 255.0f;
            BoxBlurScratch scratch;
            boxBlur(coverage.data(), w, h, 1, 0.015f * g.faceWidth, 2, scratch);
            for (size_t i = 0; i < coverage.size(); ++i)
                for (int k = 0; k < 4; ++k) {
                    uint8_t& b = photo.trimmedPixels[i * 4 + k];
                    b = static_cast<uint8_t>(std::lround(b * std::clamp(coverage[i], 0.0f, 1.0f)));
                }
        }
    }
    SurfacePtr bitmap = makePaddedSurface(w, h);
    if (checkSurface(bitmap.get()) != kOk) {
        photo.bitmap.reset();
        return;
    }
    cairo_surface_flush(bitmap.get());
    unsigned char* dst = cairo_image_surface_get_data(bitmap.get());
    const int dstStride = cairo_image_surface_get_stride(bitmap.get());
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + static_cast<size_t>(y) * dstStride,
                    &photo.trimmedPixels[static_cast<size_t>(y) * w * 4], static_cast<size_t>(w) * 4);
    cairo_surface_mark_dirty(bitmap.get());
    photo.bitmap = std::move(bitmap);
}

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
