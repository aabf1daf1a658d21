// The folder listings behind the window's choices, and the per-photo fit of face-library photos.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "settings/filter_state.h"
#include "settings/ini.h"
#include "settings/settings_paths.h"

namespace qm {

// Photos in the faces folder: plain files whose names do not end in ".cut.png" (a name must have at
// least one character before ".cut.png" to count as a cut-out), sorted by character code.
std::vector<std::string> listFaces(const std::string& facesFolder);
// Every plain file in the backgrounds folder, sorted by character code.
std::vector<std::string> listBackgrounds(const std::string& backgroundsFolder);
// Torso names: "torso_<name>.json" in the asset folder, sorted.
std::vector<std::string> listTorsos(const std::string& assetDir);
// Visitor names: "visitor_<name>.json" in the asset folder, sorted.
std::vector<std::string> listVisitors(const std::string& assetDir);
// "hot_air_balloon" → "Hot Air Balloon".
std::string visitorDisplayName(const std::string& name);

// The photo fit stored for a face id (defaults unless all eight values parse; clamped to their ranges).
PhotoFit readPhotoFit(const IniDocument& settings, const std::string& faceId);
// Writes it into the photo's section ("face.<id>", key "fit"); nothing for an empty id.
void writePhotoFit(IniDocument& settings, const std::string& faceId, const PhotoFit& fit);
// The same through the settings file: the fit stored for a photo (defaults when there is none), and
// storing one while keeping the rest of the file (false when it cannot be written).
PhotoFit loadPhotoFit(const SettingsPaths& paths, const std::string& faceId);
bool savePhotoFit(const SettingsPaths& paths, const std::string& faceId, const PhotoFit& fit);

// Pictures larger than this are not copied into the faces folder.
constexpr size_t kMaxFacePhotoBytes = 64u << 20;
// A picture added again is stored as "name 2.png" and so on up to this number.
constexpr int kMaxFaceCopyNumber = 99;

// A face id names a file inside the faces folder and a settings section: not empty, not "." or "..", no
// "/", line break or "]".
bool validFaceId(const std::string& faceId);

// Copies a picture into the faces folder (made if missing) under its own name, numbered when that is
// taken ("a.png", then "a 2.png", "a 3.png"; a name the list would take for a cut-out gets a number too).
// Returns the new face id, or empty with *error saying why (unreadable, too large, folder not writable).
std::string addFace(const std::string& facesFolder, const std::string& picturePath, std::string* error);

// Deletes a photo with everything that belongs to it: the file, its ".cut.png" and its settings section.
// Other files are never touched; an invalid id deletes nothing. False when the photo could not be deleted.
bool removeFace(const std::string& facesFolder, IniDocument& settings, const std::string& faceId);

}  // namespace qm

namespace qm {

// Background pictures users add are read whole; anything larger is not a picture worth keeping.
constexpr size_t kLargestBackgroundFile = 256u << 20;

// Copies a picture into the backgrounds folder under its own file name (the part after the last '/'),
// replacing a picture of that name; the copy goes through a temporary file and a rename, so a failed copy
// leaves the old picture whole. Returns the name, or empty on failure.
std::string addBackgroundPicture(const std::string& backgroundsFolder, const std::string& sourcePath);
// Deletes a background by its file name; false when nothing was removed (a name with a '/' or one that
// is "." or ".." is refused).
bool removeBackgroundPicture(const std::string& backgroundsFolder, const std::string& name);

}  // namespace qm
