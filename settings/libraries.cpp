#include "settings/libraries.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/file_read.h"
#include "platform/file_write.h"
#include "platform/paths.h"

namespace qm {
namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> namesBetween(const std::string& folder, const std::string& prefix,
                                      const std::string& suffix) {
    std::vector<std::string> names;
    for (const std::string& file : listFileNames(folder))
        if (file.size() > prefix.size() + suffix.size() && file.compare(0, prefix.size(), prefix) == 0 &&
            endsWith(file, suffix))
            names.push_back(file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()));
    return sorted(std::move(names));
}

float clampTo(float value, float low, float high) {
    return std::min(std::max(value, low), high);
}

}  // namespace

std::vector<std::string> listFaces(const std::string& facesFolder) {
    std::vector<std::string> names;
    if (facesFolder.empty()) return names;
    for (std::string& file : listFileNames(facesFolder))
        if (!(file.size() >= 9 && endsWith(file, ".cut.png"))) names.push_back(std::move(file));
    return sorted(std::move(names));
}

std::vector<std::string> listBackgrounds(const std::string& backgroundsFolder) {
    if (backgroundsFolder.empty()) return {};
    return sorted(listFileNames(backgroundsFolder));
}

std::vector<std::string> listTorsos(const std::string& assetDir) {
    return namesBetween(assetDir, "torso_", ".json");
}

std::vector<std::string> listVisitors(const std::string& assetDir) {
    return namesBetween(assetDir, "visitor_", ".json");
}

std::string visitorDisplayName(const std::string& name) {
    std::string display = name;
    bool startOfWord = true;
    for (char& c : display) {
        if (c == '_') {
            c = ' ';
            startOfWord = true;
            continue;
        }
        if (startOfWord && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        startOfWord = false;
    }
    return display;
}

PhotoFit readPhotoFit(const IniDocument& settings, const std::string& faceId) {
    PhotoFit fit;
    if (faceId.empty()) return fit;
    std::string text = settings.getString("face." + faceId, "fit", "", 127);
    float v[6];
    int eyes = 0, mouth = 0;
    if (std::sscanf(text.c_str(), "%f %f %f %f %f %f %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &eyes,
                    &mouth) != 8)
        return fit;
    for (float value : v)
        if (!std::isfinite(value)) return fit;
    fit.x = clampTo(v[0], -0.25f, 0.25f);
    fit.y = clampTo(v[1], -0.25f, 0.25f);
    fit.tilt = clampTo(v[2], -25, 25);
    fit.exposure = clampTo(v[3], -1, 1);
    fit.warmth = clampTo(v[4], -1, 1);
    fit.neck = clampTo(v[5], 0, 1);
    fit.photoEyes = eyes != 0;
    fit.photoMouth = mouth != 0;
    return fit;
}

void writePhotoFit(IniDocument& settings, const std::string& faceId, const PhotoFit& fit) {
    if (faceId.empty()) return;
    char text[160];
    std::snprintf(text, sizeof text, "%.3f %.3f %.2f %.3f %.3f %.3f %d %d", fit.x, fit.y, fit.tilt,
                  fit.exposure, fit.warmth, fit.neck, fit.photoEyes ? 1 : 0, fit.photoMouth ? 1 : 0);
    settings.set("face." + faceId, "fit", text);
}

PhotoFit loadPhotoFit(const SettingsPaths& paths, const std::string& faceId) {
    if (faceId.empty() || paths.settingsFile.empty()) return PhotoFit{};
    return readPhotoFit(readIniFile(paths.settingsFile), faceId);
}

bool savePhotoFit(const SettingsPaths& paths, const std::string& faceId, const PhotoFit& fit) {
    if (faceId.empty() || paths.settingsFile.empty()) return false;
    IniDocument settings = readIniFile(paths.settingsFile);
    writePhotoFit(settings, faceId, fit);
    return writeIniFile(paths.settingsFile, settings);
}

bool validFaceId(const std::string& faceId) {
    return !faceId.empty() && faceId != "." && faceId != ".." && faceId.find('/') == std::string::npos &&
           faceId.find_first_of(std::string("\n\r]\0", 4)) == std::string::npos;
}

std::string addFace(const std::string& facesFolder, const std::string& picturePath, std::string* error) {
    std::string name = picturePath.substr(picturePath.find_last_of('/') + 1);
    std::vector<uint8_t> bytes;
    switch (readRegularFile(picturePath, kMaxFacePhotoBytes, &bytes)) {
        case FileRead::Ok:
            break;
        case FileRead::TooLarge:
            *error = "the picture is too large";
            return {};
        default:
            *error = "the picture cannot be read";
            return {};
    }
    if (!validFaceId(name)) name = "face.png";
    if (facesFolder.empty() || !ensureDirectory(facesFolder)) {
        *error = "the faces folder cannot be made";
        return {};
    }
    const std::string folder = facesFolder.back() == '/' ? facesFolder : facesFolder + "/";
    // "name.ext" → "name 2.ext", "name 3.ext" …; a name ending in ".cut.png" would read as a cut-out.
    const size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    const bool looksCut = name.size() >= 9 && endsWith(name, ".cut.png");
    // The plain name, then "name 2" to "name 99"; when all are taken the copy is refused.
    for (int number = looksCut ? 2 : 1; number <= kMaxFaceCopyNumber; ++number) {
        const std::string id = number == 1 ? name : stem + " " + std::to_string(number) + extension;
        if (isRegularFile(folder + id) || isDirectory(folder + id) || isRegularFile(folder + id + ".cut.png"))
            continue;
        if (!writeFileReplacing(folder + id, bytes.data(), bytes.size())) {
            *error = "the faces folder is not writable";
            return {};
        }
        return id;
    }
    *error = "every numbered name of this picture is taken";
    return {};
}

bool removeFace(const std::string& facesFolder, IniDocument& settings, const std::string& faceId) {
    if (!validFaceId(faceId) || facesFolder.empty()) return false;
    const std::string folder = facesFolder.back() == '/' ? facesFolder : facesFolder + "/";
    if (isDirectory(folder + faceId)) return false;
    const bool removed = removeFile(folder + faceId);
    removeFile(folder + faceId + ".cut.png");
    settings.removeSection("face." + faceId);
    return removed;
}

}  // namespace qm

namespace qm {
namespace {

bool plainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

std::string addBackgroundPicture(const std::string& backgroundsFolder, const std::string& sourcePath) {
    const size_t slash = sourcePath.find_last_of('/');
    const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    if (backgroundsFolder.empty() || !plainFileName(name)) return {};
    std::vector<uint8_t> bytes;
    if (readRegularFile(sourcePath, kLargestBackgroundFile, &bytes) != FileRead::Ok) return {};
    if (!writeFileReplacing(backgroundsFolder + name, bytes.data(), bytes.size())) return {};
    return name;
}

bool removeBackgroundPicture(const std::string& backgroundsFolder, const std::string& name) {
    if (backgroundsFolder.empty() || !plainFileName(name)) return false;
    return std::remove((backgroundsFolder + name).c_str()) == 0;
}

}  // namespace qm
