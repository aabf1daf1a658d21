// Touch-up looks: retouches the user's own face in the camera frame before anything is drawn over it —
// skin smoothing and glow, contour, brows, eye shadow, lash line, lip colour, blush, an under-eye lift and
// small shape changes (slimmer face and nose, larger eyes, fuller lips; for the masculine variant a wider
// jaw and a stubble shade instead of the make-up).
//
// The engine calls applyLook on its own thread once per frame in which the face mesh succeeded and a look
// is chosen, after the face geometry and before composition. It changes the colour bytes of the frame in
// place inside the face's region of interest (about 1.35 face widths square, clipped to the frame) and
// nothing else: pixels outside that region and every alpha byte stay as they were. Where the look cannot
// run (eyes under 12 pixels apart, a region under 32 pixels on a side after clipping, measures that are
// not finite) the frame is left untouched.
//
// All work happens on float copies of the region in LookBuffers (four floats per pixel: R, G, B and a
// spare lane, so that one pixel is one vector), which the caller keeps between frames:
// they grow when a bigger region comes and are never shrunk, so a frame of an already-seen size
// allocates nothing. Pure: no platform or drawing types.
#pragma once

#include <cstdint>
#include <vector>

#include "tracking/box_blur.h"
#include "tracking/face_types.h"

namespace qm {

// The strength 0..1.5 of each effect.
struct LookParameters {
    float smooth = 0;  // skin smoothing
    float glow = 0;    // skin brightening
    float slim = 0;    // slimmer lower face
    float noseSlim = 0;
    float eyeEnlarge = 0;
    float lipPlump = 0;
    float browFill = 0;
    float lashLine = 0;
    float contour = 0;
    float lipColour = 0;
    float underEye = 0;  // under-eye lift
    float blush = 0;
    float eyeShadow = 0;
    float jaw = 0;  // masculine jaw and stubble
};

// The effective values for a look (0 none, 1 natural, 2 glam, 3 bold; anything else is none), the
// masculine variant and the strength (negative counts as 0): each value but `jaw` is the look's base
// value times the strength, at most 1.5; the masculine variant then derives `jaw` from the scaled `slim`,
// drops the colour make-up and the eye and lip shaping, and tones down smoothing, slimming and brows.
LookParameters lookParameters(int look, bool masculine, float strength);

// A frame's pixels: 4 bytes per pixel (blue, green, red, alpha), rows `stride` bytes apart.
struct LookPixels {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// A rectangle of frame pixels.
struct LookRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

// The region of interest for a face in a frame of the given size: the face oval's bounding box grown to a
// square 1.35 times its larger side about the same centre, clipped to the frame. Empty when the look
// cannot run on this face.
LookRegion lookRegion(const LandmarkSet& landmarks, const FaceGeometry& face, int frameWidth,
                      int frameHeight);

// The working memory of the looks, all in region pixels, row-major.
struct LookBuffers {
    std::vector<float> roiImage;       // R, G, B and the spare lane, floats 0..1
    std::vector<float> skinMask;       // one float per pixel
    std::vector<float> protectMask;    // eyes, brows and mouth, kept from smoothing
    std::vector<int> skinSpans;        // per row, the first and one-past-last pixel where skin > 0
    std::vector<float> halfColour;     // half-size R, G, B, spare
    std::vector<float> halfLuminance;  // half-size luminance
    std::vector<float> halfBlurred;    // its blur
    std::vector<float> halfDark;       // dark-detail mask
    std::vector<float> upsampledRow;   // one half-size colour row, mixed between its two rows
    std::vector<float> originalRows;   // the unsmoothed row above and this row
    std::vector<float> neighbourSums;  // one row of 3-row column sums of the unsmoothed pixels
    std::vector<float> weights;        // one row of spot weights
    // The make-up layers, 4 floats per pixel. Between frames every value is the layer's neutral one
    // (1 for multiply, 0.5 for soft light), so a region of another size can reuse them as they are.
    std::vector<float> multiplyLayer;
    std::vector<float> softLightLayer;
    std::vector<uint8_t> ovalMask;  // 1 inside the face oval
    std::vector<float> warpCopy;    // a shape warp's finished rows, kept until no row reads under them
    std::vector<int> warpSpans;     // for each, the first and last pixel that moved
    BoxBlurScratch blur;
};

// Applies the look to the frame (see the top of this file). Returns the region it worked on, empty
// when it left the frame untouched (look 0 included).
LookRegion applyLook(LookBuffers& buffers, const LookPixels& frame, const LandmarkSet& landmarks,
                     const FaceGeometry& face, int look, bool masculine, float strength);

// The same with effective values given directly (used as they come: no scaling and no masculine changes).
LookRegion applyLookParameters(LookBuffers& buffers, const LookPixels& frame, const LandmarkSet& landmarks,
                               const FaceGeometry& face, const LookParameters& parameters);

// On x86-64 the pixel work is built twice, and applyLookParameters takes the AVX2 and FMA build where the
// processor has them (the same picture but for rounding). True: the portable build always (for the tests
// that compare the two).
void useLookPortableBuild(bool portableOnly);

}  // namespace qm
