#!/usr/bin/python3
"""The program as a video call uses it: headless on the sample with every filter on, serving the camera
through PipeWire in a private session (the tests' own) to one NV12 consumer, for --seconds. Prints the
engine's statistics lines while watched, summed up (fps, per-frame stage means, processor share, memory),
and the companion's processor time per frame.

    tools/bench/camera_pipeline.py [--bin build/bin] [--seconds 40] [--plain]
"""
import argparse
import os
import re
import signal
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tests", "vcam"))
from camera_session import CameraSession, missing_tools  # noqa: E402
from pipewire_camera_test import wait_for_text  # noqa: E402

STATS = re.compile(r"stats: ([\d.]+) fps \| per frame: track ([\d.]+) ms, draw ([\d.]+) ms, readback\+send "
                   r"([\d.]+) ms, total ([\d.]+) ms \(worst ([\d.]+)\).*cpu (\d+)% of one core.*memory (\d+) MB")


def child_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"))
    parser.add_argument("--sample", default=os.path.join(REPO, "data", "sample.mp4"))
    parser.add_argument("--seconds", type=float, default=40)
    parser.add_argument("--plain", action="store_true")
    args = parser.parse_args()
    missing = missing_tools()
    if missing:
        print("needs " + ", ".join(missing) + " (scripts/bootstrap installs them)")
        return 1
    background = os.path.join(args.bin, "astronaut.png")
    filters = ["--plain"] if args.plain else [
        "--face", "morvel", "--hat", "cowboy", "--glasses", "aviator", "--beard", "full", "--look", "bold",
        "--bodyless", "--torso", "suit", "--visitor", "cat", "--background", background]
    log = os.path.join(args.bin, "Quillmere.log")
    with CameraSession() as session:
        env = dict(session.env)
        env["XDG_CONFIG_HOME"] = os.path.join(session.folder, "config")
        before = os.path.getsize(log) if os.path.exists(log) else 0
        program = subprocess.Popen([os.path.join(args.bin, "quillmere"), "--headless", "--file", args.sample]
                                   + filters, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not session.wait_for_node("Quillmere"):
                print("the companion offered no camera")
                return 1
            consumer = subprocess.Popen(["gst-launch-1.0", "-q", "pipewiresrc", "!", "video/x-raw,format=NV12", "!",
                                         "fakesink"], env=session.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
            wait_for_text(log, "engine: the camera is watched, drawing again", 15, before)
            watched = os.path.getsize(log)
            companion = int(subprocess.run(["pgrep", "-P", str(program.pid), "quillmere-vcam"],
                                           capture_output=True, text=True).stdout.split()[0])
            cpu0 = child_cpu_seconds(companion)
            started = time.monotonic()
            time.sleep(args.seconds)
            companion_ms = (child_cpu_seconds(companion) - cpu0) * 1000 / ((time.monotonic() - started) * 30)
            consumer.send_signal(signal.SIGINT)
            consumer.wait(timeout=10)
        finally:
            program.send_signal(signal.SIGTERM)
            program.wait(timeout=30)
        with open(log, errors="replace") as f:
            f.seek(watched)
            lines = [STATS.search(line) for line in f if "stats:" in line]
    lines = [m for m in lines[1:] if m]  # the first line mixes in the resting frames
    if not lines:
        print("no statistics lines while watched")
        return 1
    column = lambda i: [float(m.group(i)) for m in lines]  # noqa: E731
    print(f"{len(lines)} statistics lines ({len(lines) * 90} frames) while an NV12 consumer watched:")
    print(f"  fps: lowest {min(column(1)):.1f}, median {statistics.median(column(1)):.1f}")
    for name, i in (("track", 2), ("draw (mask included)", 3), ("readback+send", 4), ("total", 5)):
        print(f"  {name} per frame (each line's mean): median {statistics.median(column(i)):.2f} ms, "
              f"highest {max(column(i)):.2f} ms")
    print(f"  worst single frame: {max(column(6)):.1f} ms")
    print(f"  engine processor: median {statistics.median(column(7)):.0f} % of one core; "
          f"memory {min(column(8)):.0f}..{max(column(8)):.0f} MB")
    print(f"  companion processor per frame: {companion_ms:.2f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
