#!/usr/bin/python3
"""The PipeWire camera as applications see it, in a private session (bus, PipeWire, WirePlumber):

1. The companion alone, fed numbered frames through its section by this script: a YUY2 consumer and an
   I420-only consumer at once receive 1280 x 720 frames whose pixels are the conversion of what was sent,
   none torn (top and bottom halves from different frames) and none older than the one before.
2. The program headless on the sample: the engine rests until a consumer comes, an NV12 consumer then
   receives non-black frames, one of which is the engine's own frame (its dump) to within 1.5 levels; the
   companion is killed, started again by the program, relinked by the engine, and a new consumer gets frames.

    tests/vcam/pipewire_camera_test.py BIN_DIR SAMPLE

Exits 77 (skipped) with the reason when the session's tools are missing.
"""
import mmap
import os
import signal
import struct
import subprocess
import sys
import threading
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from camera_session import CameraSession, missing_tools  # noqa: E402

W, H = 1280, 720
FRAME_BYTES = W * H * 4
PIXELS_OFFSET = 4096
MAGIC = 0x514D4631
SKIP = 77
failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def luma(b, g, r):
    return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16


def grey_of(n):
    return 20 + 2 * (n % 100)


LUMA_OF_NUMBER = np.array([luma(grey_of(n), grey_of(n), grey_of(n)) for n in range(100)])


def draw_numbered_frame(pixels, n):
    pixels[:, :, :3] = grey_of(n)
    pixels[:, :, 3] = 255
    pixels[:, :64, :3] = (0, 0, 255)  # a red band (BGRA) for the colour check


class SectionWriter(threading.Thread):
    """Writes numbered frames into the companion's section the way the engine does."""

    def __init__(self, name):
        super().__init__(daemon=True)
        self.path = "/dev/shm/" + name.lstrip("/")
        self.stop = threading.Event()
        self.written = 0

    def run(self):
        deadline = time.time() + 10
        while time.time() < deadline and not self.stop.is_set():
            try:
                with open(self.path, "r+b") as f:
                    mm = mmap.mmap(f.fileno(), PIXELS_OFFSET + FRAME_BYTES)
                if struct.unpack_from("<I", mm, 0)[0] == MAGIC:
                    break
                mm.close()
            except (OSError, ValueError):
                pass
            time.sleep(0.05)
        else:
            return
        pixels = np.frombuffer(mm, np.uint8, FRAME_BYTES, PIXELS_OFFSET).reshape(H, W, 4)
        n = 0
        start = time.time()
        while not self.stop.is_set():
            sequence = struct.unpack_from("<I", mm, 12)[0]
            struct.pack_into("<I", mm, 12, sequence + 1)  # odd: a frame is being written
            draw_numbered_frame(pixels, n)
            struct.pack_into("<Q", mm, 16, int(time.time() * 1000))
            struct.pack_into("<I", mm, 12, sequence + 2)
            n += 1
            self.written = n
            time.sleep(max(0.0, start + n / 30 - time.time()))
        del pixels
        mm.close()


def consumer(session, pixel_format, frames, path):
    caps = f"video/x-raw,format={pixel_format},width={W},height={H}"
    return subprocess.Popen(["gst-launch-1.0", "-q", "pipewiresrc", f"num-buffers={frames}", "!", caps, "!",
                             "filesink", f"location={path}"], env=session.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def finish(process, timeout):
    try:
        _, error = process.communicate(timeout=timeout)
        return process.returncode, (error or b"").decode(errors="replace")
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        return None, "timed out"


def planes(path, pixel_format):
    """Yields (Y, U, V) per frame: Y full size, U and V as the format stores them."""
    size = W * H * 2 if pixel_format == "YUY2" else W * H * 3 // 2
    data = np.fromfile(path, np.uint8) if os.path.exists(path) else np.zeros(0, np.uint8)
    for k in range(len(data) // size):
        frame = data[k * size:(k + 1) * size]
        if pixel_format == "YUY2":
            packed = frame.reshape(H, W * 2)
            yield packed[:, 0::2], packed[:, 1::4], packed[:, 3::4]
        else:
            y = frame[:W * H].reshape(H, W)
            rest = frame[W * H:]
            if pixel_format == "I420":
                u = rest[:W * H // 4].reshape(H // 2, W // 2)
                v = rest[W * H // 4:].reshape(H // 2, W // 2)
            else:  # NV12
                pairs = rest.reshape(H // 2, W)
                u, v = pairs[:, 0::2], pairs[:, 1::2]
            yield y, u, v


def number_of(level):
    return int(np.argmin(np.abs(LUMA_OF_NUMBER - level)))


def check_numbered(path, pixel_format):
    torn = older = frames = 0
    colour_ok = True
    previous = None
    for y, u, v in planes(path, pixel_format):
        frames += 1
        top, bottom = float(np.median(y[100:300, 200:1200])), float(np.median(y[420:620, 200:1200]))
        if number_of(top) != number_of(bottom) or abs(top - LUMA_OF_NUMBER[number_of(top)]) > 1:
            torn += 1
        n = number_of(top)
        if previous is not None and (n - previous) % 100 >= 50:
            older += 1
        previous = n
        # The red band and the grey: BT.601 studio swing, chroma as the format subsamples it.
        band_u = float(np.median(u[u.shape[0] // 4:u.shape[0] * 3 // 4, 4:24]))
        band_v = float(np.median(v[v.shape[0] // 4:v.shape[0] * 3 // 4, 4:24]))
        grey_u, grey_v = float(np.median(u[:, 200:])), float(np.median(v[:, 200:]))
        band_y = float(np.median(y[100:600, 8:56]))
        if abs(band_y - 82) > 1 or abs(band_u - 90) > 2 or abs(band_v - 240) > 2 or \
                abs(grey_u - 128) > 1 or abs(grey_v - 128) > 1:
            colour_ok = False
    return frames, torn, older, colour_ok


def part_one(session, bin_dir, work):
    section = f"/quillmere-test-{os.getpid()}"
    companion = subprocess.Popen([os.path.join(bin_dir, "quillmere-vcam"), "--section", section], env=session.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    writer = SectionWriter(section)
    writer.start()
    try:
        check(session.wait_for_node("Quillmere"), "the companion offers a PipeWire node \"Quillmere\"")
        node = session.camera_node("Quillmere") or {}
        props = node.get("info", {}).get("props", {})
        check(props.get("media.role") == "Camera", "the node's media.role is Camera")
        deadline = time.time() + 10
        while writer.written == 0 and time.time() < deadline:
            time.sleep(0.05)
        # Two consumers at once share the node's format; then one that reads nothing but I420.
        first, second, third = (os.path.join(work, name) for name in ("a.yuy2", "b.yuy2", "c.i420"))
        runs = [("first", consumer(session, "YUY2", 60, first), first, "YUY2"),
                ("second", consumer(session, "YUY2", 60, second), second, "YUY2")]
        runs = [(name, finish(process, 30), path, pixel_format) for name, process, path, pixel_format in runs]
        runs.append(("I420-only", finish(consumer(session, "I420", 60, third), 30), third, "I420"))
        for name, (code, error), path, pixel_format in runs:
            check(code == 0, f"the {name} consumer ended normally ({error.strip()[:200]})")
            frames, torn, older, colour_ok = check_numbered(path, pixel_format)
            check(frames == 60, f"the {name} consumer received 60 frames of 1280 x 720 (got {frames})")
            check(torn == 0, f"no torn frame in the {name} consumer's frames (torn {torn})")
            check(older == 0, f"no frame older than the one before it ({older})")
            check(colour_ok, f"the {name} frames' pixels are the BT.601 conversion of what was sent")
            os.remove(path)
    finally:
        writer.stop.set()
        writer.join(5)
        companion.send_signal(signal.SIGTERM)
        _, error = finish(companion, 10)
    check(companion.returncode == 0, "the companion ends in order on SIGTERM")
    check(session.wait_for_node("Quillmere", present=False, timeout=10), "its node goes with it")
    print(error.strip())


def read_bmp_luma(path):
    from PIL import Image
    rgb = np.asarray(Image.open(path).convert("RGB")).astype(np.int32)
    return ((66 * rgb[:, :, 0] + 129 * rgb[:, :, 1] + 25 * rgb[:, :, 2] + 128) >> 8) + 16


def companion_of(program):
    try:
        with open(f"/proc/{program}/task/{program}/children") as f:
            children = [int(pid) for pid in f.read().split()]
    except OSError:
        return None
    for pid in children:
        try:
            with open(f"/proc/{pid}/comm") as f:
                if f.read().strip() == "quillmere-vcam":
                    return pid
        except OSError:
            pass
    return None


def wait_for_text(path, text, timeout, start=0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with open(path, errors="replace") as f:
                content = f.read()
            if content.find(text, start) >= 0:
                return True
        except OSError:
            pass
        time.sleep(0.2)
    return False


def part_two(session, bin_dir, sample, work):
    log = os.path.join(bin_dir, "Quillmere.log")
    before = os.path.getsize(log) if os.path.exists(log) else 0
    dump = os.path.join(work, "frame.bmp")
    program = subprocess.Popen([os.path.join(bin_dir, "quillmere"), "--headless", "--file", sample, "--frames",
                                "1200", "--dump-at", "150", "--dump", dump], env=session.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        check(session.wait_for_node("Quillmere"), "the program's companion offers the node")
        check(wait_for_text(log, "engine: nobody watches the camera, resting", 15, before),
              "the engine rests while nobody reads the camera")
        nv12 = os.path.join(work, "c.nv12")
        code, error = finish(consumer(session, "NV12", 150, nv12), 40)
        check(code == 0, f"the NV12 consumer ended normally ({error.strip()[:200]})")
        check(wait_for_text(log, "engine: the camera is watched, drawing again", 5, before),
              "the engine draws again once a consumer reads")
        lumas = [y.astype(np.int32) for y, _, _ in planes(nv12, "NV12")]
        check(len(lumas) == 150, f"the NV12 consumer received 150 frames (got {len(lumas)})")
        check(all(float(y.mean()) > 30 for y in lumas), "every frame it received has a picture (not black)")
        if os.path.exists(dump) and lumas:
            sent = read_bmp_luma(dump)
            best = min(float(np.abs(y - sent).mean()) for y in lumas)
            # The companion's 30 fps tick reads the newest frame: when two of the engine's frames land in
            # one tick, the first is never sent, and frame 150 may be one of those. It is then as close to
            # a received frame as neighbouring frames are to each other; a stale or foreign picture is not.
            steps = [float(np.abs(b - a).mean()) for a, b in zip(lumas, lumas[1:])]
            step = float(np.median([d for d in steps if d > 0.05] or [0.0]))
            check(best < 1.5 or best <= 1.5 * step,
                  f"one received frame is the engine's frame 150 or its neighbour (mean difference {best:.2f} "
                  f"levels; neighbouring frames differ by {step:.2f})")
        else:
            check(False, "the engine wrote its frame 150")
        os.remove(nv12)

        # The companion dies: the program starts another, the engine relinks, a new consumer gets frames.
        companion = companion_of(program.pid)
        check(companion is not None, "the program runs a companion")
        mark = os.path.getsize(log)
        if companion:
            os.kill(companion, signal.SIGKILL)
        check(wait_for_text(log, "camera removed, hr 0x8A5600FF", 10, mark), "the death is reported")
        check(wait_for_text(log, "camera started", 15, mark), "a new companion is started")
        check(session.wait_for_node("Quillmere"), "its node is offered again")
        check(wait_for_text(log, "engine: camera link up again", 10, mark), "the engine linked to it")
        after = os.path.join(work, "d.yuy2")
        code, error = finish(consumer(session, "YUY2", 30, after), 40)
        frames = [y for y, _, _ in planes(after, "YUY2")]
        check(code == 0 and len(frames) == 30 and all(float(y.mean()) > 30 for y in frames),
              f"a consumer of the new node receives pictures ({len(frames)} frames; {error.strip()[:200]})")
    finally:
        program.send_signal(signal.SIGTERM)
        code, _ = finish(program, 20)
    check(code == 0, f"the program ends in order on SIGTERM (exit {code})")
    with open(log, errors="replace") as f:
        f.seek(before)
        for line in f.read().splitlines():
            if "stats:" in line or "vcam" in line or "engine:" in line or "camera" in line:
                print("  log:", line)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    bin_dir, sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    missing = missing_tools()
    if missing:
        print("SKIPPED: the private camera session needs " + ", ".join(missing) + " (scripts/bootstrap installs them)")
        return SKIP
    with CameraSession() as session:
        work = session.folder
        part_one(session, bin_dir, work)
        part_two(session, bin_dir, sample, work)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
