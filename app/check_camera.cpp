#include "app/check_camera.h"

#include <algorithm>

namespace qm {
namespace {

constexpr const char* kLabel = "Quillmere";
constexpr const char* kCompanion = "quillmere-vcam";
constexpr size_t kMaxLabelBytes = 31;
constexpr const char* kModprobeFile = "/etc/modprobe.d/quillmere.conf";
constexpr const char* kModulesLoadFile = "/etc/modules-load.d/quillmere.conf";

// Text from the system (labels, process names, paths) as it may be shown on a terminal: control bytes
// become '?', so a hostile name cannot move the cursor or hide a line.
std::string shown(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

// A label as the options line can carry it: no quotes, commas, backslashes or control bytes (they would
// end the value or the shell command early), trimmed, and cut to 31 bytes without splitting a character.
std::string safeLabel(const std::string& label) {
    std::string out;
    for (char c : label) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '"' || c == ',' || c == '\'' || c == '\\') continue;
        out += c;
    }
    const size_t first = out.find_first_not_of(' ');
    out =
        first == std::string::npos ? std::string() : out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() > kMaxLabelBytes) {
        size_t cut = kMaxLabelBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    return out;
}

// A path as one shell word, whatever it holds.
std::string shellWord(const std::string& text) {
    std::string out = "'";
    for (char c : shown(text))
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string who(const NodeUser& user) {
    return shown(user.command.empty() ? "a process" : user.command) + " (pid " + std::to_string(user.pid) +
           ")";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i ? ", " : "") + parts[i];
    return text;
}

enum class DeviceState { Free, Ours, Busy };

DeviceState stateOf(const LoopbackDevice& device) {
    DeviceState state = DeviceState::Free;
    for (const NodeUser& user : device.users) {
        if (!user.writes) continue;
        if (user.command != kCompanion) return DeviceState::Busy;
        state = DeviceState::Ours;
    }
    return state;
}

class Report {
public:
    void heading(const std::string& title) { text_ += (text_.empty() ? "" : "\n") + title + "\n"; }
    void good(const std::string& line) { text_ += "  ok  " + line + "\n"; }
    void bad(const std::string& line) { text_ += "  --  " + line + "\n"; }
    void note(const std::string& line) { text_ += "      " + line + "\n"; }
    void fix(const std::vector<std::string>& commands) {
        for (size_t i = 0; i < commands.size(); ++i)
            text_ += (i ? "           " : "      fix: ") + commands[i] + "\n";
    }
    std::string text_;
};

bool reportPipeWire(const PipeWireProbe& pipewire, Report& report) {
    report.heading("PipeWire (browsers, OBS and sandboxed apps see the camera through it)");
    const std::string where = pipewire.socketPath.empty() ? "(no runtime folder: XDG_RUNTIME_DIR is not set)"
                                                          : shown(pipewire.socketPath);
    if (pipewire.reachable)
        report.good("the PipeWire daemon answers at " + where);
    else
        report.bad("no PipeWire daemon answers at " + where);
    if (!pipewire.sessionManager.empty())
        report.good("session manager running: " + pipewire.sessionManager);
    else
        report.bad("no session manager (wireplumber or pipewire-media-session) runs for you");
    if (!pipewire.reachable || pipewire.sessionManager.empty())
        report.fix({"sudo apt install pipewire wireplumber",
                    "systemctl --user enable --now pipewire.socket wireplumber.service"});
    return pipewire.reachable;
}

void reportPortal(const PortalProbe& portal, Report& report) {
    report.heading("Desktop portal (how browsers find PipeWire cameras)");
    if (!portal.sessionBus) {
        report.bad("the session bus cannot be reached: " + shown(portal.error));
    } else if (!portal.running && !portal.activatable) {
        report.bad("xdg-desktop-portal is neither running nor installed on the session bus");
    } else if (portal.camera) {
        report.good(std::string("xdg-desktop-portal is ") + (portal.running ? "running" : "ready to start") +
                    " and offers the Camera portal");
    } else {
        report.bad(std::string("xdg-desktop-portal is ") + (portal.running ? "running" : "ready to start") +
                   " but offers no Camera portal" + (portal.error.empty() ? "" : ": " + shown(portal.error)));
    }
    if (!portal.sessionBus)
        report.fix({"sudo apt install dbus-user-session", "(then log out and in again)"});
    else if (!portal.camera)
        report.fix({"sudo apt install xdg-desktop-portal xdg-desktop-portal-gtk",
                    "(or your desktop's own backend: xdg-desktop-portal-gnome or xdg-desktop-portal-kde)"});
    report.note("Firefox: set media.webrtc.camera.allow-pipewire to true in about:config.");
    report.note("Chromium/Chrome: start with --enable-features=WebRtcPipeWireCamera, or enable");
    report.note("\"PipeWire Camera support\" in chrome://flags.");
}

// The commands that give v4l2loopback a "Quillmere" device beside the other programs' ones.
std::vector<std::string> loopbackFix(const LoopbackProbe& loopback, const std::string& examplesDir) {
    std::vector<std::string> commands;
    if (loopback.moduleFile.empty() && loopback.version.empty())
        commands.push_back("sudo apt install v4l2loopback-dkms");
    const std::vector<std::string> labels = loopbackLabels(loopback);
    const bool configured = std::find(loopback.configuredLabels.begin(), loopback.configuredLabels.end(),
                                      kLabel) != loopback.configuredLabels.end();
    // A configuration that names our device already only waits for the module to read it.
    if (!configured) {
        if (!loopback.configFile.empty() && loopback.configFile != kModprobeFile)
            commands.push_back("sudo sed -i 's/^[[:space:]]*options[[:space:]]\\+v4l2loopback/# &/' " +
                               shellWord(loopback.configFile) + "   # keeps it, as a comment");
        if (labels.size() == 1 && !examplesDir.empty())
            commands.push_back("sudo cp " + examplesDir + "modprobe.d/quillmere.conf " + kModprobeFile);
        else
            commands.push_back("echo '" + loopbackOptionsLine(labels) + "' | sudo tee " + kModprobeFile);
    }
    if (!examplesDir.empty())
        commands.push_back("sudo cp " + examplesDir + "modules-load.d/quillmere.conf " + kModulesLoadFile);
    else
        commands.push_back(std::string("echo v4l2loopback | sudo tee ") + kModulesLoadFile);
    if (loopback.version.empty())
        commands.push_back("sudo modprobe v4l2loopback");
    else
        commands.push_back("sudo modprobe -r v4l2loopback && sudo modprobe v4l2loopback");
    return commands;
}

bool reportLoopback(const LoopbackProbe& loopback, const std::string& examplesDir, Report& report) {
    report.heading("v4l2loopback (the camera device every other program lists)");
    if (!loopback.version.empty())
        report.good("module loaded, version " + shown(loopback.version));
    else if (!loopback.moduleFile.empty())
        report.bad("module installed (" + shown(loopback.moduleFile) + ") but not loaded");
    else
        report.bad("module not installed");

    bool usable = false;
    std::vector<std::string> others;
    std::vector<std::string> holders;  // everyone who must close a device before the module reloads
    for (const LoopbackDevice& device : loopback.devices) {
        const std::string name = shown(device.node.path) + " \"" + shown(device.node.name) + "\"";
        for (const NodeUser& user : device.users)
            holders.push_back(who(user));
        if (device.node.name != kLabel) {
            others.push_back(name);
            continue;
        }
        std::vector<std::string> writers, readers;
        for (const NodeUser& user : device.users)
            (user.writes ? writers : readers).push_back(who(user));
        const std::string reading = readers.empty() ? "" : "; read by " + joined(readers);
        switch (stateOf(device)) {
            case DeviceState::Ours:
                usable = true;
                report.good(name + " is fed by Quillmere (" + joined(writers) + ")" + reading);
                break;
            case DeviceState::Free:
                usable = true;
                report.good(name + " is free: Quillmere feeds it while it runs" + reading);
                break;
            case DeviceState::Busy:
                report.bad(name + " is busy: " + joined(writers) + " writes to it" + reading);
                report.note("close that program (or its virtual camera) and start Quillmere again.");
                break;
        }
    }
    if (!others.empty()) {
        report.note("other loopback devices (they belong to other programs): " + joined(others));
    }
    if (!loopback.version.empty() && loopback.devices.empty())
        report.note("the module is loaded but has no devices.");
    if (usable) return true;

    bool hasOurs = std::any_of(loopback.devices.begin(), loopback.devices.end(),
                               [](const LoopbackDevice& device) { return device.node.name == kLabel; });
    if (!hasOurs) {
        report.bad("no device labelled \"Quillmere\"");
        if (!loopback.version.empty() && !loopback.devices.empty())
            report.note(
                "another program loaded the module first, so \"modprobe v4l2loopback "
                "card_label=Quillmere\" changes nothing: give the module one device per label:");
        report.fix(loopbackFix(loopback, examplesDir));
        if (!loopback.version.empty())
            report.note("the module only unloads once every program has closed its devices" +
                        (holders.empty() ? std::string(".") : ": " + joined(holders) + "."));
    }
    return false;
}

}  // namespace

std::vector<std::string> loopbackLabels(const LoopbackProbe& loopback) {
    std::vector<std::string> kept;
    auto keep = [&](const std::string& raw) {
        const std::string label = safeLabel(raw);
        if (label.empty() || label == kLabel) return;
        if (std::find(kept.begin(), kept.end(), label) == kept.end()) kept.push_back(label);
    };
    if (!loopback.version.empty()) {
        for (const LoopbackDevice& device : loopback.devices)
            keep(device.node.name);
    }
    for (const std::string& label : loopback.configuredLabels)
        keep(label);
    kept.push_back(kLabel);
    return kept;
}

std::string loopbackOptionsLine(const std::vector<std::string>& labels) {
    std::string names, caps;
    for (size_t i = 0; i < labels.size(); ++i) {
        names += (i ? ",\"" : "\"") + labels[i] + "\"";
        caps += i ? ",1" : "1";
    }
    return "options v4l2loopback devices=" + std::to_string(labels.size()) + " card_label=" + names +
           " exclusive_caps=" + caps;
}

CameraCheck checkCamera(const CameraSetup& setup, const std::string& examplesDir) {
    Report report;
    report.text_ = "Quillmere camera check\n";
    const bool pipewire = reportPipeWire(setup.pipewire, report);
    reportPortal(setup.portal, report);
    const bool loopback = reportLoopback(setup.loopback, examplesDir, report);

    report.heading("Result");
    if (pipewire && loopback)
        report.note("applications can see the camera \"Quillmere\" through PipeWire and through " +
                    std::string("the loopback device."));
    else if (pipewire)
        report.note("applications can see the camera \"Quillmere\" through PipeWire.");
    else if (loopback)
        report.note("applications can see the camera \"Quillmere\" through the loopback device.");
    else
        report.note("no application can see the camera \"Quillmere\" yet: run the fix lines above.");
    return {report.text_, pipewire || loopback};
}

}  // namespace qm
