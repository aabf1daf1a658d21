// Fuzz target: any bytes as a picture file, through every loader the program uses on user and asset files.
// A load may fail; it must never crash, hang or claim a size it did not decode.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "render/pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/qm-picture-fuzz-" + std::to_string(getpid());
    static const struct Remove {
        ~Remove() { std::remove(path.c_str()); }
    } removeAtExit;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    qm::Picture picture;
    if (qm::loadPicture(path, true, &picture) == qm::kOk &&
        picture.pixels.size() != static_cast<size_t>(picture.pixelWidth) * picture.pixelHeight * 4)
        __builtin_trap();
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (qm::loadPhoto(path, &pixels, &width, &height) &&
        (width <= 0 || height <= 0 || width > 1024 || height > 1024 ||
         pixels.size() != static_cast<size_t>(width) * height * 4))
        __builtin_trap();
    return 0;
}
