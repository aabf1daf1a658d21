// A PanelHost that counts what the panel asked of the window.
#pragma once

#include <vector>

#include "ui/panel.h"

namespace qm::test {

struct RecordingHost : PanelHost {
    int repaints = 0, publishes = 0, saves = 0, captures = 0, releases = 0, cameraMenus = 0, resets = 0;
    std::vector<HitRegion> tabClicks, rightClicks;
    bool tabClickTakesOwnPath = false;

    void repaint() override { ++repaints; }
    void publish() override { ++publishes; }
    void save() override { ++saves; }
    void captureMouse() override { ++captures; }
    void releaseMouse() override { ++releases; }
    void showCameraMenu() override { ++cameraMenus; }
    void resetAll() override { ++resets; }
    bool tabClick(const HitRegion& region) override {
        tabClicks.push_back(region);
        return tabClickTakesOwnPath;
    }
    void tabRightClick(const HitRegion& region) override { rightClicks.push_back(region); }
};

// A panel over its own state, lists and shared block.
struct PanelFixture {
    FilterState state;
    SettingsLists lists;
    SharedState shared;
    RecordingHost host;
    Panel panel{state, lists, shared, host, {}};
};

}  // namespace qm::test
