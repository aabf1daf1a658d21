// Reads a picture file into the tracker's pixel layout (B, G, R, A bytes, rows packed) for the developer
// tool and the tests. Uses gdk-pixbuf; kept out of the tracking library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tracking/sample_bilinear.h"

namespace qm {

struct PictureBuffer {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    SourcePicture view() const { return packedPicture(pixels.data(), width, height); }
};

// False with *error filled when the file is missing, unreadable or not a picture. Pictures larger than
// 8192 pixels on a side are scaled down while decoding (aspect kept).
bool readPictureFile(const std::string& path, PictureBuffer& picture, std::string* error);

}  // namespace qm
