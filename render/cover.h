// Placement maths of full-frame pictures on the canvas. Pure functions.
#pragma once

namespace qm {

// The source fills the 1280 × 720 canvas, centred, the overflow cut off: canvas = source × scale + offset.
struct CoverTransform {
    double scale = 1;
    double offsetX = 0;
    double offsetY = 0;
};
CoverTransform coverTransform(int sourceWidth, int sourceHeight);

// The part of a picture (pw × ph) that fills a source-sized rectangle (w × h) with the picture's aspect
// kept: the largest centred rectangle of the source's aspect.
struct CropRect {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
CropRect backgroundCrop(double pictureWidth, double pictureHeight, double sourceWidth, double sourceHeight);

}  // namespace qm
