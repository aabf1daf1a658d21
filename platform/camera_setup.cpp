#include "platform/camera_setup.h"

#include <dirent.h>
#include <gio/gio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/file_read.h"
#include "platform/paths.h"

namespace qm {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kCameraInterface = "org.freedesktop.portal.Camera";
constexpr size_t kMaxConfigBytes = 64 * 1024;
constexpr int kConnectMs = 3000;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string chosenRuntimeDir(const std::string& runtimeDir) {
    if (!runtimeDir.empty()) return runtimeDir;
    return environment("XDG_RUNTIME_DIR");
}

// A stream socket at `path` that accepts a connection right now.
bool acceptsConnection(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const bool accepted = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

// The name of a session manager among this user's processes, empty when none runs.
std::string findSessionManager(const std::string& procRoot) {
    DIR* dir = opendir(procRoot.c_str());
    if (!dir) return {};
    std::string found;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (!*name ||
            !std::all_of(name, name + std::strlen(name), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string process = procRoot + "/" + name;
        struct stat owner {};
        if (stat(process.c_str(), &owner) != 0 || owner.st_uid != getuid()) continue;
        std::ifstream in(process + "/comm");
        std::string command;
        std::getline(in, command);
        // The kernel keeps 15 bytes of a process name: "pipewire-media-session" reads "pipewire-media-".
        if (command == "wireplumber")
            found = "wireplumber";
        else if (command.rfind("pipewire-media", 0) == 0)
            found = "pipewire-media-session";
        if (!found.empty()) break;
    }
    closedir(dir);
    return found;
}

std::string errorText(GError* error) {
    std::string text = error && error->message ? error->message : "unknown error";
    if (error) g_error_free(error);
    return text;
}

// A method call on the bus with a reply of the given type; null (and *error set) when it failed.
GVariant* callBus(GDBusConnection* bus, const char* destination, const char* path, const char* interface,
                  const char* method, GVariant* arguments, const char* replyType, int timeoutMs,
                  std::string* error) {
    GError* failure = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, destination, path, interface, method, arguments,
                                                  G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
                                                  timeoutMs, nullptr, &failure);
    if (!reply) *error = errorText(failure);
    return reply;
}

// The session bus's address: $DBUS_SESSION_BUS_ADDRESS, else the runtime folder's "bus" socket. Empty when
// neither is there (the library would otherwise try to launch a bus of its own).
std::string sessionBusAddress(const std::string& runtimeDir) {
    std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
    if (!address.empty()) return address;
    struct stat info {};
    const std::string socketPath = runtimeDir + "/bus";
    if (!runtimeDir.empty() && stat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        return "unix:path=" + socketPath;
    return {};
}

std::string kernelRelease(const std::string& given) {
    if (!given.empty()) return given;
    utsname name{};
    return uname(&name) == 0 ? name.release : "";
}

bool isModuleFileName(const std::string& name) {
    for (const char* candidate :
         {"v4l2loopback.ko", "v4l2loopback.ko.xz", "v4l2loopback.ko.zst", "v4l2loopback.ko.gz"})
        if (name == candidate) return true;
    return false;
}

std::string findModuleFile(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (isModuleFileName(it->path().filename().string())) return it->path().string();
    }
    return {};
}

// Asks modinfo where the module is, when the tool is installed; empty otherwise.
std::string moduleFileFromModinfo() {
    for (const char* tool : {"/usr/sbin/modinfo", "/sbin/modinfo", "/usr/bin/modinfo"}) {
        if (access(tool, X_OK) != 0) continue;
        const std::string command = std::string(tool) + " -F filename v4l2loopback 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return {};
        char line[512] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        std::string path = read ? line : "";
        while (!path.empty() && (path.back() == '\n' || path.back() == ' '))
            path.pop_back();
        return path.rfind('/', 0) == 0 ? path : std::string();
    }
    return {};
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

PipeWireProbe probePipeWire(const std::string& runtimeDir, const std::string& procRoot) {
    PipeWireProbe probe;
    const std::string remote = environment("PIPEWIRE_REMOTE");
    if (!remote.empty() && remote[0] == '/') {
        probe.socketPath = remote;
    } else {
        const std::string folder = chosenRuntimeDir(runtimeDir);
        if (!folder.empty()) probe.socketPath = folder + "/" + (remote.empty() ? "pipewire-0" : remote);
    }
    probe.reachable = acceptsConnection(probe.socketPath);
    probe.sessionManager = findSessionManager(procRoot);
    return probe;
}

PortalProbe probePortal(const std::string& runtimeDir) {
    PortalProbe probe;
    const std::string address = sessionBusAddress(chosenRuntimeDir(runtimeDir));
    if (address.empty()) {
        probe.error = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return probe;
    }
    GError* failure = nullptr;
    // A socket that accepts but never answers would hold the handshake for the library's 25 s: a watch
    // gives up after kConnectMs.
    GCancellable* giveUp = g_cancellable_new();
    std::mutex lock;
    std::condition_variable wake;
    bool connected = false;
    std::thread watch([&] {
        std::unique_lock<std::mutex> held(lock);
        if (!wake.wait_for(held, std::chrono::milliseconds(kConnectMs), [&] { return connected; }))
            g_cancellable_cancel(giveUp);
    });
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, giveUp, &failure);
    {
        std::lock_guard<std::mutex> held(lock);
        connected = true;
    }
    wake.notify_one();
    watch.join();
    g_object_unref(giveUp);
    if (!bus) {
        probe.error = errorText(failure);
        return probe;
    }
    probe.sessionBus = true;
    if (GVariant* reply =
            callBus(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "NameHasOwner", g_variant_new("(s)", kPortalName), "(b)", 2000, &probe.error)) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        probe.running = owned;
        g_variant_unref(reply);
    }
    if (GVariant* reply =
            callBus(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "ListActivatableNames", nullptr, "(as)", 2000, &probe.error)) {
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        const gchar* name = nullptr;
        while (g_variant_iter_loop(names, "&s", &name))
            if (std::strcmp(name, kPortalName) == 0) probe.activatable = true;
        g_variant_iter_free(names);
        g_variant_unref(reply);
    }
    if (probe.running || probe.activatable) {
        // Asking an activatable portal starts it, as a browser asking for a camera would.
        if (GVariant* reply = callBus(bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Introspectable",
                                      "Introspect", nullptr, "(s)", 10000, &probe.error)) {
            const gchar* xml = nullptr;
            g_variant_get(reply, "(&s)", &xml);
            probe.camera = xml && std::strstr(xml, kCameraInterface) != nullptr;
            g_variant_unref(reply);
        }
    }
    g_object_unref(bus);
    return probe;
}

std::vector<std::string> parseCardLabels(const std::string& configText) {
    std::vector<std::string> labels;
    size_t lineStart = 0;
    while (lineStart < configText.size()) {
        size_t lineEnd = configText.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = configText.size();
        std::string line = configText.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        line = trimmed(line.substr(0, line.find('#')));
        // "options" <whitespace> "v4l2loopback" <whitespace> ...
        if (line.rfind("options", 0) != 0) continue;
        const std::string rest = trimmed(line.substr(7));
        if (rest.rfind("v4l2loopback", 0) != 0 || rest.size() == 12 ||
            !std::isspace(static_cast<unsigned char>(rest[12])))
            continue;
        size_t at = rest.find("card_label=");
        while (at != std::string::npos && at > 0 && !std::isspace(static_cast<unsigned char>(rest[at - 1])))
            at = rest.find("card_label=", at + 1);
        if (at == std::string::npos) continue;
        std::vector<std::string> found;
        size_t i = at + 11;
        while (i <= rest.size()) {
            std::string label;
            if (i < rest.size() && rest[i] == '"') {
                const size_t close = rest.find('"', i + 1);
                if (close == std::string::npos) {
                    label = rest.substr(i + 1);
                    i = rest.size();
                } else {
                    label = rest.substr(i + 1, close - i - 1);
                    i = close + 1;
                }
            } else {
                const size_t stop = std::min(rest.find(',', i), rest.find_first_of(" \t", i));
                label = rest.substr(i, stop == std::string::npos ? std::string::npos : stop - i);
                i = stop == std::string::npos ? rest.size() : stop;
            }
            found.push_back(label);
            if (i < rest.size() && rest[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        labels = found;
    }
    return labels;
}

LoopbackProbe probeLoopback(const CameraSetupRoots& roots) {
    LoopbackProbe probe;
    probe.version = loopbackModuleVersion(roots.sys);
    const std::string release = kernelRelease(roots.kernelRelease);
    if (!release.empty()) probe.moduleFile = findModuleFile(roots.modules + "/" + release);
    if (probe.moduleFile.empty() && roots.modules == CameraSetupRoots{}.modules)
        probe.moduleFile = moduleFileFromModinfo();
    for (const LoopbackNode& node : listLoopbackNodes(roots.sys))
        probe.devices.push_back({node, processesUsing(node.path, roots.proc)});

    std::vector<std::string> files = listFileNames(roots.modprobeConfig);
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
        if (name.size() < 5 || name.compare(name.size() - 5, 5, ".conf") != 0) continue;
        const std::string path = roots.modprobeConfig + "/" + name;
        std::vector<uint8_t> bytes;
        if (readRegularFile(path, kMaxConfigBytes, &bytes) != FileRead::Ok) continue;
        std::vector<std::string> labels = parseCardLabels(std::string(bytes.begin(), bytes.end()));
        if (labels.empty()) continue;
        probe.configuredLabels = labels;
        probe.configFile = path;
    }
    return probe;
}

CameraSetup probeCameraSetup(const CameraSetupRoots& roots) {
    CameraSetup setup;
    setup.pipewire = probePipeWire(roots.runtimeDir, roots.proc);
    setup.portal = probePortal(roots.runtimeDir);
    setup.loopback = probeLoopback(roots);
    return setup;
}

}  // namespace qm
