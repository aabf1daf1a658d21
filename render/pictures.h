// Picture loading and saving on gdk-pixbuf. Every picture the engine draws comes through here: the built-in
// pictures beside the program, background pictures and the user's face photos. Pictures come out as
// premultiplied BGRA (Cairo's ARGB32). Decoding is bounded: a picture is never decoded larger than its
// limit, so a hostile 30000 × 30000 file cannot exhaust memory. Called on the engine thread (the window may
// call loadPhoto and savePng on its own thread too: nothing here is shared).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "render/affine_blit.h"
#include "render/cairo_handles.h"
#include "render/face_anchors.h"

namespace qm {

// A loaded picture, owned by the caller.
struct Picture {
    SurfacePtr bitmap;            // ARGB32, premultiplied
    std::vector<uint8_t> pixels;  // premultiplied B, G, R, A rows of width × 4 bytes; only when asked for
    uint32_t pixelWidth = 0;      // filled with pixels
    uint32_t pixelHeight = 0;
    uint64_t serial = 0;  // unique per load, so a cache of a drawn picture can tell a new one from the old
};

// A built-in replacement face: the picture, its drop shadow and anchor table, and its measured head box.
struct FacePicture {
    HeadBox box;
    SurfacePtr bitmap;
    SurfacePtr shadow;  // the shadow picture, larger than bitmap by shadowMargin on every side
    int shadowMargin = 0;
    // The shadow with the picture over it, made once, at full, half and quarter size: a frame draws the
    // one nearest its drawn size in a single pass. Level i's pixel (0, 0) is picture point
    // (-shadowMargin, -shadowMargin + 0.02 × width) and one of its pixels spans 2^i picture pixels.
    SurfacePtr withShadow[3];
    std::vector<RowSpan> withShadowSpans[3];  // one per row of each: the blitter skips the clear corners
    float width = 0;
    float height = 0;
    FaceAnchors anchors{};
};

// Longest side a picture is decoded at; larger pictures are scaled down while decoding.
constexpr int kMaxPictureSide = 4096;
// Longest side of a loaded photo.
constexpr int kMaxPhotoSide = 1024;

// The program folder + file name.
std::string assetPath(const std::string& fileName);

// Loads a picture. A file that can't be decoded (missing, not a regular file, not a picture, an absurd
// size) logs "a picture is missing: %s" through the failure report and returns the failure.
HResult loadPicture(const std::string& path, bool wantPixels, Picture* picture);
// The same from a picture file's bytes already in memory; `name` is what the failure names.
HResult loadPictureData(const uint8_t* bytes, size_t size, const std::string& name, bool wantPixels,
                        Picture* picture);

// Loads a built-in face picture (full path), measures its head box and makes its
// shadow. relativeTop: see measureHeadBox (the morvel's proportions for pictures that take them).
HResult loadFacePicture(const std::string& path, const FaceAnchors& anchors, const float* relativeTop,
                        FacePicture* face);

// Whether a file's header names a picture format with a size the decoders take (it reads only the header):
// what a decode would refuse before any pixel is refused here too.
bool decodablePictureFile(const std::string& path);

// Loads a photo: EXIF orientation applied (2 mirror, 3 half turn, 4 flip, 6 quarter turn clockwise, 8 quarter
// turn anticlockwise; others as stored), at most 1024 pixels on the long side. Returns false without a
// message on any failure.
bool loadPhoto(const std::string& path, std::vector<uint8_t>* pixels, int* width, int* height);
bool loadPhotoData(const uint8_t* bytes, size_t size, std::vector<uint8_t>* pixels, int* width, int* height);

// The photo's size after loadPhoto's scaling and orientation (exposed for tests).
void photoSize(int width, int height, int orientation, int* outWidth, int* outHeight);

// Writes premultiplied BGRA pixels as a PNG with straight alpha: each colour channel becomes
// min(255, channel × 255 / alpha), and a pixel with alpha 0 becomes (0, 0, 0, 0).
bool savePng(const std::string& path, const uint8_t* pixels, int width, int height);
void unpremultiplyForSave(const uint8_t* pixels, size_t pixelCount, uint8_t* out);

}  // namespace qm
