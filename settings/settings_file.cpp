#include "settings/settings_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/launch_options.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/scenes.h"

namespace qm {
namespace {

constexpr const char* kMain = "quillmere";

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

int clampInt(int value, int low, int high) {
    return std::min(std::max(value, low), high);
}

float readClamped(const IniDocument& ini, const char* section, const char* key, const char* fallback,
                  float low, float high) {
    float value = static_cast<float>(readNumber(ini.getString(section, key, fallback)));
    return std::min(std::max(value, low), high);
}

void readFit(const IniDocument& ini, const char* section, const std::string& key, Fit* fit) {
    parseFit(ini.getString(section, key, ""), fit);
}

std::string formatFloat(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

std::string formatFit(const Fit& fit) {
    char text[128];
    std::snprintf(text, sizeof text, "%.3f %.3f %.3f %.3f", fit.scale, fit.x, fit.y, fit.fourth);
    return text;
}

bool parseFit(const std::string& text, Fit* fit) {
    Fit read;
    if (std::sscanf(text.c_str(), "%f %f %f %f", &read.scale, &read.x, &read.y, &read.fourth) != 4)
        return false;
    if (!std::isfinite(read.scale) || !std::isfinite(read.x) || !std::isfinite(read.y) ||
        !std::isfinite(read.fourth))
        return false;
    if (!(read.scale >= 0.2f && read.scale <= 3.0f)) return false;
    *fit = read;
    return true;
}

void loadSettings(const SettingsPaths& paths, FilterState& state, SettingsLists& lists,
                  LaunchOptions& options) {
    const IniDocument ini = readIniFile(paths.settingsFile);

    // 1. Face and the face-library photo.
    state.face = clampInt(ini.getInt(kMain, "face", kFaceMorvel), 0, 6);
    lists.faceIds = listFaces(libraryFolder(paths, "faces"));
    state.faceId = ini.getString(kMain, "face_id", "", 259);
    if (!contains(lists.faceIds, state.faceId)) state.faceId.clear();
    state.photoFit = readPhotoFit(ini, state.faceId);
    if (state.face == kFaceCustom && state.faceId.empty()) state.face = kFaceNone;

    // 2. Window and camera.
    state.filters = ini.getInt(kMain, "filters", 1) != 0;
    state.mirror = ini.getInt(kMain, "mirror", 1) != 0;
    state.tab = clampInt(ini.getInt(kMain, "tab", 0), 0, 4);
    state.camera = ini.getString(kMain, "camera", "", 255);
    readFit(ini, kMain, "face_fit", &state.faceFit);

    // 3. Look; a look on the command line wins and brings its masculine flag along.
    state.look = clampInt(ini.getInt("look", "look", 0), 0, 3);
    state.masculine = ini.getInt("look", "masculine", 0) != 0;
    state.strength = readClamped(ini, "look", "strength", "1", 0, 1.5f);
    if (options.look != kLookNone) {
        state.look = options.look;
        state.masculine = options.masculine;
    } else {
        options.look = state.look;
        options.masculine = state.masculine;
    }

    // 4-5. Backgrounds, scenes, the selected background.
    lists.backgrounds = listBackgrounds(libraryFolder(paths, "backgrounds"));
    readSceneList(scenesFilePath(paths), &lists.scenes, &lists.sceneNames);
    state.background = ini.getString("background", "selected", "none", 259);
    if (state.background != "none" && state.background != "blur" &&
        !contains(lists.backgrounds, state.background))
        state.background = "none";

    // 6-7. Visitors.
    lists.visitors = listVisitors(paths.assetDir);
    lists.visitorNames.clear();
    for (const std::string& name : lists.visitors)
        lists.visitorNames.push_back(visitorDisplayName(name));
    state.visitor = ini.getString("visitor", "name", "", 95);
    if (!contains(lists.visitors, state.visitor)) state.visitor.clear();
    readFit(ini, "visitor", "fit", &state.visitorFit);
    state.visitorEvery = readClamped(ini, "visitor", "every", "15", 6, 120);
    state.ghost = ini.getInt("visitor", "ghost", 0) != 0;

    // 8-10. Body, torso list, and the torso merge.
    state.torso = ini.getString("body", "torso", "", 95);
    readFit(ini, "body", "torso_fit", &state.torsoFit);
    state.bodyless = ini.getInt("body", "bodyless", 0) != 0;
    state.head = readClamped(ini, "body", "head", "1", 0.6f, 1.6f);
    lists.torsos = listTorsos(paths.assetDir);
    if (!contains(lists.torsos, state.torso)) state.torso.clear();
    if (!options.torso.empty()) state.torso = options.torso;
    if (options.bodyless) state.bodyless = true;
    options.torso = state.torso;
    options.bodyless = state.bodyless;

    // 11. Wear items; "none" on the command line clears the stored item.
    for (int slot = 0; slot < kWearSlots; ++slot) {
        std::string name = kWearSlotNames[slot];
        state.wear[slot] = ini.getString("wear", name, "", 95);
        readFit(ini, "wear", name + "_fit", &state.wearFit[slot]);
        const std::string& launch = options.wear[slot];
        if (launch == "none")
            state.wear[slot].clear();
        else if (!launch.empty())
            state.wear[slot] = launch;
    }

    // 12. The stored face wins over --face; the launch record takes the effective items and fits.
    options.face = state.face;
    for (int slot = 0; slot < kWearSlots; ++slot) {
        options.wear[slot] = effectiveWearItem(state, slot);
        options.wearFit[slot] = state.wearFit[slot];
    }
    if (options.camera.empty()) options.camera = state.camera;
}

bool saveSettings(const SettingsPaths& paths, const FilterState& state) {
    if (paths.settingsFile.empty()) return false;
    IniDocument ini = readIniFile(paths.settingsFile);
    ini.set(kMain, "face", std::to_string(state.face));
    ini.set(kMain, "filters", state.filters ? "1" : "0");
    ini.set(kMain, "camera", state.camera);
    ini.set(kMain, "tab", std::to_string(state.tab));
    ini.set(kMain, "mirror", state.mirror ? "1" : "0");
    ini.set(kMain, "face_fit", formatFit(state.faceFit));
    ini.set(kMain, "face_id", state.faceId);
    writePhotoFit(ini, state.faceId, state.photoFit);
    ini.set("background", "selected", state.background);
    ini.set("visitor", "name", state.visitor);
    ini.set("visitor", "fit", formatFit(state.visitorFit));
    ini.set("visitor", "every", formatFloat(state.visitorEvery));
    ini.set("visitor", "ghost", state.ghost ? "1" : "0");
    ini.set("look", "look", std::to_string(state.look));
    ini.set("look", "masculine", state.masculine ? "1" : "0");
    ini.set("look", "strength", formatFloat(state.strength));
    ini.set("body", "torso", state.torso);
    ini.set("body", "torso_fit", formatFit(state.torsoFit));
    ini.set("body", "bodyless", state.bodyless ? "1" : "0");
    ini.set("body", "head", formatFloat(state.head));
    for (int slot = 0; slot < kWearSlots; ++slot) {
        std::string name = kWearSlotNames[slot];
        ini.set("wear", name, state.wear[slot]);
        ini.set("wear", name + "_fit", formatFit(state.wearFit[slot]));
    }
    return writeIniFile(paths.settingsFile, ini);
}

std::string effectiveWearItem(const FilterState& state, int slot) {
    if (state.face == kFaceKitten) return {};
    if (slot == kWearHair && state.wear[slot] == "bald" && state.face != kFaceNone) return {};
    return state.wear[slot];
}

WindowSettings& windowSettings() {
    static WindowSettings settings;
    return settings;
}

void loadSettingsForLaunch(LaunchOptions& options) {
    WindowSettings& settings = windowSettings();
    settings.paths = defaultSettingsPaths();
    loadSettings(settings.paths, settings.state, settings.lists, options);
    settings.startNotice.clear();
    if (iniFileTooLarge(settings.paths.settingsFile))
        settings.startNotice =
            "Your settings file is too large to read, so the defaults are on. It is kept as "
            "settings.ini.too-large.";
}

}  // namespace qm
