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
    def __init__(self):
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

    def __enter__(self):
        self.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--address=" + self.env["DBUS_SESSION_BUS_ADDRESS"]],
                   lambda: os.path.exists(os.path.join(self.runtime, "bus")))
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
