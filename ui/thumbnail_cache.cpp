#include "ui/thumbnail_cache.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>

#include "render/pictures.h"
#include "settings/settings_paths.h"

namespace qm {
namespace {

// Tiles are at most about 90 DIPs; twice that keeps them sharp at a display scale of 2.
constexpr int kThumbnailBound = 256;

constexpr const char* kBuiltInFacePictures[] = {"",           "morvel.png",      "orange.png",
                                                "banana.png", "kitten_face.png", "morvel.png"};

std::vector<cairo_surface_t*>& reset(std::vector<cairo_surface_t*>& group) {
    for (cairo_surface_t* surface : group)
        if (surface) cairo_surface_destroy(surface);
    group.clear();
    return group;
}

}  // namespace

cairo_surface_t* loadThumbnail(const std::string& path) {
    // A picture whose size the decoders refuse would be decoded whole before it is scaled down.
    if (path.empty() || !decodablePictureFile(path)) return nullptr;
    GError* error = nullptr;
    GdkPixbuf* decoded =
        gdk_pixbuf_new_from_file_at_scale(path.c_str(), kThumbnailBound, kThumbnailBound, TRUE, &error);
    if (!decoded) {
        if (error) g_error_free(error);
        return nullptr;
    }
    // Phone photos carry their orientation in EXIF; the tile shows them the way the preview does.
    GdkPixbuf* upright = gdk_pixbuf_apply_embedded_orientation(decoded);
    g_object_unref(decoded);
    if (!upright) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gdk_pixbuf_get_width(upright),
                                                          gdk_pixbuf_get_height(upright));
    cairo_t* cr = cairo_create(surface);
    gdk_cairo_set_source_pixbuf(cr, upright, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    g_object_unref(upright);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

ThumbnailCache::~ThumbnailCache() {
    clear();
}

void ThumbnailCache::clear() {
    for (auto& group : groups_)
        reset(group);
    for (auto& group : sized_)
        reset(group);
    cutOutLoaded_.clear();
    built_ = false;
}

void ThumbnailCache::rebuild(const SettingsPaths& paths, const SettingsLists& lists,
                             const std::vector<std::string>& wearFiles) {
    clear();
    const std::string& assets = paths.assetDir;
    auto& faces = groups_[static_cast<int>(ThumbnailGroup::BuiltInFace)];
    for (const char* file : kBuiltInFacePictures)
        faces.push_back(*file ? loadThumbnail(assets + file) : nullptr);

    std::string facesFolder = libraryFolder(paths, "faces");
    auto& userFaces = groups_[static_cast<int>(ThumbnailGroup::UserFace)];
    for (const std::string& id : lists.faceIds) {
        cairo_surface_t* cut = facesFolder.empty() ? nullptr : loadThumbnail(facesFolder + id + ".cut.png");
        cutOutLoaded_.push_back(cut != nullptr);
        userFaces.push_back(cut ? cut : (facesFolder.empty() ? nullptr : loadThumbnail(facesFolder + id)));
    }

    std::string scenesFolder = libraryFolder(paths, "scenes");
    for (const std::string& id : lists.scenes)
        groups_[static_cast<int>(ThumbnailGroup::Scene)].push_back(
            scenesFolder.empty() ? nullptr : loadThumbnail(scenesFolder + id + ".bmp"));

    std::string backgroundsFolder = libraryFolder(paths, "backgrounds");
    for (const std::string& file : lists.backgrounds)
        groups_[static_cast<int>(ThumbnailGroup::Background)].push_back(
            backgroundsFolder.empty() ? nullptr : loadThumbnail(backgroundsFolder + file));

    for (const std::string& name : lists.torsos)
        groups_[static_cast<int>(ThumbnailGroup::Torso)].push_back(
            loadThumbnail(assets + "torso_" + name + "_thumb.png"));

    for (const std::string& file : wearFiles)
        groups_[static_cast<int>(ThumbnailGroup::Wear)].push_back(
            file.empty() ? nullptr : loadThumbnail(assets + file));
    built_ = true;
}

cairo_surface_t* ThumbnailCache::get(ThumbnailGroup group, int index) const {
    const auto& list = groups_[static_cast<int>(group)];
    if (index < 0 || index >= static_cast<int>(list.size())) return nullptr;
    return list[index];
}

cairo_surface_t* ThumbnailCache::sized(ThumbnailGroup group, int index, int width, int height) const {
    cairo_surface_t* picture = get(group, index);
    if (!picture || width <= 0 || height <= 0 || width > 4 * kThumbnailBound || height > 4 * kThumbnailBound)
        return nullptr;
    auto& copies = sized_[static_cast<int>(group)];
    if (copies.size() <= static_cast<size_t>(index)) copies.resize(static_cast<size_t>(index) + 1, nullptr);
    cairo_surface_t*& copy = copies[index];
    if (copy && cairo_image_surface_get_width(copy) == width &&
        cairo_image_surface_get_height(copy) == height)
        return copy;
    if (copy) cairo_surface_destroy(copy);
    copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(copy);
    cairo_scale(cr, static_cast<double>(width) / cairo_image_surface_get_width(picture),
                static_cast<double>(height) / cairo_image_surface_get_height(picture));
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_destroy(cr);
    if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(copy);
        copy = nullptr;
    }
    return copy;
}

bool ThumbnailCache::cutOutLoaded(int userFace) const {
    return userFace >= 0 && userFace < static_cast<int>(cutOutLoaded_.size()) && cutOutLoaded_[userFace];
}

bool ThumbnailCache::loadCutOut(int userFace, const std::string& path) {
    auto& list = groups_[static_cast<int>(ThumbnailGroup::UserFace)];
    if (userFace < 0 || userFace >= static_cast<int>(list.size())) return false;
    cairo_surface_t* cut = loadThumbnail(path);
    if (!cut) return false;
    if (list[userFace]) cairo_surface_destroy(list[userFace]);
    list[userFace] = cut;
    auto& copies = sized_[static_cast<int>(ThumbnailGroup::UserFace)];
    if (static_cast<size_t>(userFace) < copies.size() && copies[userFace]) {
        cairo_surface_destroy(copies[userFace]);
        copies[userFace] = nullptr;
    }
    cutOutLoaded_[userFace] = true;
    return true;
}

}  // namespace qm
