// The camera set-up probes on prepared trees: a fake /sys, /proc, /lib/modules and modprobe.d, a runtime
// folder with a listening socket, a private session bus with a failing and then a working portal, and the
// modprobe.d parser on the shapes such files take.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "platform/camera_setup.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

void write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

int listenAt(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(CameraSetup, ProbesReadThePreparedTrees) {
    test::TempDir root;
    const std::string r = root.path();
    write(r + "/sys/module/v4l2loopback/version", "0.12.7\n");
    write(r + "/sys/devices/virtual/video4linux/video3/name", "OBS Virtual Camera\n");
    write(r + "/modules/6.1.0-test/updates/dkms/v4l2loopback.ko.xz", "");
    write(r + "/modprobe.d/alsa.conf", "options snd-hda-intel power_save=1\n");
    write(r + "/modprobe.d/obs.conf",
          "# OBS\noptions v4l2loopback exclusive_caps=1 card_label=\"OBS Cam\"\n");
    write(r + "/proc/4242/comm", "wireplumber\n");
    write(r + "/proc/self-not-a-pid/comm", "wireplumber\n");

    CameraSetupRoots roots{r + "/sys",        r + "/proc", r + "/modules",
                           r + "/modprobe.d", r + "/run",  "6.1.0-test"};
    std::filesystem::create_directories(roots.runtimeDir);
    const LoopbackProbe loopback = probeLoopback(roots);
    EXPECT_EQ(loopback.version, "0.12.7");
    EXPECT_EQ(loopback.moduleFile, r + "/modules/6.1.0-test/updates/dkms/v4l2loopback.ko.xz");
    ASSERT_EQ(loopback.devices.size(), 1u);
    EXPECT_EQ(loopback.devices[0].node.name, "OBS Virtual Camera");
    EXPECT_EQ(loopback.configuredLabels, std::vector<std::string>{"OBS Cam"});
    EXPECT_EQ(loopback.configFile, r + "/modprobe.d/obs.conf");

    unsetenv("PIPEWIRE_REMOTE");
    PipeWireProbe pipewire = probePipeWire(roots.runtimeDir, roots.proc);
    EXPECT_EQ(pipewire.socketPath, roots.runtimeDir + "/pipewire-0");
    EXPECT_FALSE(pipewire.reachable);
    EXPECT_EQ(pipewire.sessionManager, "wireplumber");

    // A stale socket file (no listener) is not a daemon; a listening one is.
    const int listener = listenAt(roots.runtimeDir + "/pipewire-0");
    ASSERT_GE(listener, 0);
    EXPECT_TRUE(probePipeWire(roots.runtimeDir, roots.proc).reachable);
    close(listener);
    EXPECT_FALSE(probePipeWire(roots.runtimeDir, roots.proc).reachable);

    // $PIPEWIRE_REMOTE names another socket, by name in the runtime folder or by path.
    setenv("PIPEWIRE_REMOTE", "pipewire-7", 1);
    EXPECT_EQ(probePipeWire(roots.runtimeDir, roots.proc).socketPath, roots.runtimeDir + "/pipewire-7");
    setenv("PIPEWIRE_REMOTE", "/elsewhere/pw", 1);
    EXPECT_EQ(probePipeWire(roots.runtimeDir, roots.proc).socketPath, "/elsewhere/pw");
    unsetenv("PIPEWIRE_REMOTE");

    // Nothing there at all: no module, no devices, no configuration, no session manager.
    CameraSetupRoots empty{r + "/none", r + "/none", r + "/none", r + "/none", r + "/none", "6.1.0-test"};
    const CameraSetup nothing = probeCameraSetup(empty);
    EXPECT_TRUE(nothing.loopback.version.empty() && nothing.loopback.moduleFile.empty());
    EXPECT_TRUE(nothing.loopback.devices.empty() && nothing.loopback.configuredLabels.empty());
    EXPECT_TRUE(nothing.pipewire.sessionManager.empty());
}

TEST(CameraSetup, PortalOnAPrivateBus) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    test::TempDir root;
    const std::string r = root.path();
    PortalProbe none = probePortal(r);
    EXPECT_FALSE(none.sessionBus);
    EXPECT_FALSE(none.error.empty());

    // A bus socket that accepts connections but never answers: the probe gives up within seconds.
    const int silent = listenAt(r + "/bus");
    ASSERT_GE(silent, 0);
    const auto start = std::chrono::steady_clock::now();
    PortalProbe hung = probePortal(r);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(hung.sessionBus);
    close(silent);
    unlink((r + "/bus").c_str());

    if (access("/usr/bin/dbus-daemon", X_OK) != 0) GTEST_SKIP() << "no dbus-daemon";
    // A bus whose only service is a portal that fails to start.
    write(r + "/services/portal.service",
          "[D-BUS Service]\nName=org.freedesktop.portal.Desktop\nExec=/bin/false\n");
    write(r + "/bus.conf",
          "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
          "<busconfig><type>session</type><listen>unix:path=" +
              r +
              "/bus</listen>"
              "<servicedir>" +
              r +
              "/services</servicedir>"
              "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/>"
              "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
    const pid_t daemon = fork();
    if (daemon == 0) {
        std::freopen("/dev/null", "w", stderr);  // its notes on activation are not the test's output
        execl("/usr/bin/dbus-daemon", "dbus-daemon", "--nofork", ("--config-file=" + r + "/bus.conf").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int waited = 0; waited < 5000 && !std::filesystem::exists(r + "/bus"); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const PortalProbe failing = probePortal(r);
    EXPECT_TRUE(failing.sessionBus) << failing.error;
    EXPECT_FALSE(failing.running);
    EXPECT_TRUE(failing.activatable);
    EXPECT_FALSE(failing.camera);
    EXPECT_FALSE(failing.error.empty()) << "why the portal did not answer";

    // A portal that offers the Camera interface, served from this process on a thread of its own.
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::promise<bool> owned;
    std::thread portal([&] {
        g_main_context_push_thread_default(context);
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            ("unix:path=" + r + "/bus").c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.freedesktop.portal.Camera'>"
            "<property name='version' type='u' access='read'/></interface></node>",
            nullptr);
        static const GDBusInterfaceVTable nothing = {};
        const guint object =
            bus ? g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop",
                                                    node->interfaces[0], &nothing, nullptr, nullptr, nullptr)
                : 0;
        GVariant* reply =
            bus ? g_dbus_connection_call_sync(
                      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr)
                : nullptr;
        owned.set_value(reply != nullptr);
        if (reply) g_variant_unref(reply);
        g_main_loop_run(loop);
        if (object) g_dbus_connection_unregister_object(bus, object);
        g_dbus_node_info_unref(node);
        if (bus) g_object_unref(bus);
        g_main_context_pop_thread_default(context);
    });
    const bool served = owned.get_future().get();
    const PortalProbe offered = probePortal(r);
    // The quit goes through the portal's context: a quit sent before its loop starts running would be lost
    // and leave the thread serving for ever.
    g_main_context_invoke(
        context,
        [](gpointer running) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(running));
            return G_SOURCE_REMOVE;
        },
        loop);
    portal.join();
    g_main_loop_unref(loop);
    g_main_context_unref(context);
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
    ASSERT_TRUE(served);
    EXPECT_TRUE(offered.running);
    EXPECT_TRUE(offered.camera) << offered.error;
}

TEST(CameraSetup, CardLabelsFromModprobeText) {
    struct Case {
        const char* text;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"options v4l2loopback devices=2 card_label=\"OBS Virtual Camera\",\"Quillmere\" "
         "exclusive_caps=1,1\n",
         {"OBS Virtual Camera", "Quillmere"}},
        {"options v4l2loopback card_label=Cam1,Cam2", {"Cam1", "Cam2"}},
        {"  options   v4l2loopback\tcard_label=\"A\" # comment card_label=B", {"A"}},
        {"# options v4l2loopback card_label=\"A\"\n", {}},
        {"options v4l2loopbackx card_label=\"A\"\noptions snd card_label=B\n", {}},
        {"options v4l2loopback devices=1\n", {}},
        {"options v4l2loopback my_card_label=\"A\"\n", {}},
        {"options v4l2loopback card_label=\"Unclosed, label", {"Unclosed, label"}},
        {"options v4l2loopback card_label=\"A\"\noptions v4l2loopback card_label=\"B\"\n", {"B"}},
        {"options v4l2loopback card_label=", {""}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseCardLabels(c.text), c.labels) << c.text;
}

}  // namespace
}  // namespace qm
