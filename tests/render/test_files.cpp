#include "test_files.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "tests/support/temp_dir.h"

namespace qm::testing {

std::string temporaryFolder() {
    // Each folder lives until the test program ends, then goes with the others.
    static std::vector<std::unique_ptr<test::TempDir>> folders;
    folders.push_back(std::make_unique<test::TempDir>());
    return folders.back()->folder();
}

bool writePicture(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height,
                  const char* format) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(rgba.data(), GDK_COLORSPACE_RGB, TRUE, 8, width, height,
                                                 width * 4, nullptr, nullptr);
    GdkPixbuf* saved = pixbuf;
    if (std::string(format) == "jpeg")
        saved = gdk_pixbuf_composite_color_simple(pixbuf, width, height, GDK_INTERP_NEAREST, 255, 8, 0, 0);
    GError* error = nullptr;
    const bool ok = gdk_pixbuf_save(saved, path.c_str(), format, &error, nullptr);
    if (error) g_error_free(error);
    if (saved != pixbuf) g_object_unref(saved);
    g_object_unref(pixbuf);
    return ok;
}

std::vector<uint8_t> redLeftBlueRight(int width, int height) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            const bool left = x < width / 2;
            p[0] = left ? 230 : 20;
            p[1] = 20;
            p[2] = left ? 20 : 230;
            p[3] = 255;
        }
    return rgba;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool writeJpegWithOrientation(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                              int height, int orientation) {
    if (!writePicture(path, rgba, width, height, "jpeg")) return false;
    std::vector<uint8_t> jpeg = readFile(path);
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    // APP1 "Exif": a big-endian TIFF header and one IFD with the orientation tag (274, SHORT, 1 value).
    const std::vector<uint8_t> tiff = {'M',  'M',
                                       0,    42,
                                       0,    0,
                                       0,    8,  // header, IFD at 8
                                       0,    1,  // one entry
                                       0x01, 0x12,
                                       0,    3,
                                       0,    0,
                                       0,    1,  // tag, type, count
                                       0,    static_cast<uint8_t>(orientation),
                                       0,    0,  // value
                                       0,    0,
                                       0,    0};  // no next IFD
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    const size_t length = app1.size() - 2;
    app1[2] = static_cast<uint8_t>(length >> 8);
    app1[3] = static_cast<uint8_t>(length & 0xFF);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    writeFile(path, jpeg);
    return true;
}

}  // namespace qm::testing
