// Pictures written by the tests themselves: solid or patterned pictures in any format gdk-pixbuf
// writes, and JPEG files carrying an EXIF orientation.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace qm::testing {

// A fresh folder under the system's temporary folder, with a trailing '/'.
std::string temporaryFolder();

// Writes an RGBA picture (straight alpha, rows of width × 4 bytes) as "png" or "jpeg".
bool writePicture(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height,
                  const char* format);

// A picture whose left half is red and right half blue.
std::vector<uint8_t> redLeftBlueRight(int width, int height);

// Writes a JPEG of the picture with an EXIF block holding the orientation tag.
bool writeJpegWithOrientation(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                              int height, int orientation);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A sprite sheet whose pixels do not matter: one light grey, width × height.
inline void writeSheet(const std::string& path, int width, int height) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4, 200);
    EXPECT_TRUE(writePicture(path, rgba, width, height, "png")) << path;
}

}  // namespace qm::testing
