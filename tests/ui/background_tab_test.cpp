// The Background tab through the recording painter: the visitor rows and what shows once one is chosen,
// adding a picture (a same-named one is replaced, not copied), removing one from its menu.
#include <gtest/gtest.h>

#include <fstream>

#include "fake_painter.h"
#include "recording_host.h"
#include "settings/settings_paths.h"
#include "ui/controls.h"
#include "ui/tabs/tab.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

struct PictureHost : test::RecordingHost {
    std::string picture;  // what the file dialog answers
    int answer = 0;       // what the menu answers
    std::string choosePicture(const std::string&) override { return picture; }
    int popupMenu(const std::vector<MenuItem>&, float, float) override {
        ++menus;
        return answer;
    }
};

struct BackgroundTab {
    BackgroundTab() {
        paths.folder = dir.path() + "/";
        paths.settingsFile = dir.file("settings.ini");
        state.tab = 3;
        lists.visitors = {"balloon", "cat", "ghost", "giraffe", "penguin"};
        lists.visitorNames = {"Balloon", "Cat", "Ghost", "Giraffe", "Penguin"};
        folder = libraryFolder(paths, "backgrounds");
    }
    void paint() {
        painter = {};
        paintWindow(painter, panel, 1200, 2000, engine);
    }
    const HitRegion* region(int kind, int index = 0) const { return test::findRegion(panel.ui, kind, index); }
    void click(int kind, int index = 0) {
        const HitRegion* r = region(kind, index);
        ASSERT_NE(r, nullptr) << kind << " " << index;
        onControlClick(panel, *r);
    }
    void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    test::TempDir dir;
    SettingsPaths paths;
    FilterState state;
    SettingsLists lists;
    SharedState shared;
    PictureHost host;
    Panel panel{state, lists, shared, paths, host, {}};
    test::FakePainter painter;
    EngineView engine;
    std::string folder;
};

TEST(BackgroundTabTest, VisitorRowsSendNowSlidersAndAResetOnEveryClick) {
    BackgroundTab t;
    t.paint();
    EXPECT_NE(t.painter.findText("Nobody"), nullptr);
    EXPECT_EQ(t.painter.findText("Send now"), nullptr);
    EXPECT_EQ(t.painter.findText("How often"), nullptr);
    EXPECT_NE(t.painter.findText("Something shows up"), nullptr);
    // Six choices in rows of three.
    ASSERT_NE(t.region(kHitVisitorSegment, 5), nullptr);
    EXPECT_EQ(t.region(kHitVisitorSegment, 3)->top, t.region(kHitVisitorSegment, 0)->top + 32);
    EXPECT_EQ(t.region(kHitVisitorSegment, 4)->left, t.region(kHitVisitorSegment, 1)->left);

    t.click(kHitVisitorSegment, 4);
    EXPECT_EQ(t.state.visitor, "giraffe");
    t.paint();
    EXPECT_NE(t.painter.findText("Send now"), nullptr);
    EXPECT_NE(t.painter.findText("Often"), nullptr);
    EXPECT_NE(t.painter.findText("Ghost (see-through)"), nullptr);
    t.state.visitorFit = {2, 0.3f, -0.2f, 0};
    t.click(kHitVisitorSegment, 4);  // the same visitor again: back to its default size and place
    EXPECT_EQ(t.state.visitorFit, Fit{});
    t.click(kHitSendVisitor);
    EXPECT_TRUE(t.shared.visitorRestart.exchange(false));
    t.click(kHitGhostSwitch);
    EXPECT_TRUE(t.state.ghost);
    t.click(kHitVisitorSegment, 0);
    EXPECT_EQ(t.state.visitor, "");
}

TEST(BackgroundTabTest, AddingReplacesASameNamedPictureAndRemovingForgetsIt) {
    BackgroundTab t;
    t.write(t.folder + "sea.png", "old");
    t.lists.backgrounds = {"sea.png"};
    t.state.background = "sea.png";
    std::filesystem::create_directories(t.dir.file("elsewhere"));
    t.write(t.dir.file("elsewhere/sea.png"), "new");
    t.paint();
    t.host.picture = t.dir.file("elsewhere/sea.png");
    const int version = t.shared.filters.backgroundVersion.load();
    t.click(kHitAddBackground);
    EXPECT_EQ(test::readText(t.folder + "sea.png"), "new");
    EXPECT_EQ(t.lists.backgrounds, std::vector<std::string>{"sea.png"});  // no numbered copy
    EXPECT_EQ(t.state.background, "sea.png");
    EXPECT_GT(t.shared.filters.backgroundVersion.load(), version);  // the engine reads it again
    EXPECT_TRUE(std::filesystem::exists(t.folder + "sea.png"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.folder), {}), 1);  // no temporary left

    t.host.picture = t.dir.file("missing.png");
    t.click(kHitAddBackground);
    EXPECT_EQ(t.panel.ui.statusMessage, "Couldn't add that picture.");
    EXPECT_EQ(t.state.background, "sea.png");

    // Remove from the tile's menu: the file goes, the selection and the remembered background with it.
    t.click(kHitBackgroundTile, 1);
    t.click(kHitBackgroundTile, 2);
    EXPECT_EQ(t.panel.ui.lastBackground, "sea.png");
    t.paint();
    const HitRegion* tile = t.region(kHitBackgroundTile, 2);
    ASSERT_NE(tile, nullptr);
    t.host.answer = 1;
    EXPECT_TRUE(tabModule(3).rightClick(t.panel, *tile, 10, 10));
    EXPECT_FALSE(std::filesystem::exists(t.folder + "sea.png"));
    EXPECT_TRUE(t.lists.backgrounds.empty());
    EXPECT_EQ(t.state.background, "none");
    EXPECT_EQ(t.panel.ui.lastBackground, "blur");
}

}  // namespace
}  // namespace qm
