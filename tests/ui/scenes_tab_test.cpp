// The Scenes tab, the camera menu and "Reset all" without a display: scenes saved, applied, renamed,
// updated and deleted through the real scenes file, the tiles drawn, and the source requests sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_painter.h"
#include "platform/paths.h"
#include "recording_host.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/scenes.h"
#include "ui/camera_menu.h"
#include "ui/reset_all.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

using test::FakePainter;

// A window stand-in: a typed name, a scripted menu choice, a preview frame and a chosen file.
struct ScriptedHost : test::RecordingHost {
    std::string nameText, chosenFile;
    bool nameFocused = false;
    int menuAnswer = 0;
    std::vector<MenuItem> lastMenu;
    float menuX = 0, menuY = 0;
    std::vector<uint8_t> frame;
    int released = 0;

    int popupMenu(const std::vector<MenuItem>& items, float x, float y) override {
        ++menus;
        lastMenu = items, menuX = x, menuY = y;
        return menuAnswer;
    }
    std::string sceneNameText() override { return nameText; }
    void setSceneNameText(const std::string& text, bool focus) override {
        nameText = text, nameFocused = focus;
    }
    const uint8_t* previewFrame(size_t* bytes) override {
        *bytes = frame.size();
        return frame.empty() ? nullptr : frame.data();
    }
    std::string chooseVideoFile() override { return chosenFile; }
    void releaseDeviceResources() override { ++released; }
};

struct ScenesTab {
    test::TempDir dir;
    SettingsPaths paths;
    FilterState state;
    SettingsLists lists;
    SharedState shared;
    ScriptedHost host;
    Panel panel{state, lists, shared, paths, host, {}};
    FakePainter painter;

    ScenesTab() {
        paths.folder = dir.folder();
        paths.settingsFile = dir.file("settings.ini");
        state.tab = 4;
        paint();
    }
    void paint() {
        painter = FakePainter{};
        paintWindow(painter, panel, 1200, 740, EngineView{});
    }
    const HitRegion* find(int kind, int index = 0) const {
        for (const HitRegion& r : panel.ui.regions)
            if (r.kind == kind && r.index == index) return &r;
        return nullptr;
    }
    void click(int kind, int index = 0) {
        const HitRegion* r = find(kind, index);
        ASSERT_NE(r, nullptr) << "no region " << kind << "/" << index;
        onLeftButtonDown(panel, (r->left + r->right) / 2, (r->top + r->bottom) / 2);
        paint();
    }
    void menu(int index, int command) {
        const HitRegion* r = find(kHitSceneTile, index);
        ASSERT_NE(r, nullptr);
        host.menuAnswer = command;
        onRightButtonUp(panel, r->left + 5, r->top + 5);
        paint();
    }
    void save(const std::string& name) {
        host.nameText = name;
        click(kHitSaveScene);
    }
    bool shows(const std::string& text) const { return painter.findText(text) != nullptr; }
    bool outlined(int index) const {
        const HitRegion* r = find(kHitSceneTile, index);
        const Rect ring{r->left + 1.5f, r->top + 1.5f, r->right - 1.5f,
                        r->top + (288 - 10) / 2.0f * 9 / 16 - 1.5f};
        return std::find(painter.strokes.begin(), painter.strokes.end(), ring) != painter.strokes.end();
    }
};

TEST(ScenesTab, SaveChangeApplyBringsTheLookBack) {
    ScenesTab t;
    EXPECT_TRUE(t.shows("Build a look in the other tabs"));
    t.state.face = kFaceOrange;
    t.state.wear[kWearHat] = "cap";
    t.state.background = "blur";
    t.host.frame.assign(1280 * 720 * 4, 200);
    t.save("Orange hat");
    ASSERT_EQ(t.lists.scenes.size(), 1u);
    const std::string id = t.lists.scenes[0];
    EXPECT_EQ(t.panel.ui.statusMessage, "Saved scene \u201COrange hat\u201D.");
    EXPECT_EQ(t.panel.ui.activeScene, id);
    EXPECT_TRUE(t.outlined(0));
    EXPECT_TRUE(t.shows("Orange hat"));
    EXPECT_TRUE(t.host.nameText.empty());  // the field is cleared
    EXPECT_GE(t.host.released, 1);         // the snapshots reload
    EXPECT_TRUE(isRegularFile(libraryFolder(t.paths, "scenes") + id + ".bmp"));
    EXPECT_TRUE(std::filesystem::exists(t.paths.settingsFile));
    EXPECT_EQ(t.painter.thumbnailsMirrored, std::vector<bool>{true});  // the preview is mirrored

    // Another item clears the outline; applying the scene brings everything back and outlines it again.
    onControlClick(t.panel, {0, 0, 1, 1, kHitRemoveAllFilters, 0});
    t.paint();
    EXPECT_EQ(t.state.face, kFaceNone);
    EXPECT_FALSE(t.outlined(0));
    t.click(kHitSceneTile, 0);
    EXPECT_EQ(t.state.face, kFaceOrange);
    EXPECT_EQ(t.state.wear[kWearHat], "cap");
    EXPECT_EQ(t.state.background, "blur");
    EXPECT_EQ(t.shared.filters.faceKind.load(), kFaceOrange);  // published
    EXPECT_EQ(t.panel.ui.statusMessage, "Scene \u201COrange hat\u201D.");
    EXPECT_TRUE(t.outlined(0));

    // Without a preview frame a scene still saves, with no snapshot; an empty name counts the scenes.
    t.host.frame.clear();
    t.save("");
    t.save("");
    ASSERT_EQ(t.lists.sceneNames, (std::vector<std::string>{"Orange hat", "Scene 2", "Scene 3"}));
    EXPECT_FALSE(isRegularFile(libraryFolder(t.paths, "scenes") + t.lists.scenes[2] + ".bmp"));
    EXPECT_NE(t.lists.scenes[1], t.lists.scenes[2]);
}

TEST(ScenesTab, AVanishedSceneChangesNothingAndSaysSo) {
    ScenesTab t;
    t.save("Gone soon");
    t.state.face = kFaceBanana;
    std::remove(scenesFilePath(t.paths).c_str());  // deleted behind the window's back
    t.click(kHitSceneTile, 0);
    EXPECT_EQ(t.state.face, kFaceBanana);
    EXPECT_EQ(t.panel.ui.statusMessage, "That scene is gone.");
    EXPECT_TRUE(t.lists.scenes.empty());
}

TEST(ScenesTab, MenuRenamesUpdatesAndDeletes) {
    ScenesTab t;
    t.save("First");
    t.save("Second");
    onControlClick(t.panel, {0, 0, 1, 1, kHitTab, 4});  // clears the outline
    t.paint();

    t.menu(0, 2);  // "Rename…"
    EXPECT_EQ(t.host.lastMenu.size(), 3u);
    EXPECT_EQ(t.host.lastMenu[1].label, "Rename\u2026");
    EXPECT_EQ(t.host.nameText, "First");
    EXPECT_TRUE(t.host.nameFocused);
    EXPECT_TRUE(t.shows("Rename"));
    t.save("");  // an emptied field keeps the old name and ends rename mode
    EXPECT_EQ(t.lists.sceneNames[0], "First");
    EXPECT_TRUE(t.shows("Save scene"));
    t.menu(0, 2);
    t.save("Renamed");
    EXPECT_EQ(t.lists.sceneNames, (std::vector<std::string>{"Renamed", "Second"}));
    EXPECT_EQ(t.lists.scenes.size(), 2u);  // no new scene

    // Renaming a scene deleted meanwhile is refused and does not bring it back.
    t.menu(1, 2);
    deleteScene(scenesFilePath(t.paths), libraryFolder(t.paths, "scenes"), t.lists.scenes[1]);
    t.save("Back?");
    EXPECT_EQ(t.lists.sceneNames, std::vector<std::string>{"Renamed"});
    EXPECT_EQ(t.panel.ui.statusMessage, "That scene is gone.");

    t.state.face = kFaceGoogly;
    t.menu(0, 1);  // update
    EXPECT_EQ(t.panel.ui.statusMessage, "Updated scene \u201CRenamed\u201D.");
    EXPECT_TRUE(t.outlined(0));
    t.state.face = kFaceNone;
    t.click(kHitSceneTile, 0);
    EXPECT_EQ(t.state.face, kFaceGoogly);

    t.menu(0, 3);  // delete
    EXPECT_TRUE(t.lists.scenes.empty());
    EXPECT_TRUE(t.panel.ui.activeScene.empty());
    EXPECT_EQ(t.find(kHitSceneTile, 0), nullptr);
    EXPECT_TRUE(t.shows("Build a look in the other tabs"));
}

TEST(CameraMenu, ListsCamerasAndSendsTheChosenSource) {
    test::PanelFixture f;
    const std::vector<std::string> none;
    std::vector<MenuItem> items = cameraMenuItems(none, "", false, true);
    EXPECT_EQ(items[0].label, "No cameras found");
    EXPECT_FALSE(items[0].enabled);
    EXPECT_TRUE(items.back().checked);  // mirror

    const std::vector<std::string> cameras = {"USB Cam", "Laptop"};
    items = cameraMenuItems(cameras, "Laptop", false, false);
    EXPECT_EQ(items[0].command, kCameraFirst);
    EXPECT_TRUE(items[1].checked);
    EXPECT_FALSE(items[0].checked);

    struct Host : test::RecordingHost {
        int answer = 0;
        float y = 0;
        std::vector<MenuItem> shown;
        int popupMenu(const std::vector<MenuItem>& items, float, float atY) override {
            shown = items, y = atY;
            return answer;
        }
        std::string chooseVideoFile() override { return "/videos/clip.mp4"; }
    } host;
    Panel panel{f.state, f.lists, f.shared, f.paths, host, {}};
    panel.ui.cameraChipRect = {10, 600, 100, 630};
    host.answer = kCameraTurnOff;
    panel.ui.hasPreviewFrame = true;
    runCameraMenu(panel, cameras);
    EXPECT_FLOAT_EQ(host.y, 634);
    EXPECT_TRUE(f.shared.cameraOff.load());
    EXPECT_FALSE(f.shared.sourceChanged.load());
    EXPECT_FALSE(panel.ui.hasPreviewFrame);
    EXPECT_TRUE(f.saved());

    host.answer = kCameraFirst + 1;  // after "Turn off" the menu offers no "Turn off"
    runCameraMenu(panel, cameras);
    EXPECT_TRUE(std::none_of(host.shown.begin(), host.shown.end(),
                             [](const MenuItem& m) { return m.label == "Turn off"; }));
    EXPECT_EQ(f.state.camera, "Laptop");
    EXPECT_TRUE(f.shared.sourceChanged.exchange(false));
    EXPECT_FALSE(f.shared.cameraOff.load());
    EXPECT_EQ(f.shared.requestedCamera, "Laptop");

    host.answer = kCameraPlayFile;
    runCameraMenu(panel, cameras);
    EXPECT_EQ(f.shared.requestedFile, "/videos/clip.mp4");
    EXPECT_EQ(f.shared.requestedCamera, "Laptop");
    EXPECT_TRUE(f.shared.sourceChanged.exchange(false));

    host.answer = kCameraFirst + 7;  // not in the list: nothing but the save
    runCameraMenu(panel, cameras);
    EXPECT_FALSE(f.shared.sourceChanged.load());
    host.answer = kCameraMirror;
    runCameraMenu(panel, cameras);
    EXPECT_FALSE(f.state.mirror);
    EXPECT_FALSE(f.shared.sourceChanged.load());
}

TEST(ResetAll, EverythingButTheSwitchesGoesBackAndEveryPhotoLosesItsFit) {
    test::PanelFixture f;
    f.lists.faceIds = {"a.jpg", "b.jpg"};
    IniDocument settings;
    writePhotoFit(settings, "a.jpg", PhotoFit{0.1f, 0.1f, 5, 0, 0, 0, true, true});
    writePhotoFit(settings, "b.jpg", PhotoFit{0.2f, 0.1f, 5, 0, 0, 0, false, true});
    settings.set("other", "keep", "1");
    ASSERT_TRUE(writeIniFile(f.paths.settingsFile, settings));
    f.state.face = kFaceCustom;
    f.state.faceId = "a.jpg";
    f.state.photoFit = PhotoFit{0.1f, 0.1f, 5, 0, 0, 0, true, true};
    f.state.wear[kWearHat] = "cap";
    f.state.wearFit[kWearHat].scale = 2;
    f.state.visitorEvery = 40;
    f.state.filters = false;
    f.state.mirror = false;
    f.state.masculine = true;
    f.panel.ui.fitSlot = 2;
    resetEverything(f.panel);
    EXPECT_EQ(f.state.face, kFaceNone);
    EXPECT_EQ(f.state.faceId, "a.jpg");
    EXPECT_EQ(f.state.wear[kWearHat], "");
    EXPECT_EQ(f.state.wearFit[kWearHat], Fit{});
    EXPECT_FLOAT_EQ(f.state.visitorEvery, 15);
    EXPECT_FALSE(f.state.filters || f.state.mirror);
    EXPECT_TRUE(f.state.masculine);
    EXPECT_EQ(f.panel.ui.fitSlot, -1);
    EXPECT_EQ(f.panel.ui.statusMessage, "Everything is back to default.");
    const IniDocument after = readIniFile(f.paths.settingsFile);
    EXPECT_EQ(readPhotoFit(after, "a.jpg"), PhotoFit{});
    EXPECT_EQ(readPhotoFit(after, "b.jpg"), PhotoFit{});
    EXPECT_EQ(after.getString("other", "keep", ""), "1");
}

}  // namespace
}  // namespace qm
