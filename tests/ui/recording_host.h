// A PanelHost that counts what the panel asked of the window, and a panel over its own state, lists, shared
// block and settings folder.
#pragma once

#include <filesystem>
#include <vector>

#include "tests/support/temp_dir.h"
#include "ui/panel.h"

namespace qm::test {

struct RecordingHost : PanelHost {
    int repaints = 0, captures = 0, releases = 0, cameraMenus = 0, resets = 0, menus = 0;

    void repaint() override { ++repaints; }
    void captureMouse() override { ++captures; }
    void releaseMouse() override { ++releases; }
    void showCameraMenu() override { ++cameraMenus; }
    void resetAll() override { ++resets; }
    int popupMenu(const std::vector<MenuItem>&, float, float) override {
        ++menus;
        return 0;
    }
};

// The region of that kind and index the last paint drew; null when it drew none.
inline const HitRegion* findRegion(const PanelState& ui, int kind, int index = 0) {
    for (const HitRegion& r : ui.regions)
        if (r.kind == kind && r.index == index) return &r;
    return nullptr;
}

struct PanelFixture {
    PanelFixture() {
        paths.folder = dir.path() + "/";
        paths.settingsFile = dir.file("settings.ini");
    }
    // Whether the settings file was written since the fixture began (or since forgetSave).
    bool saved() const { return std::filesystem::exists(paths.settingsFile); }
    void forgetSave() { std::filesystem::remove(paths.settingsFile); }

    TempDir dir;
    SettingsPaths paths;
    FilterState state;
    SettingsLists lists;
    SharedState shared;
    RecordingHost host;
    Panel panel{state, lists, shared, paths, host, {}};
};

}  // namespace qm::test
