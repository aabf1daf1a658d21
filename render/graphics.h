// The drawing device: the fixed 1280 × 720 frame canvas and every shared drawing resource (the source
// bitmap, the person-mask bitmap, brushes, effects and the built-in pictures), on Cairo image surfaces.
//
// Contract: the engine thread creates one Graphics with initialiseGraphics before its first frame, calls
// createSourceBitmap whenever the source size changes, and reads the finished canvas with readCanvas after
// each composed frame. Nothing here is touched by another thread. Everything is made once at start; only
// the source bitmap is re-created during a run.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/status.h"
#include "render/cairo_handles.h"
#include "render/effects.h"

namespace qm {

constexpr int kCanvasWidth = 1280;
constexpr int kCanvasHeight = 720;
constexpr int kMaskWidth = 256;
constexpr int kMaskHeight = 144;
constexpr size_t kMaskBytes = kMaskWidth * kMaskHeight * 4;  // 147,456

struct GraphicsOptions {
    bool software = false;      // --software: the cheap bilinear path everywhere
    std::string processorName;  // named in the "drawing on" line
    std::string assetFolder;    // with a trailing '/'; empty: the program's folder
};

// A blur whose result is drawn scaled: large deviations are blurred at half resolution (indistinguishable
// after a blur of several pixels, four times less work). Owns its buffers, which grow only with the picture.
struct BlurredLayer {
    GaussianBlur blur;
    std::vector<uint8_t> reduced;
    SurfacePtr output;  // ARGB32, premultiplied, edges fading to transparent (hard border)
    int factor = 1;     // output pixel = factor × factor input pixels
};

// Blurs an opaque bitmap (its alpha byte is ignored) with the given deviation in its own pixels. Returns
// the layer's output surface (or null on failure); draw it scaled by (bitmap size / output size).
cairo_surface_t* blurBitmap(cairo_surface_t* bitmap, float sigma, BlurredLayer& layer);

struct Graphics {
    std::string assetFolder;  // where the painters load their pictures from, with a trailing '/'
    bool onHardware = true;  // false with --software: wear pictures are then drawn bilinear, not high quality

    SurfacePtr canvas;  // 1280 × 720 RGB24 (B8G8R8A8, alpha ignored)
    ContextPtr cr;      // drawing context on the canvas for the whole run

    SurfacePtr source;  // the current source frame, RGB24, re-created with the source size
    PatternPtr sourceBrush;
    int sourceWidth = 0;
    int sourceHeight = 0;

    std::vector<uint8_t> maskBuffer;  // 147,456 bytes: the mask bitmap's own pixels
    SurfacePtr mask;                  // 256 × 144 ARGB32 over maskBuffer
    PatternPtr maskBrush;

    PatternPtr blackBrush;  // solid black; painters change its colour freely
    BlurredLayer backgroundBlur;
    BlurredLayer spareBlur;

    // Soft ellipses: white, opaque to the core fraction, fading to clear at radius 1 (the faces' pasted
    // features, the kitten's lids, the head cut-out).
    PatternPtr softEllipse55, softEllipse72, softEllipse80;
};

// Builds everything above in its fixed order; the first failure is reported and returned.
HResult initialiseGraphics(Graphics& graphics, const GraphicsOptions& options);

// Releases the old source bitmap and brush and makes new ones of the given size.
HResult createSourceBitmap(Graphics& graphics, int width, int height);

// Copies a BGRA frame (rows `stride` bytes apart) into the source bitmap.
HResult uploadSourceFrame(Graphics& graphics, const uint8_t* pixels, int stride);

// Copies 256 × 144 BGRA mask pixels (rows of 1024 bytes) into the mask bitmap.
void uploadPersonMask(Graphics& graphics, const uint8_t* pixels);

// Copies the finished canvas into out (720 rows of 1280 × 4 bytes, B, G, R, alpha ignored).
void readCanvas(Graphics& graphics, uint8_t* out);

// A radial gradient brush of the unit circle (white or coloured stops), with an optional focal offset.
struct GradientStop {
    double position, r, g, b, a;
};
PatternPtr makeRadialBrush(std::initializer_list<GradientStop> stops, double originX = 0, double originY = 0);
PatternPtr makeLinearBrush(double x0, double y0, double x1, double y1,
                           std::initializer_list<GradientStop> stops);
PatternPtr makeSoftEllipse(double core);
// A bitmap brush that pads at its edges and filters bilinearly.
PatternPtr makeBitmapBrush(cairo_surface_t* surface);
// A gradient stop of white or black at the given opacity.
constexpr GradientStop whiteStop(double position, double alpha) {
    return {position, 1, 1, 1, alpha};
}
constexpr GradientStop blackStop(double position, double alpha) {
    return {position, 0, 0, 0, alpha};
}

// Sets a brush's transform (brush space → user space), as the painters think of it.
void setBrushTransform(cairo_pattern_t* pattern, const cairo_matrix_t& brushToUser);

}  // namespace qm
