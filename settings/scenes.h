// Scenes: named copies of the look (face, wear, body, background, touch-up look and their placements) in
// "scenes.ini" beside the settings file, one section per scene named by its id, each with a 320 × 180
// snapshot bitmap "<id>.bmp" in the scenes folder.
//
// Every change reads the file, edits one section and writes the whole file back through a temporary file
// (see ini.h), so a failed write leaves the old file. Window thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/filter_state.h"
#include "settings/settings_paths.h"

namespace qm {

constexpr size_t kMaxScenes = 1000;         // listed; a file with more shows the first ones
constexpr size_t kMaxSceneNameChars = 127;  // characters, not bytes
constexpr int kSnapshotWidth = 320, kSnapshotHeight = 180;
constexpr size_t kSnapshotFileBytes = 54 + static_cast<size_t>(kSnapshotWidth) * kSnapshotHeight * 3;

// The scenes file; empty when there is no settings folder.
std::string scenesFilePath(const SettingsPaths& paths);

// An id is "s" followed by 1 to 20 decimal digits; only such ids name files.
bool isSceneId(std::string_view id);

// Control characters removed, invalid UTF-8 replaced by U+FFFD, surrounding blanks trimmed, cut to
// kMaxSceneNameChars characters.
std::string sanitizeSceneName(std::string_view name);

// "Scene " followed by count + 1.
std::string defaultSceneName(size_t count);

// The valid scene ids in file order (at most kMaxScenes) and their display names (the id when a
// section has no name).
void readSceneList(const std::string& scenesFile, std::vector<std::string>* ids,
                   std::vector<std::string>* names);

// Writes a new scene named `name` (sanitised; the default name when empty) with the state's look, under
// "s" + `tick`, or the next id up that the file does not hold yet. The new id, or empty when the file
// could not be written or already holds kMaxScenes scenes.
std::string createScene(const std::string& scenesFile, uint64_t tick, std::string_view name,
                        const FilterState& state);
// Overwrites an existing scene's look / name. False when the scene is gone or the file could not be
// written; a renamed scene keeps its name when `name` is empty after sanitising.
bool updateScene(const std::string& scenesFile, const std::string& id, const FilterState& state);
bool renameScene(const std::string& scenesFile, const std::string& id, std::string_view name);
// Removes the section and the snapshot. False when the file could not be written.
bool deleteScene(const std::string& scenesFile, const std::string& scenesFolder, const std::string& id);

// Sets the look of `state` from the scene, dropping a face photo, torso or background that no longer
// exists (lists) and taking the photo's own fit from the settings file. False, with `state` untouched,
// when the scene is not in the file.
bool loadScene(const std::string& scenesFile, const std::string& id, const SettingsPaths& paths,
               const SettingsLists& lists, FilterState& state);

// Writes "<folder><id>.bmp" from a 1280 × 720 BGRA preview frame (every fourth pixel of every fourth
// row). False, writing nothing, when the id is invalid, the frame is not a full frame or the write fails.
bool writeSceneSnapshot(const std::string& scenesFolder, const std::string& id, const uint8_t* frame,
                        size_t frameBytes);

}  // namespace qm
