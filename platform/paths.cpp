#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>
#include <cerrno>
#include <cstdlib>

namespace qm {
namespace {

std::string withSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

std::string xdgFolder(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return withSlash(value);
    std::string home = homeDir();
    if (home.empty()) return {};
    return withSlash(home) + fallbackUnderHome;
}

}  // namespace

const std::string& executableDir() {
    static const std::string dir = [] {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return std::string("./");
        std::string path(buffer, static_cast<size_t>(n));
        return path.substr(0, path.rfind('/') + 1);
    }();
    return dir;
}

std::string settingsRoot() {
    std::string base = xdgFolder("XDG_CONFIG_HOME", ".config/");
    return base.empty() ? base : base + "Quillmere/";
}

std::string stateRoot() {
    std::string base = xdgFolder("XDG_STATE_HOME", ".local/state/");
    return base.empty() ? base : base + "Quillmere/";
}

std::string runtimeDir() {
    if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value && value[0] == '/' && isDirectory(value))
        return withSlash(value);
    // Only a folder this user owns and nobody else can enter is trusted with the lock and socket; when
    // someone else has taken the usual name, a folder of this process's own is used instead.
    auto privateFolder = [](const std::string& dir) {
        mkdir(dir.c_str(), 0700);
        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
        if ((st.st_mode & 0077) != 0) chmod(dir.c_str(), 0700);
        return true;
    };
    std::string dir = "/tmp/quillmere-" + std::to_string(getuid()) + "/";
    if (privateFolder(dir)) return dir;
    dir = "/tmp/quillmere-" + std::to_string(getuid()) + "-" + std::to_string(getpid()) + "/";
    privateFolder(dir);
    return dir;
}

bool ensureDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(path);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> listFileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    std::string base = withSlash(folder);
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (isRegularFile(base + name)) names.push_back(std::move(name));
    }
    closedir(dir);
    return names;
}

}  // namespace qm
