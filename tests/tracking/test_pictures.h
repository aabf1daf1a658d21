// Pictures for the model tests: the project's test data read from data/, one frame of a video, and the
// variants the tests need (turned, mirrored, scaled onto a larger frame, cut).
#pragma once

#include <string>

#include "tracking/face_types.h"
#include "tracking/tools/picture_file.h"

namespace qm::test {

// data/<name> of the source tree; an empty picture when it cannot be read.
PictureBuffer dataPicture(const std::string& name);

// Frame `index` (counting from 0) of data/<name>, decoded to B, G, R, A; empty when unreadable.
PictureBuffer dataVideoFrame(const std::string& name, int index);

PictureBuffer turnedClockwise(const PictureBuffer& picture);  // a quarter turn
PictureBuffer turnedAnticlockwise(const PictureBuffer& picture);
// Turned by `angle` radians (clockwise on screen for a positive angle) about `pivot`, same size.
PictureBuffer turnedBy(const PictureBuffer& picture, float angle, Point2 pivot);
PictureBuffer mirrored(const PictureBuffer& picture);  // left and right swapped
// A black width × height frame with the picture scaled by `scale` and its top-left corner at (x, y).
PictureBuffer placedOn(const PictureBuffer& picture, int width, int height, float scale, int x, int y);
// The part of the picture from (x, y) of the given size.
PictureBuffer cut(const PictureBuffer& picture, int x, int y, int width, int height);

}  // namespace qm::test
