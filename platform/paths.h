// Where things live on this machine: the program's own folder (its assets sit beside it), the user's
// settings and state folders, and a private runtime folder for the per-user lock and socket.
// Folders are returned with a trailing '/'. Any thread may call these; nothing is cached but the
// executable folder.
#pragma once

#include <string>
#include <vector>

namespace qm {

// Folder of the running executable, from /proc/self/exe, with a trailing '/'.
const std::string& executableDir();

// $XDG_CONFIG_HOME/Quillmere/ (fallback ~/.config/Quillmere/); empty when no home is known. Not created.
std::string settingsRoot();

// $XDG_STATE_HOME/Quillmere/ (fallback ~/.local/state/Quillmere/); empty when no home is known.
std::string stateRoot();

// $XDG_RUNTIME_DIR/ when it exists, else /tmp/quillmere-<uid>/ made private (0700) to this user.
std::string runtimeDir();

// Creates the folder and its missing parents; an existing folder is fine.
bool ensureDirectory(const std::string& path);

bool isDirectory(const std::string& path);
// Deletes a file; true when it is gone (also when it was never there).
bool removeFile(const std::string& path);
bool isRegularFile(const std::string& path);

// Names of the plain files in a folder (no folders), unsorted; empty when the folder cannot be read.
std::vector<std::string> listFileNames(const std::string& folder);

}  // namespace qm
