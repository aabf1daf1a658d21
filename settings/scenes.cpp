#include "settings/scenes.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/launch_options.h"
#include "base/log.h"
#include "platform/file_write.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/settings_file.h"

namespace qm {
namespace {

constexpr int kFrameWidth = 1280, kFrameHeight = 720;
constexpr size_t kFrameBytes = static_cast<size_t>(kFrameWidth) * kFrameHeight * 4;

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool hasSection(const IniDocument& ini, std::string_view id) {
    for (const std::string& name : ini.sectionNames())
        if (equalsNoCase(name, id)) return true;
    return false;
}

std::string formatFloat(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

float readClamped(const IniDocument& ini, const std::string& id, const char* key, const char* fallback,
                  float low, float high) {
    float value = static_cast<float>(readNumber(ini.getString(id, key, fallback)));
    return std::min(std::max(value, low), high);
}

// The keys of the look, in their fixed order.
void writeLook(IniDocument& ini, const std::string& id, const FilterState& s) {
    ini.set(id, "face", std::to_string(s.face));
    ini.set(id, "face_fit", formatFit(s.faceFit));
    ini.set(id, "face_id", s.face == kFaceCustom ? s.faceId : std::string());
    for (int slot = 0; slot < kWearSlots; ++slot) {
        ini.set(id, kWearSlotNames[slot], s.wear[slot]);
        ini.set(id, std::string(kWearSlotNames[slot]) + "_fit", formatFit(s.wearFit[slot]));
    }
    ini.set(id, "torso", s.torso);
    ini.set(id, "torso_fit", formatFit(s.torsoFit));
    ini.set(id, "bodyless", s.bodyless ? "1" : "0");
    ini.set(id, "head", formatFloat(s.head));
    ini.set(id, "background", s.background);
    ini.set(id, "look", std::to_string(s.look));
    ini.set(id, "masculine", s.masculine ? "1" : "0");
    ini.set(id, "strength", formatFloat(s.strength));
}

bool write(const std::string& scenesFile, const IniDocument& ini) {
    if (writeIniFile(scenesFile, ini)) return true;
    logLine("scenes: cannot write %s", scenesFile.c_str());
    return false;
}

}  // namespace

std::string scenesFilePath(const SettingsPaths& paths) {
    return paths.folder.empty() ? std::string() : paths.folder + "scenes.ini";
}

bool isSceneId(std::string_view id) {
    if (id.size() < 2 || id.size() > 21 || id[0] != 's') return false;
    return std::all_of(id.begin() + 1, id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string sanitizeSceneName(std::string_view name) {
    // Invalid UTF-8 (and any NUL byte) becomes U+FFFD; control characters and line separators go.
    gchar* valid = g_utf8_make_valid(name.data(), static_cast<gssize>(name.size()));
    std::string out;
    size_t chars = 0;
    for (const gchar* at = valid; *at && chars < kMaxSceneNameChars; at = g_utf8_next_char(at)) {
        const gunichar c = g_utf8_get_char(at);
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029) continue;
        out.append(at, static_cast<size_t>(g_utf8_next_char(at) - at));
        ++chars;
    }
    g_free(valid);
    size_t start = out.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    return out.substr(start, out.find_last_not_of(' ') - start + 1);
}

std::string defaultSceneName(size_t count) {
    return "Scene " + std::to_string(count + 1);
}

void readSceneList(const std::string& scenesFile, std::vector<std::string>* ids,
                   std::vector<std::string>* names) {
    ids->clear();
    names->clear();
    const IniDocument ini = readIniFile(scenesFile);
    size_t skipped = 0;
    for (const std::string& id : ini.sectionNames()) {
        if (!isSceneId(id) || ids->size() >= kMaxScenes) {
            ++skipped;
            continue;
        }
        ids->push_back(id);
        std::string name = sanitizeSceneName(ini.getString(id, "name", "", 4095));
        names->push_back(name.empty() ? id : name);
    }
    if (skipped)
        logLine("scenes: %zu sections of %s not listed (not a scene id, or past %zu scenes)", skipped,
                scenesFile.c_str(), kMaxScenes);
}

std::string createScene(const std::string& scenesFile, uint64_t tick, std::string_view name,
                        const FilterState& state) {
    IniDocument ini = readIniFile(scenesFile);
    size_t count = 0;
    for (const std::string& section : ini.sectionNames())
        count += isSceneId(section);
    if (count >= kMaxScenes) {
        logLine("scenes: %s already holds %zu scenes", scenesFile.c_str(), kMaxScenes);
        return {};
    }
    // The tick count restarts at every boot: an id from an earlier session may be taken.
    std::string id;
    for (;; ++tick) {
        id = "s" + std::to_string(tick);
        if (!hasSection(ini, id)) break;
    }
    std::string display = sanitizeSceneName(name);
    ini.set(id, "name", display.empty() ? defaultSceneName(count) : display);
    writeLook(ini, id, state);
    return write(scenesFile, ini) ? id : std::string();
}

bool updateScene(const std::string& scenesFile, const std::string& id, const FilterState& state) {
    IniDocument ini = readIniFile(scenesFile);
    if (!isSceneId(id) || !hasSection(ini, id)) return false;
    writeLook(ini, id, state);
    return write(scenesFile, ini);
}

bool renameScene(const std::string& scenesFile, const std::string& id, std::string_view name) {
    IniDocument ini = readIniFile(scenesFile);
    if (!isSceneId(id) || !hasSection(ini, id)) return false;
    std::string display = sanitizeSceneName(name);
    if (display.empty()) return true;
    ini.set(id, "name", display);
    return write(scenesFile, ini);
}

bool deleteScene(const std::string& scenesFile, const std::string& scenesFolder, const std::string& id) {
    IniDocument ini = readIniFile(scenesFile);
    ini.removeSection(id);
    if (!write(scenesFile, ini)) return false;
    if (isSceneId(id) && !scenesFolder.empty()) std::remove((scenesFolder + id + ".bmp").c_str());
    return true;
}

bool loadScene(const std::string& scenesFile, const std::string& id, const SettingsPaths& paths,
               const SettingsLists& lists, FilterState& state) {
    const IniDocument ini = readIniFile(scenesFile);
    if (!isSceneId(id) || !hasSection(ini, id)) return false;
    FilterState& s = state;

    s.face = std::clamp(ini.getInt(id, "face", 0), 0, 6);
    if (s.face == kFaceCustom) {
        std::string faceId = ini.getString(id, "face_id", "", 259);
        if (!faceId.empty() && contains(lists.faceIds, faceId)) {
            s.faceId = faceId;
            s.photoFit = loadPhotoFit(paths, faceId);
        } else {
            s.face = kFaceNone;
        }
    }
    s.faceFit = Fit{};
    parseFit(ini.getString(id, "face_fit", ""), &s.faceFit);

    for (int slot = 0; slot < kWearSlots; ++slot) {
        s.wear[slot] = ini.getString(id, kWearSlotNames[slot], "", 95);
        parseFit(ini.getString(id, std::string(kWearSlotNames[slot]) + "_fit", ""), &s.wearFit[slot]);
    }

    s.torso = ini.getString(id, "torso", "", 95);
    if (!contains(lists.torsos, s.torso)) s.torso.clear();
    s.torsoFit = Fit{};
    parseFit(ini.getString(id, "torso_fit", ""), &s.torsoFit);
    s.bodyless = ini.getString(id, "bodyless", "0") == "1";
    s.head = readClamped(ini, id, "head", "1", 0.6f, 1.6f);

    s.background = ini.getString(id, "background", "none", 259);
    if (s.background != "none" && s.background != "blur" && !contains(lists.backgrounds, s.background))
        s.background = "none";

    s.look = std::clamp(ini.getInt(id, "look", 0), 0, 3);
    s.masculine = ini.getString(id, "masculine", "0") == "1";
    s.strength = readClamped(ini, id, "strength", "1", 0, 1.5f);
    return true;
}

bool writeSceneSnapshot(const std::string& scenesFolder, const std::string& id, const uint8_t* frame,
                        size_t frameBytes) {
    if (!frame || frameBytes < kFrameBytes || !isSceneId(id) || scenesFolder.empty()) return false;
    std::vector<uint8_t> file(kSnapshotFileBytes, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(kSnapshotFileBytes));
    put32(10, 54);
    put32(14, 40);
    put32(18, kSnapshotWidth);
    put32(22, kSnapshotHeight);
    file[26] = 1;   // planes
    file[28] = 24;  // bits per pixel
    uint8_t* out = file.data() + 54;
    // Bottom-up: preview rows 716, 712, ..., 0.
    for (int r = kSnapshotHeight - 1; r >= 0; --r) {
        const uint8_t* row = frame + static_cast<size_t>(4 * r) * kFrameWidth * 4;
        for (int c = 0; c < kSnapshotWidth; ++c, out += 3)
            std::memcpy(out, row + static_cast<size_t>(4 * c) * 4, 3);
    }
    const std::string path = scenesFolder + id + ".bmp";
    if (writeFileReplacing(path, file.data(), file.size())) return true;
    logLine("scenes: cannot write %s", path.c_str());
    return false;
}

}  // namespace qm
