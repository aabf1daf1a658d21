// The tile pictures: built-in faces from the program's folder, user faces preferring their cut-out (and
// their copies at the drawn size following it), and pictures that are missing or not pictures at all
// leaving their tile empty.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

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

    // The tile's copy at its drawn size is made once, and made again from the cut-out once it is there.
    auto middle = [](cairo_surface_t* copy) {
        cairo_surface_flush(copy);
        const unsigned char* p =
            cairo_image_surface_get_data(copy) + 30 * cairo_image_surface_get_stride(copy);
        return std::vector<int>(p + 45 * 4, p + 45 * 4 + 4);
    };
    cairo_surface_t* sized = cache.sized(ThumbnailGroup::UserFace, 0, 90, 60);
    ASSERT_NE(sized, nullptr);
    const std::vector<int> orange = middle(sized);
    EXPECT_EQ(cairo_image_surface_get_width(sized), 90);
    EXPECT_EQ(cairo_image_surface_get_height(sized), 60);
    EXPECT_EQ(cache.sized(ThumbnailGroup::UserFace, 0, 90, 60), sized);
    EXPECT_EQ(cache.sized(ThumbnailGroup::UserFace, 7, 90, 60), nullptr);
    EXPECT_EQ(cache.sized(ThumbnailGroup::UserFace, 0, 0, 60), nullptr);
    EXPECT_FALSE(cache.loadCutOut(0, f.face("me.png.cut.png")));  // not written yet
    EXPECT_FALSE(cache.cutOutLoaded(0));
    copyPicture(executableDir() + "banana.png", f.face("me.png.cut.png"));
    EXPECT_TRUE(cache.loadCutOut(0, f.face("me.png.cut.png")));
    EXPECT_TRUE(cache.cutOutLoaded(0));
    cairo_surface_t* cut = cache.sized(ThumbnailGroup::UserFace, 0, 90, 60);
    ASSERT_NE(cut, nullptr);
    const std::vector<int> banana = middle(cut);
    EXPECT_GT(std::abs(banana[1] - orange[1]), 25)
        << "the banana's yellow, not the orange, in the middle: " << orange[1] << " " << banana[1];
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
