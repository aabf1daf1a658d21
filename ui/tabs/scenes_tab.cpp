#include "ui/tabs/scenes_tab.h"

#include <cmath>
#include <string>

#include "base/clock.h"
#include "settings/scenes.h"
#include "ui/tabs/list_choice.h"

namespace qm {
namespace {

constexpr const char* kEmptyNote =
    "Build a look in the other tabs, then save it here. One click brings the whole thing back: filter, hair, "
    "accessories, body and background.";
constexpr const char* kGone = "That scene is gone.";
constexpr float kTileWidth = (288 - 10) / 2.0f;
constexpr float kPictureHeight = kTileWidth * 9 / 16;

enum SceneCommand { kUpdate = 1, kRename = 2, kDelete = 3 };

std::string quoted(const std::string& name) {
    return "\u201C" + name + "\u201D.";
}

// After the file changed: the list again, and the snapshots reload on the next paint.
void rescan(Panel& panel) {
    readSceneList(scenesFilePath(panel.paths), &panel.lists.scenes, &panel.lists.sceneNames);
    panel.host.releaseDeviceResources();
}

bool writeSnapshot(Panel& panel, const std::string& id) {
    size_t bytes = 0;
    const uint8_t* frame = panel.host.previewFrame(&bytes);
    // Before the first preview frame there is nothing to show: the tile stays black.
    return frame && writeSceneSnapshot(libraryFolder(panel.paths, "scenes"), id, frame, bytes);
}

// The quick background switch: off to "none", and back to the last choice while it still exists.
void toggleBackground(Panel& panel) {
    FilterState& s = panel.state;
    if (s.background != "none") {
        s.background = "none";
        return;
    }
    const std::string& last = panel.ui.lastBackground;
    s.background = (last == "blur" || inList(panel.lists.backgrounds, last)) ? last : "blur";
}

// The display name of the scene at a valid index.
std::string sceneName(const Panel& panel, int index) {
    const std::string* name = listEntry(panel.lists.sceneNames, index, 0);
    return name ? *name : panel.lists.scenes[static_cast<size_t>(index)];
}

void applyScene(Panel& panel, int index) {
    const std::string* id = listEntry(panel.lists.scenes, index, 0);
    if (!id) return;
    const std::string chosen = *id, name = sceneName(panel, index);
    if (!loadScene(scenesFilePath(panel.paths), chosen, panel.paths, panel.lists, panel.state)) {
        // Deleted by hand or by another copy of the program: nothing changes.
        panel.ui.statusMessage = kGone;
        if (panel.ui.activeScene == chosen) panel.ui.activeScene.clear();
        rescan(panel);
        panel.host.repaint();
        return;
    }
    panel.ui.activeScene = chosen;
    panel.ui.statusMessage = "Scene " + quoted(name);
    applyChange(panel, true);
}

void commitSceneName(Panel& panel) {
    PanelState& ui = panel.ui;
    const std::string file = scenesFilePath(panel.paths);
    const std::string text = panel.host.sceneNameText();
    if (!ui.renameScene.empty()) {
        if (!renameScene(file, ui.renameScene, text)) ui.statusMessage = kGone;
        ui.renameScene.clear();
    } else {
        const std::string id = createScene(file, tickMs(), text, panel.state);
        if (id.empty()) {
            ui.statusMessage = "The scene could not be saved.";
        } else {
            writeSnapshot(panel, id);
            ui.activeScene = id;
            std::vector<std::string> ids, names;
            readSceneList(file, &ids, &names);
            std::string name = sanitizeSceneName(text);
            for (size_t i = 0; i < ids.size(); ++i)
                if (ids[i] == id) name = names[i];
            ui.statusMessage = "Saved scene " + quoted(name);
        }
    }
    panel.host.setSceneNameText({}, false);
    rescan(panel);
    applyChange(panel, true);
}

}  // namespace

void drawScenesTab(DrawContext& dc, float& y) {
    Painter& p = dc.painter;
    Panel& panel = dc.panel;
    const std::vector<std::string>& ids = panel.lists.scenes;
    const std::vector<std::string>& names = panel.lists.sceneNames;
    drawTabTitle(dc, y, "Scenes");
    if (ids.empty()) y += drawNote(dc, kEmptyNote, dc.contentLeft, y, kContentWidth) + 12;

    const int count = static_cast<int>(std::min(ids.size(), names.size()));
    for (int i = 0; i < count; ++i) {
        const float x = dc.contentLeft + (i % 2) * (kTileWidth + 10),
                    top = y + (i / 2) * (kPictureHeight + 34);
        const Rect picture{x, top, x + kTileWidth, top + kPictureHeight};
        const bool active = ids[i] == panel.ui.activeScene;
        p.pushRoundClip(picture, 8);
        p.fillRect(picture, {0, 0, 0, 1});
        p.drawThumbnail(ThumbnailGroup::Scene, i, picture, true, 1, panel.state.mirror);
        p.popClip();
        if (active) {
            p.strokeRoundRect({x + 1.5f, top + 1.5f, x + kTileWidth - 1.5f, top + kPictureHeight - 1.5f}, 8,
                              3, colours::kAccent);
        } else {
            const Colour line =
                isHovered(panel.ui, kHitSceneTile, i) ? Colour{1, 1, 1, 0.4f} : colours::kDivider;
            p.strokeRoundRect({x + 0.5f, top + 0.5f, x + kTileWidth - 0.5f, top + kPictureHeight - 0.5f}, 8,
                              1, line);
        }
        p.drawText(names[i], {x, top + kPictureHeight + 3, x + kTileWidth, top + kPictureHeight + 23},
                   {active ? Font::Label : Font::Body, Align::Centre}, colours::kPrimaryText);
        addRegion(panel.ui, {x, top, x + kTileWidth, top + kPictureHeight + 24}, kHitSceneTile, i);
    }
    if (count > 0) y += std::ceil(count / 2.0f) * (kPictureHeight + 34) + 2;

    // The name row: the native field sits on the card-coloured rectangle.
    const char* label = panel.ui.renameScene.empty() ? "Save scene" : "Rename";
    const float button = std::min(p.measureText(label, Font::Body, 300).width, 300.0f) + 24;
    panel.ui.sceneNameRect = {dc.contentLeft, y, dc.contentLeft + 288 - button - 8, y + 30};
    panel.ui.sceneNameWanted = true;
    p.fillRoundRect(panel.ui.sceneNameRect, 6, colours::kCard);
    drawChip(dc, dc.contentLeft + 288 - button, y, 30, 0, label, kHitSaveScene, 0);
    y += 38;

    drawSeparator(dc, y);
    p.drawText("Quick switches", {dc.contentLeft, y, dc.contentLeft + 288, y + 22},
               {Font::Heading, Align::Leading}, colours::kPrimaryText);
    y += 30;
    drawToggleRow(dc, y, "Filters on", panel.state.filters, kHitFiltersSwitch);
    drawToggleRow(dc, y, "Background", panel.state.background != "none", kHitBackgroundSwitch);
    drawToggleRow(dc, y, "Body-less", panel.state.bodyless, kHitBodylessSwitch);
    y += 4;
    drawChip(dc, dc.contentLeft, y, 34, 0, "Remove all filters", kHitRemoveAllFilters, 0, 288);
    y += 48;
}

TabClick scenesTabClick(Panel& panel, const HitRegion& region) {
    switch (region.kind) {
        case kHitSceneTile:
            applyScene(panel, region.index);
            return TabClick::Done;
        case kHitSaveScene:
            commitSceneName(panel);
            return TabClick::Done;
        case kHitBackgroundSwitch:
            toggleBackground(panel);
            return TabClick::Changed;
        case kHitRemoveAllFilters:
            removeAllFilters(panel);
            return TabClick::Changed;
        default:
            return TabClick::NotMine;
    }
}

bool scenesTabRightClick(Panel& panel, const HitRegion& region, float x, float y) {
    if (region.kind != kHitSceneTile) return false;
    if (!listEntry(panel.lists.scenes, region.index, 0)) return true;
    const std::vector<MenuItem> items = {
        {"Update with what's on now", kUpdate}, {"Rename\u2026", kRename}, {"Delete", kDelete}};
    const int command = panel.host.popupMenu(items, x, y);
    // The menu ran its own loop: the list may have changed under it.
    const std::string* entry = listEntry(panel.lists.scenes, region.index, 0);
    if (command == 0 || !entry) return true;
    const std::string id = *entry, name = sceneName(panel, region.index);
    const std::string file = scenesFilePath(panel.paths);
    PanelState& ui = panel.ui;
    if (command == kUpdate) {
        if (updateScene(file, id, panel.state)) {
            writeSnapshot(panel, id);
            ui.activeScene = id;
            ui.statusMessage = "Updated scene " + quoted(name);
        } else {
            ui.statusMessage = kGone;
        }
    } else if (command == kRename) {
        ui.renameScene = id;
        panel.host.setSceneNameText(name, true);
    } else if (command == kDelete) {
        if (deleteScene(file, libraryFolder(panel.paths, "scenes"), id) && ui.activeScene == id)
            ui.activeScene.clear();
        if (ui.renameScene == id) ui.renameScene.clear();
    }
    rescan(panel);
    panel.host.repaint();
    return true;
}

}  // namespace qm
