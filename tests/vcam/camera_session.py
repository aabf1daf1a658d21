"""A private desktop session for camera tests: its own runtime folder, session bus, PipeWire daemon and
WirePlumber, so tests never touch the user's own and leave nothing behind.

    with CameraSession() as session:
        subprocess.run([...], env=session.env)
        session.wait_for_node("Quillmere")
"""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

NEEDED = ["dbus-daemon", "pipewire", "wireplumber", "pw-dump", "gst-launch-1.0"]


def missing_tools():
    return [tool for tool in NEEDED if shutil.which(tool) is None]


class CameraSession:
    def __init__(self, portal=False):
        self.portal = portal
        self.folder = tempfile.mkdtemp(prefix="quillmere-camera-")
        self.runtime = os.path.join(self.folder, "run")
        os.mkdir(self.runtime, 0o700)
        self.env = dict(os.environ)
        self.env.update({
            "XDG_RUNTIME_DIR": self.runtime,
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.runtime, "bus"),
            "PIPEWIRE_DEBUG": "1",
        })
        self.env.pop("PIPEWIRE_REMOTE", None)
        self.processes = []

    def start(self, name, command, ready, timeout=15):
        log = open(os.path.join(self.folder, name + ".log"), "wb")
        process = subprocess.Popen(command, env=self.env, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        self.processes.append(process)
        deadline = time.time() + timeout
        while not ready():
            if process.poll() is not None or time.time() > deadline:
                raise RuntimeError(f"{name} did not start; see {log.name}")
            time.sleep(0.1)
        return process

    def _start_portal(self):
        """The camera portal: it hands browsers a PipeWire connection that only sees cameras. Its
        implementation needs a display (Xvfb) and a desktop name; a program outside a sandbox is
        granted the camera in the permission store, as a desktop does once the user allows it."""
        display = ":%d" % (90 + os.getpid() % 400)
        self.start("xvfb", ["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                   lambda: os.path.exists("/tmp/.X11-unix/X" + display[1:]))
        self.env.update({"DISPLAY": display, "XDG_CURRENT_DESKTOP": "GNOME"})
        subprocess.run(["dbus-update-activation-environment", "DISPLAY", "XDG_CURRENT_DESKTOP",
                        "XDG_RUNTIME_DIR"], env=self.env, check=True, timeout=10)
        subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore",
                        "--object-path", "/org/freedesktop/impl/portal/PermissionStore", "--method",
                        "org.freedesktop.impl.portal.PermissionStore.SetPermission", "devices", "true", "camera",
                        "", "['yes']"], env=self.env, check=True, timeout=20, stdout=subprocess.DEVNULL)

    def __enter__(self):
        self.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--address=" + self.env["DBUS_SESSION_BUS_ADDRESS"]],
                   lambda: os.path.exists(os.path.join(self.runtime, "bus")))
        if self.portal:
            self._start_portal()
        self.start("pipewire", ["pipewire"], lambda: os.path.exists(os.path.join(self.runtime, "pipewire-0")))
        self.start("wireplumber", ["wireplumber"], lambda: self.client_named("WirePlumber"))
        return self

    def __exit__(self, *unused):
        for process in reversed(self.processes):
            try:
                os.killpg(process.pid, signal.SIGTERM)
                process.wait(timeout=5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if os.environ.get("QM_KEEP_SESSION"):
            print("session kept in", self.folder)
        else:
            shutil.rmtree(self.folder, ignore_errors=True)

    def objects(self):
        result = subprocess.run(["pw-dump"], env=self.env, capture_output=True, timeout=10)
        try:
            return json.loads(result.stdout or b"[]")
        except ValueError:
            return []

    def client_named(self, name):
        for item in self.objects():
            if item.get("type", "").endswith(":Client"):
                if (item.get("info", {}).get("props", {}).get("application.name") or "") == name:
                    return True
        return False

    def nodes(self):
        return [item for item in self.objects() if item.get("type", "").endswith(":Node")]

    def camera_node(self, description):
        for node in self.nodes():
            props = node.get("info", {}).get("props", {})
            if props.get("node.description") == description and props.get("media.class") == "Video/Source":
                return node
        return None

    def wait_for_node(self, description, present=True, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if (self.camera_node(description) is not None) == present:
                return True
            time.sleep(0.2)
        return False
