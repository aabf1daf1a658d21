// What this machine offers for serving a camera to other programs, found without changing anything: the
// user's PipeWire daemon and session manager, the desktop portal on the session bus, and v4l2loopback (the
// module, its devices and who holds them). Each probe takes the folders it reads as parameters, so tests
// point them at prepared trees. Called once by `quillmere --check-camera`; nothing here logs.
#pragma once

#include <string>
#include <vector>

#include "platform/loopback_nodes.h"

namespace qm {

// Where the probes look. Empty runtimeDir: $XDG_RUNTIME_DIR (no runtime folder when that is unset).
struct CameraSetupRoots {
    std::string sys = "/sys";
    std::string proc = "/proc";
    std::string modules = "/lib/modules";
    std::string modprobeConfig = "/etc/modprobe.d";
    std::string runtimeDir;
    std::string kernelRelease;  // empty: this kernel's (uname -r)
};

struct PipeWireProbe {
    std::string socketPath;  // the socket a client would connect to; empty when no runtime folder is known
    bool reachable = false;  // a connection to it was accepted
    std::string sessionManager;  // "wireplumber" or "pipewire-media-session" among this user's processes
};

struct PortalProbe {
    bool sessionBus = false;   // a session bus answered
    bool running = false;      // org.freedesktop.portal.Desktop has an owner
    bool activatable = false;  // the bus can start it on demand
    bool camera = false;       // it offers org.freedesktop.portal.Camera
    std::string error;         // why the bus or the portal could not be asked, in the library's words
};

struct LoopbackDevice {
    LoopbackNode node;
    std::vector<NodeUser> users;
};

struct LoopbackProbe {
    std::string version;     // loaded module's version; empty when not loaded
    std::string moduleFile;  // the installed module for this kernel; empty when none was found
    std::vector<LoopbackDevice> devices;
    std::vector<std::string> configuredLabels;  // card_label values in the modprobe.d files, in order
    std::string configFile;                     // the modprobe.d file that holds them
};

struct CameraSetup {
    PipeWireProbe pipewire;
    PortalProbe portal;
    LoopbackProbe loopback;
};

PipeWireProbe probePipeWire(const std::string& runtimeDir, const std::string& procRoot);
PortalProbe probePortal(const std::string& runtimeDir);
LoopbackProbe probeLoopback(const CameraSetupRoots& roots);
CameraSetup probeCameraSetup(const CameraSetupRoots& roots = {});

// The labels in a modprobe.d text's "options v4l2loopback ... card_label=..." line, quoted or bare, in
// order; the last such line wins. Empty when there is none.
std::vector<std::string> parseCardLabels(const std::string& configText);

}  // namespace qm
