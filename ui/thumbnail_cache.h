// ThumbnailCache: the tile pictures of the panel (built-in faces, the user's faces, scenes,
// backgrounds, torsos, wear items), decoded once when the window's drawing resources are (re)built and
// never during an ordinary paint. Window thread only; owns its Cairo surfaces.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "settings/filter_state.h"
#include "settings/settings_paths.h"
#include "ui/painter.h"

namespace qm {

class ThumbnailCache {
public:
    ThumbnailCache() = default;
    ~ThumbnailCache();
    ThumbnailCache(const ThumbnailCache&) = delete;
    ThumbnailCache& operator=(const ThumbnailCache&) = delete;

    // Rebuilds every group. `wearFiles` are the catalogue's picture file names in catalogue order (an
    // empty name stays without a picture).
    void rebuild(const SettingsPaths& paths, const SettingsLists& lists,
                 const std::vector<std::string>& wearFiles);
    void clear();
    bool empty() const { return !built_; }

    cairo_surface_t* get(ThumbnailGroup group, int index) const;
    // The entry scaled to exactly width × height device pixels, made on the first request for that size
    // and kept until the entry changes, so a paint only copies it (a tile redrawn every frame does not
    // filter its picture down every time). Null when the entry has no picture.
    cairo_surface_t* sized(ThumbnailGroup group, int index, int width, int height) const;

    // Whether a user face shows its cut-out; loadCutOut switches it once the cut-out file exists.
    bool cutOutLoaded(int userFace) const;
    bool loadCutOut(int userFace, const std::string& path);

private:
    std::vector<cairo_surface_t*> groups_[kThumbnailGroups];
    // One scaled copy per entry, at the size last asked for.
    mutable std::vector<cairo_surface_t*> sized_[kThumbnailGroups];
    std::vector<bool> cutOutLoaded_;
    bool built_ = false;
};

// Decodes a picture into a premultiplied surface no larger than the thumbnail bound; null on failure.
cairo_surface_t* loadThumbnail(const std::string& path);

}  // namespace qm
