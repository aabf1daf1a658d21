#include "render/pictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "base/failure.h"
#include "platform/file_read.h"
#include "platform/paths.h"
#include "render/effects.h"

namespace qm {

namespace {

constexpr HResult kPictureUnreadable = 0x88982F50;  // "component not found": the file isn't a picture we read

bool describePictureStatus(HResult hr, std::string* message) {
    if (hr != kPictureUnreadable) return false;
    *message = "The file is missing or is not a picture that can be read.";
    return true;
}

struct PixbufRelease {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, PixbufRelease>;

// What the decoder is asked for, and what it found.
struct DecodeRequest {
    int maxSide = 0;
    bool refused = false;
    int fullWidth = 0, fullHeight = 0;
};

// Decoders that can't scale down decode in full: refuse what would need more than ~256 MB. JPEG scales down
// by up to 8 while decoding, which bounds even a hostile 30000 × 30000 file; beyond a gigapixel nothing is
// genuine. A GIF's decoder composes every frame on a canvas of the declared screen size, so a few bytes
// declaring a huge screen cost seconds: no genuine GIF is larger than 4096 × 4096.
constexpr double kMaxFullDecodePixels = 64.0 * 1024 * 1024, kMaxDeclaredPixels = 1e9;
constexpr double kMaxAnimationPixels = 4096.0 * 4096;

bool decodableSize(GdkPixbufFormat* format, int width, int height) {
    gchar* formatName = format ? gdk_pixbuf_format_get_name(format) : nullptr;
    const bool scalesWhileDecoding = formatName && std::strcmp(formatName, "jpeg") == 0;
    const bool animates = formatName && std::strcmp(formatName, "gif") == 0;
    g_free(formatName);
    const double declared = static_cast<double>(width) * height;
    return width > 0 && height > 0 && declared <= kMaxDeclaredPixels &&
           (scalesWhileDecoding || declared <= kMaxFullDecodePixels) &&
           (!animates || declared <= kMaxAnimationPixels);
}

// Called by the decoder once it knows the picture's declared size, before any pixel: refuses an absurd size
// (0 × 0 stops the decoder) and otherwise asks for the picture scaled down, aspect kept, so that neither side
// exceeds maxSide.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    DecodeRequest& request = *static_cast<DecodeRequest*>(data);
    request.fullWidth = width;
    request.fullHeight = height;
    const double declared = static_cast<double>(width) * height;
    if (!decodableSize(gdk_pixbuf_loader_get_format(loader), width, height)) {
        request.refused = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
        return;
    }
    // A huge JPEG is asked for at an eighth of its size at most, so the decoder's own scaling does the work.
    int maxSide = request.maxSide;
    if (declared > kMaxFullDecodePixels) maxSide = std::min(maxSide, std::max(width, height) / 8);
    if (std::max(width, height) > maxSide) {
        const double scale = static_cast<double>(maxSide) / std::max(width, height);
        gdk_pixbuf_loader_set_size(loader, std::max(1, static_cast<int>(std::lround(width * scale))),
                                   std::max(1, static_cast<int>(std::lround(height * scale))));
    }
}

// What a picture's bytes must show before any decoder sees them.
bool passesFileChecks(const uint8_t* bytes, size_t size) {
    if (!bytes || size == 0) return false;
    // The PNG decoder hands out what it has of a cut file as if it were whole: a PNG must end with its
    // end chunk.
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(bytes, kPngSignature, 8) == 0 &&
        (size < 20 || std::memcmp(bytes + size - 8, "IEND", 4) != 0))
        return false;
    // The BMP decoder sizes a buffer from the file's pixel offset and header size before it checks them
    // against the file: a 72-byte file could have it ask for 4 GB. Neither may point past the file's end.
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        if (size < 18) return false;
        auto le32 = [&](size_t at) {
            return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
                   static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
        };
        const uint32_t headerSize = le32(14);
        if (le32(10) > size || headerSize > size) return false;
        const bool coreHeader = headerSize == 12;  // the old header: 16-bit sizes and no colour count
        // Every genuine BMP has one colour plane; with any other count the decoder's RLE path can size a
        // buffer of 4 GB from a 143-byte file (found by fuzzing).
        const size_t planesAt = coreHeader ? 22 : 26;
        if (size < planesAt + 2 || (bytes[planesAt] | bytes[planesAt + 1] << 8) != 1) return false;
        // The decoder reads the colour count as a signed number: a count of 2^31 or more slips past its
        // "more colours than the depth allows" check and sizes the palette at 4 GB (found by fuzzing).
        if (!coreHeader && size >= 50 && le32(46) > 0x7FFFFFFFu) return false;
    }
    return true;
}

// Decodes a picture file's bytes, scaled down (aspect kept) so that neither side exceeds maxSide. A picture
// whose declared size is absurd is refused before any pixel is decoded, unless its decoder can scale down
// while decoding (JPEG).
PixbufPtr decodeBounded(const uint8_t* bytes, size_t size, int maxSide) {
    if (!passesFileChecks(bytes, size)) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    DecodeRequest request;
    request.maxSide = maxSide;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &request);
    GError* error = nullptr;
    bool ok = gdk_pixbuf_loader_write(loader, bytes, size, &error);
    if (error) g_clear_error(&error);
    // Closing finishes the decode (or ends a failed one); it must happen either way.
    ok = gdk_pixbuf_loader_close(loader, &error) && ok;
    if (error) g_clear_error(&error);
    GdkPixbuf* pixbuf = ok && !request.refused ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    if (!pixbuf) return nullptr;
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || gdk_pixbuf_get_n_channels(pixbuf) < 3 ||
        gdk_pixbuf_get_width(pixbuf) > std::max(maxSide, 1) ||
        gdk_pixbuf_get_height(pixbuf) > std::max(maxSide, 1)) {
        g_object_unref(pixbuf);
        return nullptr;
    }
    return PixbufPtr(pixbuf);
}

// The bytes of a picture file; empty when it is missing, not a regular file or larger than any picture.
std::vector<uint8_t> readPictureFile(const std::string& path) {
    constexpr size_t kMaxPictureFileBytes = 256u << 20;
    std::vector<uint8_t> bytes;
    readRegularFile(path, kMaxPictureFileBytes, &bytes);
    return bytes;
}

// Straight RGB(A) rows → premultiplied BGRA rows of width × 4 bytes.
void premultiplyInto(GdkPixbuf* pixbuf, std::vector<uint8_t>* out) {
    const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf) && channels == 4;
    const guint8* data = gdk_pixbuf_read_pixels(pixbuf);
    out->resize(static_cast<size_t>(width) * height * 4);
    uint8_t* o = out->data();
    for (int y = 0; y < height; ++y) {
        const guint8* in = data + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x, in += channels, o += 4) {
            const unsigned a = hasAlpha ? in[3] : 255;
            o[0] = static_cast<uint8_t>((in[2] * a + 127) / 255);
            o[1] = static_cast<uint8_t>((in[1] * a + 127) / 255);
            o[2] = static_cast<uint8_t>((in[0] * a + 127) / 255);
            o[3] = static_cast<uint8_t>(a);
        }
    }
}

SurfacePtr surfaceFromPixels(const uint8_t* pixels, int width, int height) {
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (checkSurface(surface.get()) != kOk) return surface;
    cairo_surface_flush(surface.get());
    uint8_t* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < height; ++y)
        std::memcpy(data + static_cast<size_t>(y) * stride, pixels + static_cast<size_t>(y) * width * 4,
                    static_cast<size_t>(width) * 4);
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

int orientationOf(GdkPixbuf* pixbuf) {
    const gchar* value = gdk_pixbuf_get_option(pixbuf, "orientation");
    if (!value) return 1;
    char* end = nullptr;
    const long orientation = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || orientation < 0 || orientation > 65535) return 1;
    return static_cast<int>(orientation);
}

}  // namespace

std::string assetPath(const std::string& fileName) {
    return executableDir() + fileName;
}

HResult loadPicture(const std::string& path, bool wantPixels, Picture* picture) {
    const std::vector<uint8_t> bytes = readPictureFile(path);
    return loadPictureData(bytes.data(), bytes.size(), path, wantPixels, picture);
}

HResult loadPictureData(const uint8_t* bytes, size_t size, const std::string& name, bool wantPixels,
                        Picture* picture) {
    addStatusTranslator(describePictureStatus);
    PixbufPtr pixbuf = decodeBounded(bytes, size, kMaxPictureSide);
    if (!pixbuf) {
        const std::string message = "a picture is missing: " + name;
        return reportFailure("Engine", __LINE__, kPictureUnreadable, message.c_str());
    }
    std::vector<uint8_t> pixels;
    premultiplyInto(pixbuf.get(), &pixels);
    const int width = gdk_pixbuf_get_width(pixbuf.get()), height = gdk_pixbuf_get_height(pixbuf.get());
    SurfacePtr surface = surfaceFromPixels(pixels.data(), width, height);
    if (HResult hr = checkSurface(surface.get()); hr != kOk) return reportFailure("Engine", __LINE__, hr);
    picture->bitmap = std::move(surface);
    static std::atomic<uint64_t> loads{0};
    picture->serial = ++loads;
    if (wantPixels) {
        picture->pixels = std::move(pixels);
        picture->pixelWidth = static_cast<uint32_t>(width);
        picture->pixelHeight = static_cast<uint32_t>(height);
    }
    return kOk;
}

HResult loadFacePicture(const std::string& path, const FaceAnchors& anchors, const float* relativeTop,
                        FacePicture* face) {
    Picture picture;
    if (HResult hr = loadPicture(path, true, &picture); hr != kOk) return hr;
    const int width = static_cast<int>(picture.pixelWidth), height = static_cast<int>(picture.pixelHeight);
    face->box = measureHeadBox(picture.pixels.data(), width, height, anchors, relativeTop);
    face->width = static_cast<float>(width);
    face->height = static_cast<float>(height);
    face->anchors = anchors;

    // The shadow never changes, so it is made once here: blur 0.03 × width, black at 40 %.
    const float sigma = 0.03f * face->width;
    const int margin = shadowMargin(sigma);
    SurfacePtr shadow(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width + 2 * margin, height + 2 * margin));
    if (HResult hr = checkSurface(shadow.get()); hr != kOk) return reportFailure("Engine", __LINE__, hr);
    cairo_surface_flush(shadow.get());
    PixelView src{picture.pixels.data(), width, height, width * 4};
    PixelView dst{cairo_image_surface_get_data(shadow.get()), width + 2 * margin, height + 2 * margin,
                  cairo_image_surface_get_stride(shadow.get())};
    const float colour[4] = {0, 0, 0, 0.4f};
    GaussianBlur blur;
    makeShadow(src, dst, sigma, colour, blur);
    cairo_surface_mark_dirty(shadow.get());
    face->shadow = std::move(shadow);
    face->shadowMargin = margin;
    const int fullWidth = width + 2 * margin, fullHeight = height + 2 * margin;
    for (int level = 0; level < 3; ++level) {
        const double scale = 1.0 / (1 << level);
        SurfacePtr layer = makePaddedSurface(std::max(1, static_cast<int>(fullWidth * scale)),
                                             std::max(1, static_cast<int>(fullHeight * scale)));
        if (HResult hr = checkSurface(layer.get()); hr != kOk) return reportFailure("Engine", __LINE__, hr);
        cairo_t* cr = cairo_create(layer.get());
        cairo_scale(cr, scale, scale);
        cairo_set_source_surface(cr, face->shadow.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_set_source_surface(cr, picture.bitmap.get(), margin, margin - 0.02 * face->width);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        const HResult hr = hresultFromCairo(cairo_status(cr));
        cairo_destroy(cr);
        if (hr != kOk) return reportFailure("Engine", __LINE__, hr);
        face->withShadowSpans[level].resize(static_cast<size_t>(cairo_image_surface_get_height(layer.get())));
        measureRowSpans(layer.get(), 0, cairo_image_surface_get_height(layer.get()),
                        face->withShadowSpans[level].data());
        face->withShadow[level] = std::move(layer);
    }
    face->bitmap = std::move(picture.bitmap);
    return kOk;
}

void photoSize(int width, int height, int orientation, int* outWidth, int* outHeight) {
    const double scale = std::min(1.0, static_cast<double>(kMaxPhotoSide) / std::max(width, height));
    int w = std::max(1, static_cast<int>(std::lround(width * scale)));
    int h = std::max(1, static_cast<int>(std::lround(height * scale)));
    if (orientation == 6 || orientation == 8) std::swap(w, h);
    *outWidth = w;
    *outHeight = h;
}

bool decodablePictureFile(const std::string& path) {
    // Read like every picture (a regular file, bounded), checked like every picture, and decoded only as
    // far as the declared size.
    const std::vector<uint8_t> bytes = readPictureFile(path);
    if (!passesFileChecks(bytes.data(), bytes.size())) return false;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    bool decodable = false;
    g_signal_connect(
        loader, "size-prepared", G_CALLBACK(+[](GdkPixbufLoader* self, int width, int height, gpointer data) {
            *static_cast<bool*>(data) = decodableSize(gdk_pixbuf_loader_get_format(self), width, height);
            gdk_pixbuf_loader_set_size(self, 0, 0);  // the size is all we wanted
        }),
        &decodable);
    gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr);
    gdk_pixbuf_loader_close(loader, nullptr);
    g_object_unref(loader);
    return decodable;
}

bool loadPhoto(const std::string& path, std::vector<uint8_t>* pixels, int* width, int* height) {
    const std::vector<uint8_t> bytes = readPictureFile(path);
    return loadPhotoData(bytes.data(), bytes.size(), pixels, width, height);
}

bool loadPhotoData(const uint8_t* bytes, size_t size, std::vector<uint8_t>* pixels, int* width, int* height) {
    PixbufPtr pixbuf = decodeBounded(bytes, size, kMaxPhotoSide);
    if (!pixbuf) return false;

    GdkPixbuf* oriented = nullptr;
    switch (orientationOf(pixbuf.get())) {
        case 2:
            oriented = gdk_pixbuf_flip(pixbuf.get(), TRUE);
            break;
        case 3:
            oriented = gdk_pixbuf_rotate_simple(pixbuf.get(), GDK_PIXBUF_ROTATE_UPSIDEDOWN);
            break;
        case 4:
            oriented = gdk_pixbuf_flip(pixbuf.get(), FALSE);
            break;
        case 6:
            oriented = gdk_pixbuf_rotate_simple(pixbuf.get(), GDK_PIXBUF_ROTATE_CLOCKWISE);
            break;
        case 8:
            oriented = gdk_pixbuf_rotate_simple(pixbuf.get(), GDK_PIXBUF_ROTATE_COUNTERCLOCKWISE);
            break;
        default:
            break;
    }
    if (oriented) pixbuf.reset(oriented);
    premultiplyInto(pixbuf.get(), pixels);
    *width = gdk_pixbuf_get_width(pixbuf.get());
    *height = gdk_pixbuf_get_height(pixbuf.get());
    return true;
}

void unpremultiplyForSave(const uint8_t* pixels, size_t pixelCount, uint8_t* out) {
    for (size_t i = 0; i < pixelCount; ++i, pixels += 4, out += 4) {
        const unsigned a = pixels[3];
        if (a == 0) {
            std::memset(out, 0, 4);
            continue;
        }
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>(std::min(255u, pixels[c] * 255u / a));
        out[3] = static_cast<uint8_t>(a);
    }
}

bool savePng(const std::string& path, const uint8_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0) return false;
    std::vector<uint8_t> straight(static_cast<size_t>(width) * height * 4);
    unpremultiplyForSave(pixels, static_cast<size_t>(width) * height, straight.data());
    // BGRA → RGBA for the encoder.
    for (size_t i = 0; i < straight.size(); i += 4)
        std::swap(straight[i], straight[i + 2]);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(straight.data(), GDK_COLORSPACE_RGB, TRUE, 8, width, height,
                                                 width * 4, nullptr, nullptr);
    if (!pixbuf) return false;
    GError* error = nullptr;
    const gboolean saved = gdk_pixbuf_save(pixbuf, path.c_str(), "png", &error, nullptr);
    if (error) g_error_free(error);
    g_object_unref(pixbuf);
    return saved;
}

}  // namespace qm
