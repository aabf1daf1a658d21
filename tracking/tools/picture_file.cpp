#include "tracking/tools/picture_file.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

namespace qm {

namespace {
constexpr int kLargestSide = 8192;
}

bool readPictureFile(const std::string& path, PictureBuffer& picture, std::string* error) {
    int width = 0, height = 0;
    if (!gdk_pixbuf_get_file_info(path.c_str(), &width, &height) || width <= 0 || height <= 0) {
        if (error) *error = "not a picture: " + path;
        return false;
    }
    GError* gerror = nullptr;
    GdkPixbuf* loaded =
        width > kLargestSide || height > kLargestSide
            ? gdk_pixbuf_new_from_file_at_scale(path.c_str(), kLargestSide, kLargestSide, TRUE, &gerror)
            : gdk_pixbuf_new_from_file(path.c_str(), &gerror);
    if (!loaded) {
        if (error) *error = gerror ? gerror->message : "cannot read " + path;
        if (gerror) g_error_free(gerror);
        return false;
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_apply_embedded_orientation(loaded);
    g_object_unref(loaded);

    picture.width = gdk_pixbuf_get_width(pixbuf);
    picture.height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const guint8* source = gdk_pixbuf_read_pixels(pixbuf);
    picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
    for (int y = 0; y < picture.height; ++y) {
        const guint8* in = source + static_cast<size_t>(y) * stride;
        uint8_t* out = picture.pixels.data() + static_cast<size_t>(y) * picture.width * 4;
        for (int x = 0; x < picture.width; ++x, in += channels, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = alpha ? in[3] : 255;
        }
    }
    g_object_unref(pixbuf);
    return true;
}

}  // namespace qm
