// Fuzz target: any bytes as a scenes file. Listing, loading every scene, and creating, renaming and
// deleting must never crash, list an id that could name a file outside the scenes folder, or lose a
// listed scene that was not deleted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "settings/scenes.h"

namespace {

char scratch[64] = "/tmp/qm-scenes-fuzz-XXXXXX";

// A private folder for the run, removed at exit.
std::string scratchFolder() {
    static const bool made = [] {
        if (!mkdtemp(scratch)) return false;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratch, ignored);
        });
        return true;
    }();
    return made ? std::string(scratch) + "/" : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = scratchFolder();
    if (folder.empty()) return 0;
    qm::SettingsPaths paths;
    paths.folder = folder;
    paths.settingsFile = folder + "settings.ini";
    const std::string file = qm::scenesFilePath(paths);
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    qm::SettingsLists lists;
    lists.faceIds = {"a.png"};
    lists.torsos = {"robot"};
    lists.backgrounds = {"b.jpg"};
    std::vector<std::string> ids, names;
    qm::readSceneList(file, &ids, &names);
    if (ids.size() != names.size() || ids.size() > qm::kMaxScenes) __builtin_trap();
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!qm::isSceneId(ids[i]) || names[i].empty()) __builtin_trap();
        qm::FilterState state;
        if (!qm::loadScene(file, ids[i], paths, lists, state)) __builtin_trap();
        if (state.face < 0 || state.face > 6 || !(state.head >= 0.6f && state.head <= 1.6f)) __builtin_trap();
    }
    // Every write is flushed to the disk: only every fourth input goes on to the writes.
    static unsigned calls = 0;
    if (calls++ % 4 != 0) return 0;
    qm::FilterState state;
    const std::string id = qm::createScene(
        file, 1, std::string(reinterpret_cast<const char*>(data), std::min<size_t>(size, 200)), state);
    if (!id.empty()) {
        std::vector<std::string> after, afterNames;
        qm::readSceneList(file, &after, &afterNames);
        if (after.size() < std::min(ids.size() + 1, qm::kMaxScenes)) __builtin_trap();
        qm::renameScene(file, id, "renamed");
        qm::deleteScene(file, "", id);
    }
    return 0;
}
