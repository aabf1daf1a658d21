// `quillmere --check-camera`: the report for telling machines (nothing at all, PipeWire only, a module
// loaded by another program, our device taken by another writer), the fix commands it prints, and the
// real program with a private runtime folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "app/check_camera.h"
#include "tests/source/test_videos.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

LoopbackDevice device(const std::string& path, const std::string& name, std::vector<NodeUser> users = {}) {
    return {{path, name}, std::move(users)};
}

const char* kPipeWireFix = "sudo apt install pipewire wireplumber";
const char* kPipeWireEnable = "systemctl --user enable --now pipewire.socket wireplumber.service";
const char* kReload = "sudo modprobe -r v4l2loopback && sudo modprobe v4l2loopback";

TEST(CheckCamera, NothingAtAllPrintsEveryFixAndFails) {
    CameraSetup setup;
    setup.pipewire.socketPath = "/run/user/1000/pipewire-0";
    setup.portal.error = "no session bus";
    const CameraCheck check = checkCamera(setup);
    EXPECT_FALSE(check.works);
    const std::string& r = check.report;
    EXPECT_TRUE(has(r, "no PipeWire daemon answers at /run/user/1000/pipewire-0")) << r;
    EXPECT_TRUE(has(r, kPipeWireFix) && has(r, kPipeWireEnable)) << r;
    EXPECT_TRUE(has(r, "sudo apt install dbus-user-session")) << "no bus, no portal: " << r;
    EXPECT_TRUE(has(r, "media.webrtc.camera.allow-pipewire") &&
                has(r, "--enable-features=WebRtcPipeWireCamera"));
    EXPECT_TRUE(has(r, "module not installed")) << r;
    EXPECT_TRUE(has(r, "sudo apt install v4l2loopback-dkms")) << r;
    EXPECT_TRUE(has(r,
                    "echo 'options v4l2loopback devices=1 card_label=\"Quillmere\" exclusive_caps=1' | sudo "
                    "tee /etc/modprobe.d/quillmere.conf"))
        << r;
    EXPECT_TRUE(has(r, "echo v4l2loopback | sudo tee /etc/modules-load.d/quillmere.conf")) << r;
    EXPECT_TRUE(has(r, "sudo modprobe v4l2loopback\n")) << r;
    EXPECT_FALSE(has(r, "modprobe -r")) << "nothing to unload";
    EXPECT_TRUE(has(r, "no application can see the camera")) << r;

    // The same machine with the samples installed: copy commands instead of echo lines.
    const std::string installed = checkCamera(setup, "/usr/share/doc/quillmere/examples/").report;
    EXPECT_TRUE(has(installed,
                    "sudo cp /usr/share/doc/quillmere/examples/modprobe.d/quillmere.conf "
                    "/etc/modprobe.d/quillmere.conf"))
        << installed;
    EXPECT_TRUE(has(installed,
                    "sudo cp /usr/share/doc/quillmere/examples/modules-load.d/quillmere.conf "
                    "/etc/modules-load.d/quillmere.conf"))
        << installed;
}

TEST(CheckCamera, PipeWireAloneIsEnough) {
    CameraSetup setup;
    setup.pipewire = {"/run/user/1000/pipewire-0", true, "wireplumber"};
    setup.portal = {true, false, true, true, ""};
    setup.loopback.moduleFile = "/lib/modules/6.1.0-18-amd64/updates/dkms/v4l2loopback.ko.xz";
    const CameraCheck check = checkCamera(setup);
    EXPECT_TRUE(check.works);
    const std::string& r = check.report;
    EXPECT_TRUE(has(r, "the PipeWire daemon answers") && has(r, "session manager running: wireplumber")) << r;
    EXPECT_FALSE(has(r, kPipeWireFix)) << r;
    EXPECT_TRUE(has(r, "ready to start and offers the Camera portal")) << r;
    EXPECT_FALSE(has(r, "apt install xdg-desktop-portal")) << r;
    EXPECT_TRUE(has(r,
                    "module installed (/lib/modules/6.1.0-18-amd64/updates/dkms/v4l2loopback.ko.xz) but not "
                    "loaded"))
        << r;
    EXPECT_FALSE(has(r, "v4l2loopback-dkms")) << "the module is installed";
    EXPECT_TRUE(has(r, "through PipeWire.")) << r;

    // A daemon without a session manager still serves, but the report asks for one.
    setup.pipewire.sessionManager.clear();
    const CameraCheck lonely = checkCamera(setup);
    EXPECT_TRUE(lonely.works);
    EXPECT_TRUE(has(lonely.report, kPipeWireEnable)) << lonely.report;

    // A bus without a portal asks for the portal.
    setup.portal = {true, false, false, false, ""};
    EXPECT_TRUE(has(checkCamera(setup).report, "sudo apt install xdg-desktop-portal"))
        << checkCamera(setup).report;
}

TEST(CheckCamera, ModuleLoadedByAnotherProgramKeepsItsLabel) {
    CameraSetup setup;
    setup.loopback.version = "0.12.7";
    setup.loopback.moduleFile = "/lib/modules/x/v4l2loopback.ko";
    setup.loopback.devices = {device("/dev/video9", "OBS Virtual Camera", {{311, "zoom", false}})};
    const CameraCheck check = checkCamera(setup);
    EXPECT_FALSE(check.works);
    const std::string& r = check.report;
    EXPECT_TRUE(has(r, "module loaded, version 0.12.7")) << r;
    EXPECT_TRUE(
        has(r, "other loopback devices (they belong to other programs): /dev/video9 \"OBS Virtual Camera\""))
        << r;
    EXPECT_TRUE(has(r, "no device labelled \"Quillmere\"")) << r;
    EXPECT_TRUE(has(r,
                    "echo 'options v4l2loopback devices=2 card_label=\"OBS Virtual Camera\",\"Quillmere\" "
                    "exclusive_caps=1,1' | sudo tee /etc/modprobe.d/quillmere.conf"))
        << r;
    EXPECT_TRUE(has(r, kReload)) << r;
    EXPECT_TRUE(has(r, "zoom (pid 311)")) << "the reader that must close first: " << r;
    EXPECT_FALSE(has(r, "v4l2loopback-dkms")) << r;

    // A modprobe.d file of the other program's: its line is kept as a comment and its labels carried over.
    setup.loopback.configFile = "/etc/modprobe.d/obs.conf";
    setup.loopback.configuredLabels = {"OBS Virtual Camera", "Spare"};
    const std::string configured = checkCamera(setup).report;
    EXPECT_TRUE(has(configured, "'/etc/modprobe.d/obs.conf'   # keeps it, as a comment")) << configured;
    EXPECT_TRUE(has(configured,
                    "devices=3 card_label=\"OBS Virtual Camera\",\"Spare\",\"Quillmere\" "
                    "exclusive_caps=1,1,1"))
        << configured;

    // Configured for us already (another program loaded the module before the file was written): reload.
    setup.loopback.configuredLabels.push_back("Quillmere");
    const std::string waiting = checkCamera(setup).report;
    EXPECT_FALSE(has(waiting, "sudo tee /etc/modprobe.d") || has(waiting, "sed -i")) << waiting;
    EXPECT_TRUE(has(waiting, kReload)) << waiting;
}

TEST(CheckCamera, OurDeviceIsUsableOnlyWhenNoOtherProgramWritesToIt) {
    CameraSetup setup;
    setup.loopback.version = "0.12.7";
    setup.loopback.devices = {
        device("/dev/video9", "OBS Virtual Camera"),
        device("/dev/video10", "Quillmere", {{77, "ffmpeg", true}, {80, "firefox", false}})};
    const CameraCheck busy = checkCamera(setup);
    EXPECT_FALSE(busy.works);
    EXPECT_TRUE(has(busy.report,
                    "/dev/video10 \"Quillmere\" is busy: ffmpeg (pid 77) writes to it; read by "
                    "firefox (pid 80)"))
        << busy.report;
    EXPECT_FALSE(has(busy.report, "sudo tee /etc/modprobe.d")) << "the device exists: no new configuration";

    setup.loopback.devices[1].users = {{77, "quillmere-vcam", true}, {80, "firefox", false}};
    const CameraCheck ours = checkCamera(setup);
    EXPECT_TRUE(ours.works);
    EXPECT_TRUE(has(ours.report, "is fed by Quillmere (quillmere-vcam (pid 77)); read by firefox (pid 80)"))
        << ours.report;
    EXPECT_TRUE(has(ours.report, "through the loopback device.")) << ours.report;

    setup.loopback.devices[1].users.clear();
    EXPECT_TRUE(checkCamera(setup).works);
}

TEST(CheckCamera, HostileLabelsCannotBreakTheOptionsLineOrTheTerminal) {
    LoopbackProbe loopback;
    loopback.version = "0.12.7";
    loopback.devices = {device("/dev/video1", "evil\"' ; rm -rf ~\n\x1b[2J"),
                        device("/dev/video2", "A very long camera name that goes on and on"),
                        device("/dev/video3",
                               "Kamera \xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC"
                               "\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC"),
                        device("/dev/video4", "OBS Virtual Camera"),
                        device("/dev/video5", "OBS Virtual Camera")};
    const std::vector<std::string> labels = loopbackLabels(loopback);
    ASSERT_EQ(labels.size(), 5u) << "repeats dropped, Quillmere last";
    EXPECT_EQ(labels.back(), "Quillmere");
    for (const std::string& label : labels) {
        EXPECT_LE(label.size(), 31u) << label;
        EXPECT_EQ(label.find_first_of("\"',\\\n\x1b"), std::string::npos) << label;
        EXPECT_NE(static_cast<unsigned char>(label.back()) & 0xC0, 0xC0)
            << "a character cut in half: " << label;
    }
    const std::string line = loopbackOptionsLine(labels);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_TRUE(has(line, "devices=5 ") && has(line, " exclusive_caps=1,1,1,1,1")) << line;

    CameraSetup setup;
    setup.loopback = loopback;
    const std::string report = checkCamera(setup).report;
    EXPECT_EQ(report.find('\x1b'), std::string::npos) << "no escape sequence reaches the terminal";
}

// The real program, with a private runtime folder and no session bus.
std::string runCheck(const std::string& runtimeDir, int* exitCode) {
    const std::string program =
        std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/quillmere";
    const std::string out =
        test::commandOutput("env -u PIPEWIRE_REMOTE -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR='" +
                            runtimeDir + "' '" + program + "' --check-camera; echo \"exit=$?\"");
    const size_t at = out.rfind("exit=");
    *exitCode = at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 5);
    return out.substr(0, at);
}

TEST(CheckCameraProgram, PrivateRuntimeFolderWithoutPipeWire) {
    for (const LoopbackNode& node : listLoopbackNodes())
        if (node.name == "Quillmere") GTEST_SKIP() << "this machine has a Quillmere device";
    test::TempDir runtime;
    const std::string logPath =
        std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/Quillmere.log";
    std::error_code missing;
    const auto logBefore = std::filesystem::file_size(logPath, missing);

    int exitCode = -1;
    const std::string report = runCheck(runtime.path(), &exitCode);
    EXPECT_EQ(exitCode, 1) << report;
    EXPECT_TRUE(has(report, "no PipeWire daemon answers at " + runtime.path() + "/pipewire-0")) << report;
    EXPECT_TRUE(has(report, kPipeWireEnable)) << report;
    EXPECT_TRUE(has(report, "the session bus cannot be reached")) << report;
    EXPECT_TRUE(has(report, "no application can see the camera")) << report;
    EXPECT_EQ(std::filesystem::file_size(logPath, missing), logBefore) << "the check writes no log";

    // A socket that accepts connections where PipeWire's would be: the camera path is there.
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = runtime.file("pipewire-0");
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    const std::string served = runCheck(runtime.path(), &exitCode);
    close(listener);
    EXPECT_EQ(exitCode, 0) << served;
    EXPECT_TRUE(has(served, "the PipeWire daemon answers at " + socketPath)) << served;
}

}  // namespace
}  // namespace qm
