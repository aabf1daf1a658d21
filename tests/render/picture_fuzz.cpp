// Fuzz target: any bytes as a picture file, through every loader the program uses on user and asset files.
// A load may fail; it must never crash, hang or claim a size it did not decode.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::Picture picture;
    if (qm::loadPictureData(data, size, "fuzz", true, &picture) == qm::kOk &&
        picture.pixels.size() != static_cast<size_t>(picture.pixelWidth) * picture.pixelHeight * 4)
        __builtin_trap();
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (qm::loadPhotoData(data, size, &pixels, &width, &height) &&
        (width <= 0 || height <= 0 || width > 1024 || height > 1024 ||
         pixels.size() != static_cast<size_t>(width) * height * 4))
        __builtin_trap();
    return 0;
}
