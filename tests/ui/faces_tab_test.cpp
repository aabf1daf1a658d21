// The Faces tab through the recording painter: the grid of built-in and library faces, adding photos through
// the file dialog (numbered copies, every way it can fail), wearing, fitting and removing them, and the
// touch-up rows, which write the look and nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_painter.h"
#include "recording_host.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/settings_file.h"
#include "ui/controls.h"
#include "ui/tabs/tab.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

constexpr float kTile = (288 - 20) / 3.0f;

struct FaceHost : test::RecordingHost {
    std::string picture;   // what the file dialog answers
    bool pictures = true;  // whether files are pictures
    int answer = 0;        // what the menu answers
    int released = 0;
    std::string choosePicture(const std::string&) override { return picture; }
    bool isPicture(const std::string&) override { return pictures; }
    int popupMenu(const std::vector<MenuItem>&, float, float) override {
        ++menus;
        return answer;
    }
    void releaseDeviceResources() override { ++released; }
};

struct FacesTab {
    FacesTab() {
        paths.folder = dir.path() + "/";
        paths.settingsFile = dir.file("settings.ini");
        state.tab = 0;
        state.face = kFaceNone;
        folder = libraryFolder(paths, "faces");
        painter.missingThumbnails = {{ThumbnailGroup::BuiltInFace, 0}};
    }
    void paint() {
        auto missing = painter.missingThumbnails;
        painter = {};
        painter.missingThumbnails = missing;
        paintWindow(painter, panel, 1200, 3000, engine);
    }
    const HitRegion* region(int kind, int index = 0) const { return test::findRegion(panel.ui, kind, index); }
    void click(int kind, int index = 0) {
        paint();
        const HitRegion* r = region(kind, index);
        ASSERT_NE(r, nullptr) << kind << " " << index;
        onControlClick(panel, *r);
    }
    bool remove(int photo) {
        paint();
        const HitRegion* r = region(kHitUserFaceTile, photo);
        EXPECT_NE(r, nullptr);
        host.answer = 1;
        return r && tabModule(0).rightClick(panel, *r, r->left + 5, r->top + 5);
    }
    // The slider drawn for a field, dragged to the track's fraction t.
    const SliderBinding* slider(const float* value) const {
        for (const SliderBinding& s : panel.ui.sliders)
            if (s.value == value) return &s;
        return nullptr;
    }
    void drag(const float* value, float t) {
        paint();
        const SliderBinding* s = slider(value);
        ASSERT_NE(s, nullptr);
        panel.ui.dragSlider = static_cast<int>(s - panel.ui.sliders.data());
        moveDraggedSlider(panel, s->left + t * (s->right - s->left));
        endSliderDrag(panel, true);
    }
    std::string photo(const std::string& name) {
        const std::string path = dir.file(name);
        std::ofstream(path) << "picture bytes";
        return path;
    }

    test::TempDir dir;
    SettingsPaths paths;
    FilterState state;
    SettingsLists lists;
    SharedState shared;
    FaceHost host;
    Panel panel{state, lists, shared, paths, host, {}};
    test::FakePainter painter;
    EngineView engine;
    std::string folder;
};

TEST(FacesTabTest, GridOfBuiltInFacesAndWhatEachFaceShows) {
    FacesTab t;
    t.paint();
    // Six built-in tiles and "Add yours": the first cell of the third row.
    const HitRegion* first = t.region(kHitFaceTile, 0);
    const HitRegion* add = t.region(kHitAddFace);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(add, nullptr);
    EXPECT_FLOAT_EQ(add->left, first->left);
    EXPECT_FLOAT_EQ(add->top, first->top + 2 * (kTile + 32));
    EXPECT_FLOAT_EQ(add->bottom - add->top, kTile + 22);
    EXPECT_FLOAT_EQ(t.region(kHitFaceTile, 2)->left, first->left + 2 * (kTile + 10));
    for (const char* caption : {"My face", "Morvel", "Orange", "Banana", "Lost kitten", "Googly morvel"})
        EXPECT_NE(t.painter.findText(caption), nullptr) << caption;
    EXPECT_NE(t.painter.findText("Add yours: any picture"), nullptr);
    // The googly tile's eyes: two white discs of 0.1 u and their pupils, the left looking right.
    std::vector<test::CircleCall> eyes;
    for (const test::CircleCall& c : t.painter.circles)
        if (std::abs(c.radius - 0.1f * kTile) < 0.01f) eyes.push_back(c);
    ASSERT_EQ(eyes.size(), 2u);
    const HitRegion* googly = t.region(kHitFaceTile, 5);
    EXPECT_NEAR((eyes[0].cx + eyes[1].cx) / 2, (googly->left + googly->right) / 2, 0.01f);
    EXPECT_NEAR(eyes[1].cx - eyes[0].cx, 0.25f * kTile, 0.01f);

    // "My face": no fit; a built-in face: its size and place; the touch-up is always there.
    EXPECT_EQ(t.painter.findText("Fit"), nullptr);
    EXPECT_NE(t.painter.findText("Touch-up"), nullptr);
    EXPECT_EQ(t.painter.findText("Strength"), nullptr);
    const int kinds[] = {kFaceNone, kFaceMorvel, kFaceOrange, kFaceBanana, kFaceKitten, kFaceGoogly};
    for (int tile = 5; tile >= 0; --tile) {
        t.click(kHitFaceTile, tile);
        EXPECT_EQ(t.state.face, kinds[tile]);
    }
    t.click(kHitFaceTile, 2);
    t.paint();
    EXPECT_NE(t.painter.findText("Fit"), nullptr);
    ASSERT_NE(t.slider(&t.state.faceFit.scale), nullptr);
    EXPECT_EQ(t.slider(&t.state.faceFit.x)->reversed, t.state.mirror);
    EXPECT_NE(t.slider(&t.state.faceFit.y), nullptr);
    EXPECT_EQ(t.painter.findText("Tilt"), nullptr);
    EXPECT_EQ(t.painter.findText("Photo eyes"), nullptr);
    t.drag(&t.state.faceFit.scale, 1);
    EXPECT_FLOAT_EQ(t.state.faceFit.scale, 1.6f);
}

TEST(FacesTabTest, AddWearFitAndRemovePhotos) {
    FacesTab t;
    t.state.face = kFaceOrange;
    t.host.picture = t.photo("a.png");
    t.click(kHitAddFace);
    EXPECT_EQ(t.lists.faceIds, std::vector<std::string>{"a.png"});
    EXPECT_EQ(test::readText(t.folder + "a.png"), "picture bytes");
    EXPECT_EQ(t.state.face, kFaceCustom);
    EXPECT_EQ(t.state.faceId, "a.png");
    EXPECT_EQ(t.host.released, 1);  // the thumbnails are made again with the new photo
    EXPECT_EQ(t.shared.filters.facePicture, t.folder + "a.png");

    // The photo's tile is selected and its sliders show, Tilt reversed exactly when not mirrored.
    t.paint();
    ASSERT_NE(t.region(kHitUserFaceTile, 0), nullptr);
    EXPECT_FLOAT_EQ(t.region(kHitAddFace)->left, t.region(kHitUserFaceTile, 0)->left + kTile + 10);
    for (const char* title : {"Size", "Tilt", "Brightness", "Warmth", "Neck", "Photo eyes", "My mouth"})
        EXPECT_NE(t.painter.findText(title), nullptr) << title;
    PhotoFit& fit = t.state.photoFit;
    EXPECT_TRUE(t.slider(&fit.tilt)->reversed != t.state.mirror);
    EXPECT_TRUE(t.slider(&fit.x)->reversed == t.state.mirror);
    t.state.mirror = false;
    t.drag(&fit.tilt, 0.8f);  // unmirrored: the screen's right turns the picture's left
    EXPECT_NEAR(fit.tilt, -15, 0.01f);
    t.drag(&fit.neck, 1);
    t.drag(&fit.exposure, 0.75f);
    EXPECT_NEAR(fit.exposure, 0.5f, 0.01f);
    t.click(kHitEyesSegment, 1);
    EXPECT_FALSE(fit.photoEyes);
    t.click(kHitMouthSegment, 1);
    EXPECT_FALSE(fit.photoMouth);
    EXPECT_NE(test::readText(t.paths.settingsFile).find("[face.a.png]"), std::string::npos);

    // The same picture again: a numbered copy, worn with fresh defaults; a's fit stays a's.
    t.click(kHitAddFace);
    EXPECT_EQ(t.lists.faceIds, (std::vector<std::string>{"a 2.png", "a.png"}));
    EXPECT_EQ(t.state.faceId, "a 2.png");
    EXPECT_EQ(fit, PhotoFit{});
    t.click(kHitUserFaceTile, 1);
    EXPECT_EQ(t.state.faceId, "a.png");
    EXPECT_NEAR(fit.tilt, -15, 0.01f);
    EXPECT_FALSE(fit.photoEyes);

    // Removing a photo that is not worn leaves the worn one alone.
    EXPECT_TRUE(t.remove(0));
    EXPECT_FALSE(std::filesystem::exists(t.folder + "a 2.png"));
    EXPECT_EQ(t.state.faceId, "a.png");
    EXPECT_EQ(t.lists.faceIds, std::vector<std::string>{"a.png"});
    // Removing the worn one: its file, cut-out and fit go, the face falls back to "My face".
    std::ofstream(t.folder + "a.png.cut.png") << "cut";
    std::ofstream(t.folder + "keep.txt") << "not a face of ours";
    t.host.answer = 0;
    t.paint();
    EXPECT_TRUE(tabModule(0).rightClick(t.panel, *t.region(kHitUserFaceTile, 0), 0, 0));  // dismissed
    EXPECT_TRUE(std::filesystem::exists(t.folder + "a.png"));
    EXPECT_TRUE(t.remove(0));
    EXPECT_FALSE(std::filesystem::exists(t.folder + "a.png"));
    EXPECT_FALSE(std::filesystem::exists(t.folder + "a.png.cut.png"));
    EXPECT_TRUE(std::filesystem::exists(t.folder + "keep.txt"));
    EXPECT_EQ(t.state.face, kFaceNone);
    EXPECT_EQ(t.state.faceId, "");
    EXPECT_EQ(test::readText(t.paths.settingsFile).find("[face.a.png]"), std::string::npos);
    EXPECT_EQ(t.shared.filters.facePicture, "");
    t.paint();
    EXPECT_EQ(t.painter.findText("Fit"), nullptr);
}

TEST(FacesTabTest, PicturesThatFailLeaveTheWornFaceOn) {
    FacesTab t;
    t.host.picture = t.photo("b.png");
    t.click(kHitAddFace);
    ASSERT_EQ(t.state.faceId, "b.png");
    auto unchanged = [&](const char* message, const char* what) {
        EXPECT_EQ(t.panel.ui.statusMessage, message) << what;
        EXPECT_EQ(t.state.face, kFaceCustom) << what;
        EXPECT_EQ(t.state.faceId, "b.png") << what;
        t.panel.ui.statusMessage.clear();
    };
    t.host.picture = "";  // cancelled
    t.click(kHitAddFace);
    unchanged("", "cancelled");
    t.host.picture = t.dir.file("gone.png");
    t.click(kHitAddFace);
    unchanged("Couldn't read that picture.", "missing");
    t.host.picture = t.photo("c.png");
    t.host.pictures = false;
    t.click(kHitAddFace);
    unchanged("Couldn't read that picture.", "not a picture");
    EXPECT_FALSE(std::filesystem::exists(t.folder + "c.png"));
    t.host.pictures = true;
    {
        std::ofstream big(t.dir.file("big.png"));
        big.seekp(kMaxFacePhotoBytes);
        big << "x";
    }
    t.host.picture = t.dir.file("big.png");
    t.click(kHitAddFace);
    unchanged("Couldn't read that picture.", "too large");
    EXPECT_EQ(t.lists.faceIds, std::vector<std::string>{"b.png"});

    // A photo deleted behind the window's back: its tile says so and the list forgets it.
    t.host.picture = t.photo("d.png");
    t.click(kHitAddFace);
    t.click(kHitUserFaceTile, 0);
    ASSERT_EQ(t.state.faceId, "b.png");
    std::filesystem::remove(t.folder + "d.png");
    t.click(kHitUserFaceTile, 1);
    EXPECT_EQ(t.panel.ui.statusMessage, "That picture is no longer in your faces folder.");
    EXPECT_EQ(t.state.faceId, "b.png");
    EXPECT_EQ(t.lists.faceIds, std::vector<std::string>{"b.png"});

    // A faces folder that can't be made.
    FacesTab blocked;
    std::filesystem::remove_all(blocked.folder);
    std::ofstream(blocked.dir.file("faces")) << "a file where the folder would be";
    blocked.host.picture = blocked.photo("e.png");
    blocked.click(kHitAddFace);
    EXPECT_EQ(blocked.panel.ui.statusMessage, "Couldn't save that picture in your faces folder.");
    EXPECT_EQ(blocked.state.face, kFaceNone);
    EXPECT_TRUE(blocked.lists.faceIds.empty());
}

TEST(FacesTabTest, TouchUpRowsWriteOnlyTheLook) {
    FacesTab t;
    t.state.face = kFaceBanana;
    t.state.faceFit = {1.2f, 0.1f, -0.1f, 0};
    t.state.background = "blur";
    t.state.wear[kWearHat] = "cap";
    t.state.masculine = true;
    t.state.strength = 0.7f;
    const FilterState before = t.state;
    t.click(kHitLookSegment, 2);
    t.paint();
    EXPECT_NE(t.painter.findText("Masculine"), nullptr);
    t.click(kHitMasculineSegment, 0);
    t.drag(&t.state.strength, 1);
    EXPECT_EQ(t.state.look, kLookGlam);
    EXPECT_FALSE(t.state.masculine);
    EXPECT_FLOAT_EQ(t.state.strength, 1.5f);
    EXPECT_EQ(t.shared.filters.look.load(), kLookGlam);
    // "None" hides the look's rows and keeps their values.
    t.click(kHitLookSegment, 0);
    t.paint();
    EXPECT_EQ(t.painter.findText("Feminine"), nullptr);
    EXPECT_EQ(t.slider(&t.state.strength), nullptr);
    EXPECT_FLOAT_EQ(t.state.strength, 1.5f);

    // The settings file says what the state before said, but for the three look fields.
    FilterState expected = before;
    expected.look = kLookNone;
    expected.masculine = false;
    expected.strength = 1.5f;
    SettingsPaths other = t.paths;
    other.settingsFile = t.dir.file("expected.ini");
    ASSERT_TRUE(saveSettings(other, expected));
    EXPECT_EQ(test::readText(t.paths.settingsFile), test::readText(other.settingsFile));
}

}  // namespace
}  // namespace qm
