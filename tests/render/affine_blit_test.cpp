#include "render/affine_blit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "render/cairo_handles.h"

namespace qm {
namespace {

// The own rotated drawing must match Cairo's bilinear drawing of the same picture.
TEST(AffineBlitTest, MatchesCairosBilinearDrawing) {
    const int pw = 120, ph = 90;
    SurfacePtr picture = makePaddedSurface(pw, ph);
    ASSERT_EQ(checkSurface(picture.get()), kOk);
    uint8_t* data = cairo_image_surface_get_data(picture.get());
    const int stride = cairo_image_surface_get_stride(picture.get());
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            // A soft disc of changing colour: alpha and colour both vary, premultiplied.
            const double d = std::hypot(x - 60.0, y - 45.0);
            const int a = d < 35 ? 255 : d < 44 ? static_cast<int>(255 * (44 - d) / 9) : 0;
            uint8_t* p = data + y * stride + x * 4;
            p[0] = static_cast<uint8_t>(a * x / pw), p[1] = static_cast<uint8_t>(a * y / ph),
            p[2] = static_cast<uint8_t>(a / 2);
            p[3] = static_cast<uint8_t>(a);
        }
    cairo_surface_mark_dirty(picture.get());

    for (double angle : {0.0, 0.4, -2.0}) {
        for (double scale : {0.7, 1.6}) {
            cairo_matrix_t m;
            cairo_matrix_init_translate(&m, 150, 110);
            cairo_matrix_rotate(&m, angle);
            cairo_matrix_scale(&m, scale, scale * 0.8);
            cairo_matrix_translate(&m, -60, -45);

            SurfacePtr ours(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 300, 220));
            SurfacePtr theirs(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 300, 220));
            for (cairo_surface_t* s : {ours.get(), theirs.get()}) {
                cairo_t* cr = cairo_create(s);
                cairo_set_source_rgb(cr, 0.2, 0.5, 0.3);
                cairo_paint(cr);
                cairo_destroy(cr);
            }
            ASSERT_TRUE(drawPictureAffine(ours.get(), picture.get(), m));
            cairo_t* cr = cairo_create(theirs.get());
            cairo_set_matrix(cr, &m);
            cairo_set_source_surface(cr, picture.get(), 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
            cairo_paint(cr);
            cairo_destroy(cr);
            cairo_surface_flush(theirs.get());

            const uint8_t* a = cairo_image_surface_get_data(ours.get());
            const uint8_t* b = cairo_image_surface_get_data(theirs.get());
            const int s = cairo_image_surface_get_stride(ours.get());
            int worst = 0;
            long total = 0;
            for (int y = 0; y < 220; ++y)
                for (int x = 0; x < 300; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int diff = std::abs(a[y * s + x * 4 + c] - b[y * s + x * 4 + c]);
                        worst = std::max(worst, diff);
                        total += diff;
                    }
            EXPECT_LE(worst, 3) << angle << " " << scale;
            EXPECT_LE(total / (300.0 * 220 * 3), 0.05) << angle << " " << scale;
        }
    }
    // A transform that can't be inverted draws nothing.
    cairo_matrix_t flat;
    cairo_matrix_init_scale(&flat, 0, 1);
    SurfacePtr target(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 10, 10));
    EXPECT_FALSE(drawPictureAffine(target.get(), picture.get(), flat));
}

// The vector path draws exactly the pixels of the one-pixel path (and so does a shape that only clips):
// random premultiplied pictures (clear, faint, half and fully opaque pixels, with holes), random transforms
// and an ARGB target with alpha, so every branch of the blend is met.
TEST(AffineBlitTest, FourAtATimeDrawsTheSamePixelsAsOneAtATime) {
    std::srand(7);
    auto random = [](int n) { return std::rand() % n; };
    long compared = 0;
    for (int round = 0; round < 40; ++round) {
        const int pw = 8 + random(120), ph = 8 + random(90);
        SurfacePtr picture = makePaddedSurface(pw, ph);
        ASSERT_EQ(checkSurface(picture.get()), kOk);
        uint8_t* data = cairo_image_surface_get_data(picture.get());
        const int stride = cairo_image_surface_get_stride(picture.get());
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const int kind = random(5);
                const int a = kind == 0 ? 0 : kind == 1 ? 1 + random(3) : kind == 2 ? 255 : random(256);
                uint8_t* p = data + y * stride + x * 4;
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<uint8_t>(a ? random(a + 1) : 0);
                p[3] = static_cast<uint8_t>(a);
            }
        cairo_surface_mark_dirty(picture.get());
        cairo_matrix_t m;
        cairo_matrix_init_translate(&m, random(200), random(150));
        cairo_matrix_rotate(&m, (random(2000) - 1000) / 300.0);
        const double scale = 0.2 + random(300) / 100.0;
        cairo_matrix_scale(&m, scale, scale * (0.5 + random(100) / 100.0));

        SurfacePtr drawn[2];
        for (int vector = 0; vector < 2; ++vector) {
            drawn[vector].reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 257, 181));
            uint8_t* t = cairo_image_surface_get_data(drawn[vector].get());
            const int ts = cairo_image_surface_get_stride(drawn[vector].get());
            std::srand(1000 + round);
            for (int y = 0; y < 181; ++y)
                for (int x = 0; x < 257 * 4; ++x)
                    t[y * ts + x] = static_cast<uint8_t>(random(256));
            cairo_surface_mark_dirty(drawn[vector].get());
            useVectorBlit(vector == 1);
            // The vector side also passes a shape that only clips: it must draw the same pixels.
            BlitShape clipOnly;
            clipOnly.clipRight = 257, clipOnly.clipBottom = 181;
            ASSERT_TRUE(
                drawPictureAffine(drawn[vector].get(), picture.get(), m, vector == 1 ? &clipOnly : nullptr));
        }
        useVectorBlit(true);
        const uint8_t* a = cairo_image_surface_get_data(drawn[0].get());
        const uint8_t* b = cairo_image_surface_get_data(drawn[1].get());
        const int ts = cairo_image_surface_get_stride(drawn[0].get());
        int differences = 0;
        for (int y = 0; y < 181; ++y)
            for (int x = 0; x < 257 * 4; ++x)
                differences += a[y * ts + x] != b[y * ts + x];
        EXPECT_EQ(differences, 0) << "round " << round;
        compared += 181 * 257;
    }
    EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace qm
