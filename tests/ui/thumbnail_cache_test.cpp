// The tile pictures: built-in faces from the program's folder, user faces preferring their cut-out,
// and pictures that are missing or not pictures at all leaving their tile empty.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "ui/thumbnail_cache.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Folders {
    fs::path root = fs::temp_directory_path() / ("qm-thumbs-" + std::to_string(::getpid()));
    SettingsPaths paths;
    Folders() {
        fs::remove_all(root);
        fs::create_directories(root / "settings" / "faces");
        paths.folder = (root / "settings").string() + "/";
        paths.settingsFile = paths.folder + "settings.ini";
        paths.assetDir = executableDir();
    }
    ~Folders() { fs::remove_all(root); }
    std::string face(const std::string& name) const { return paths.folder + "faces/" + name; }
};

void copyPicture(const std::string& from, const std::string& to) {
    fs::copy_file(from, to);
}

TEST(ThumbnailCache, BuiltInFacesComeFromTheProgramFolder) {
    Folders f;
    ThumbnailCache cache;
    cache.rebuild(f.paths, {}, {"", "no_such_picture.png"});
    EXPECT_EQ(cache.get(ThumbnailGroup::BuiltInFace, 0), nullptr);  // "My face" has no picture
    for (int tile = 1; tile <= 5; ++tile)
        EXPECT_NE(cache.get(ThumbnailGroup::BuiltInFace, tile), nullptr) << tile;
    EXPECT_EQ(cache.get(ThumbnailGroup::Wear, 0), nullptr);
    EXPECT_EQ(cache.get(ThumbnailGroup::Wear, 1), nullptr);
    EXPECT_EQ(cache.get(ThumbnailGroup::Wear, 2), nullptr);  // outside the group
    cairo_surface_t* morvel = cache.get(ThumbnailGroup::BuiltInFace, 1);
    EXPECT_LE(cairo_image_surface_get_width(morvel), 256);  // decoded at the thumbnail bound
}

TEST(ThumbnailCache, UserFacesPreferTheirCutOutAndSwitchWhenItAppears) {
    Folders f;
    copyPicture(executableDir() + "orange.png", f.face("me.png"));
    copyPicture(executableDir() + "banana.png", f.face("you.png"));
    copyPicture(executableDir() + "banana.png", f.face("you.png.cut.png"));
    SettingsLists lists;
    lists.faceIds = {"me.png", "you.png"};
    ThumbnailCache cache;
    cache.rebuild(f.paths, lists, {});
    EXPECT_NE(cache.get(ThumbnailGroup::UserFace, 0), nullptr);
    EXPECT_FALSE(cache.cutOutLoaded(0));
    EXPECT_TRUE(cache.cutOutLoaded(1));

    EXPECT_FALSE(cache.loadCutOut(0, f.face("me.png.cut.png")));  // not written yet
    EXPECT_FALSE(cache.cutOutLoaded(0));
    copyPicture(executableDir() + "orange.png", f.face("me.png.cut.png"));
    EXPECT_TRUE(cache.loadCutOut(0, f.face("me.png.cut.png")));
    EXPECT_TRUE(cache.cutOutLoaded(0));
    EXPECT_FALSE(cache.loadCutOut(5, f.face("me.png.cut.png")));
}

TEST(ThumbnailCache, BrokenPicturesLeaveTheirTileEmpty) {
    Folders f;
    std::ofstream(f.face("text.png")) << "not a picture";
    std::string truncated;
    {
        std::ifstream in(executableDir() + "orange.png", std::ios::binary);
        truncated.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::ofstream(f.face("cut.png"), std::ios::binary) << truncated.substr(0, truncated.size() / 3);
    std::ofstream(f.face("empty.png"));
    SettingsLists lists;
    lists.faceIds = {"text.png", "empty.png", "missing.png"};
    ThumbnailCache cache;
    cache.rebuild(f.paths, lists, {});
    EXPECT_EQ(cache.get(ThumbnailGroup::UserFace, 0), nullptr);
    EXPECT_EQ(cache.get(ThumbnailGroup::UserFace, 1), nullptr);
    EXPECT_EQ(cache.get(ThumbnailGroup::UserFace, 2), nullptr);
    // A truncated file either decodes partly or not at all; it never takes the program down.
    cairo_surface_t* partial = loadThumbnail(f.face("cut.png"));
    if (partial) cairo_surface_destroy(partial);
    EXPECT_EQ(loadThumbnail(""), nullptr);
}

}  // namespace
}  // namespace qm
